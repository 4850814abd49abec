#include "data/ConnectionInfo.h"

#include <memory>

#include "core/Exception.h"
#include "core/Format.h"
#include "data/Queries.h"

namespace zo {

namespace {

constexpr char16_t kSFillNotSupported[] =
    u"Not supported function TConnectionInfo.FillConnectionInfo for SQLServerType (%d)";
constexpr char16_t kSStartAfterInternalRollback[] =
    u"Starting new transaction is not possible. Internal rollback was done before.";
constexpr char16_t kSIsolationInInnerTran[] =
    u"Isolation level change in inner transaction is not supported (Old = %s; New = %s).";
constexpr char16_t kSStartNotSupported[] =
    u"Not supported nested transactions in function TConnectionInfo.StartTran for SQLServerType (%s)";
constexpr char16_t kSCommitAfterInternalRollback[] =
    u"Commiting transaction is not possible. Internal rollback was done before.";
constexpr char16_t kSCommitNoTransaction[] = u"Commit transaction failed. There is no active transaction";
constexpr char16_t kSCommitNotSupported[] =
    u"Not supported nested transactions in function TConnectionInfo.CommitTran for SQLServerType (%s)";
constexpr char16_t kSRollbackNoTransaction[] = u"Rollback transaction failed. There is no active transaction";
constexpr char16_t kSRollbackNotSupported[] =
    u"Not supported nested transactions in function TConnectionInfo.RollbackTran for SQLServerType (%s)";
constexpr char16_t kSTranCountNotSupported[] = u"SQLServerType not supported in GetSQLTranCount";

// The transaction statements of one server kind; an empty text is not sent.
struct TTranTexts {
  const char16_t* Start;        // outermost StartTran
  const char16_t* Save;         // nested StartTran, %d = depth before it
  const char16_t* Commit;       // outermost CommitTran
  const char16_t* Rollback;     // outermost RollbackTran
  const char16_t* RollbackTo;   // nested RollbackTran, %d = depth - 1
};

const TTranTexts* TranTexts(TSQLServerType Kind) {
  static constexpr TTranTexts kSQLServer = {u"begin tran", u"save tran tr%d", u"commit tran",
                                            u"if (@@trancount > 0) rollback tran", u"rollback tran tr%d"};
  static constexpr TTranTexts kOracle = {u"", u"savepoint tr%d", u"commit", u"rollback",
                                         u"rollback to savepoint tr%d"};
  static constexpr TTranTexts kPostgreSQL = {u"begin transaction", u"savepoint tr%d", u"commit transaction",
                                             u"rollback transaction", u"rollback to savepoint tr%d"};
  switch (Kind) {
    case stSQLServer:
    case stSybase:
      return &kSQLServer;
    case stOracle:
      return &kOracle;
    case stPostgreSQL:
      return &kPostgreSQL;
    default:
      return nullptr;
  }
}

const TTranTexts& TranTextsOrFail(TSQLServerType Kind, const char16_t* Message) {
  const TTranTexts* texts = TranTexts(Kind);
  if (!texts) throw Exception(Message, {SQLServerTypeName(Kind)});
  return *texts;
}

// The part of a "server:port" text before its first ':' and the part after it.
void SplitServerAndPort(const String& AServerName, String& Server, String& Port) {
  const auto colon = AServerName.find(u':');
  Server = AServerName.substr(0, colon);
  Port = colon == String::npos ? String() : AServerName.substr(colon + 1);
}

}  // namespace

// Sets the state field directly for the duration of an internal server check
// and puts the old value back on every way out.
class TConnectionInfo::TranCountScope {
 public:
  explicit TranCountScope(TConnectionInfo& Connection) : FConnection(Connection), FOld(Connection.FState) {
    FConnection.FState = csTranCount;
  }
  ~TranCountScope() { FConnection.FState = FOld; }
  TranCountScope(const TranCountScope&) = delete;
  TranCountScope& operator=(const TranCountScope&) = delete;

 private:
  TConnectionInfo& FConnection;
  TConnectionState FOld;
};

namespace {

// Ends a transaction operation in the idle state, however it ends.
class IdleOnExit {
 public:
  IdleOnExit(TConnectionInfo& Connection, TConnectionState Running) : FConnection(Connection) {
    FConnection.SetState(Running);
  }
  ~IdleOnExit() { FConnection.SetState(csIdle); }
  IdleOnExit(const IdleOnExit&) = delete;
  IdleOnExit& operator=(const IdleOnExit&) = delete;

 private:
  TConnectionInfo& FConnection;
};

}  // namespace

TConnectionInfo::TConnectionInfo(TComponent* AOwner) : TODBCDatabase(AOwner) {}

void TConnectionInfo::FillConnectionInfo(TSQLServerType ASQLServerType, const String& AProviderName,
                                         const String& ASessionName, const String& AServerName,
                                         const String& ADatabaseName, const String& AUserName,
                                         const String& APassword, const String& AAppName,
                                         const String& ACompName, bool ATrustedConnection) {
  FSQLServerType = ASQLServerType;
  FSessionName = ASessionName;
  String text;
  switch (ASQLServerType) {
    case stSQLServer:
      text = Format(
          u"Driver={%s};Server=%s;UID=%s;PWD=%s;Trusted_Connection=%s;WSID=%s;APP=%s;Database=%s;"
          u"AutoTranslate=no;Regional=no;Language=English",
          {AProviderName, AServerName, AUserName, APassword, ATrustedConnection ? u"yes" : u"no", ACompName,
           AAppName, ADatabaseName});
      break;
    case stSybase:
      text = Format(u"DRIVER=%s;NA=%s;UID=%s;PWD=%s;WSID=%s;APP=%s;Database=%s;",
                    {AProviderName, AServerName, AUserName, APassword, ACompName, AAppName, ADatabaseName});
      break;
    case stOracle:
      text = Format(u"DRIVER={%s};UID=%s;PWD=%s;DBQ=%s_%s;MTS=T;NUM=US;LOB=F;",
                    {AProviderName, AUserName, APassword, ADatabaseName, AServerName});
      break;
    case stdBase:
      text = Format(
          u"DRIVER={%s};DBQ=%s;DriverID=533;DefaultDir=%s;Deleted=1;CollatingSequence=ASCII;Exclusive=0;",
          {AProviderName, ADatabaseName, ADatabaseName});
      break;
    case stPostgreSQL: {
      String server, port;
      SplitServerAndPort(AServerName, server, port);
      text = Format(
          u"Driver={%s};Server=%s;Port=%s;Uid=%s;Pwd=%s;Database=%s;MaxVarcharSize=2000;"
          u"MaxLongVarcharSize=2147483647;UpdateableCursors=0;UseDeclareFetch=1;TextAsLongvarchar=1;",
          {AProviderName, server, port, AUserName, APassword, ADatabaseName});
      break;
    }
    default:
      throw Exception(kSFillNotSupported, {static_cast<int>(ASQLServerType)});
  }
  SetConnectionString(text);
}

void TConnectionInfo::Open() {
  Connect();
  SetState(csIdle);
}

void TConnectionInfo::Close() {
  TODBCDatabase::Disconnect();
  ResetSession();
}

void TConnectionInfo::Disconnect() {
  const bool wasActive = Active();
  TODBCDatabase::Disconnect();
  if (wasActive) ResetSession();
}

void TConnectionInfo::ResetSession() {
  FTranCount = 0;
  FFullRollback = false;
  SetState(csInactive);
  FIsolationLevel = DefaultIsolationLevel;
}

void TConnectionInfo::SetState(TConnectionState Value) {
  if (FSQLServerType != stSQLServer) return;
  if (Value == FState) return;
  if (Value == csTranCount) return;
  if (FState == csTranCount && Value == csReading) return;
  if ((FState == csStartingTran || FState == csCommitingTran || FState == csRollbackingTran) && Value == csWriting)
    return;
  FState = Value;
}

void TConnectionInfo::StartTran(TNCIsolationLevel IsolationLevel) {
  if (FFullRollback) throw Exception(String(kSStartAfterInternalRollback));
  IdleOnExit idle(*this, csStartingTran);
  if (!IsolationLevel.FNull && IsolationLevel.FValue != FIsolationLevel) {
    if (FTranCount != 0)
      throw Exception(kSIsolationInInnerTran, {TCIsolationLevelHelper::ToDisplayString(FIsolationLevel),
                                               TCIsolationLevelHelper::ToDisplayString(IsolationLevel.FValue)});
    Execute(GetIsolationLevelText(IsolationLevel.FValue));
    FIsolationLevel = IsolationLevel.FValue;
  }
  const TTranTexts& texts = TranTextsOrFail(FSQLServerType, kSStartNotSupported);
  if (FTranCount <= 0) {
    if (*texts.Start) Execute(texts.Start);
  } else {
    Execute(Format(texts.Save, {FTranCount}));
  }
  ++FTranCount;
}

void TConnectionInfo::CommitTran(bool Whole) {
  if (FFullRollback) throw Exception(String(kSCommitAfterInternalRollback));
  IdleOnExit idle(*this, csCommitingTran);
  if (FTranCount < 1) throw Exception(String(kSCommitNoTransaction));
  if (Whole || FTranCount == 1) {
    Execute(TranTextsOrFail(FSQLServerType, kSCommitNotSupported).Commit);
    FTranCount = 0;
    RestoreDefaultIsolationLevel();
  } else {
    --FTranCount;
  }
}

void TConnectionInfo::RollbackTran(bool Whole) {
  IdleOnExit idle(*this, csRollbackingTran);
  if (FTranCount <= 0) throw Exception(String(kSRollbackNoTransaction));
  if (Whole || FTranCount == 1) {
    if (FFullRollback) {
      RollbackLeftoverTransaction();
    } else {
      const TTranTexts& texts = TranTextsOrFail(FSQLServerType, kSRollbackNotSupported);
      if (FSQLServerType != stPostgreSQL || InSQLTransaction()) Execute(texts.Rollback);
    }
    FTranCount = 0;
    RestoreDefaultIsolationLevel();
  } else {
    if (!FFullRollback)
      Execute(Format(TranTextsOrFail(FSQLServerType, kSRollbackNotSupported).RollbackTo, {FTranCount - 1}));
    --FTranCount;
  }
}

// The internal rollback assumes that the server has rolled the transaction
// back already, but the mark is also set when the server could not even be
// asked (the error hook's own check failed), and PostgreSQL's driver rolls
// back only the failed statement and keeps the transaction open. So the
// server is asked again, whatever its kind, and what is left is rolled back;
// when the question fails, or the kind has no such question, it is rolled
// back to be sure (every outermost rollback text is harmless without a
// transaction). The mark is cleared first, as the rollback statement would
// otherwise be refused, and set again if the rollback fails, so that nothing
// is committed after it.
void TConnectionInfo::RollbackLeftoverTransaction() {
  FFullRollback = false;
  try {
    bool open = true;
    if (FSQLServerType == stSQLServer || FSQLServerType == stPostgreSQL) {
      try {
        open = InSQLTransaction();
      } catch (const Exception&) {
        // The failed check has marked the internal rollback again.
        FFullRollback = false;
      }
    }
    if (open) Execute(TranTextsOrFail(FSQLServerType, kSRollbackNotSupported).Rollback);
  } catch (...) {
    FFullRollback = true;
    throw;
  }
}

void TConnectionInfo::RestoreDefaultIsolationLevel() {
  if (FIsolationLevel == DefaultIsolationLevel) return;
  Execute(GetIsolationLevelText(DefaultIsolationLevel));
  FIsolationLevel = DefaultIsolationLevel;
}

void TConnectionInfo::Execute(const String& SQLText) {
  auto query = std::make_unique<TExWriteQuery>();
  query->FillConnectionProps(this);
  query->SetSQLText(SQLText);
  query->ExecSQL(false);
}

std::int32_t TConnectionInfo::GetSQLTranCount() {
  if (FSQLServerType != stSQLServer) throw Exception(String(kSTranCountNotSupported));
  auto query = std::make_unique<TExReadQuery>();
  query->FillConnectionProps(this);
  query->SetSQLText(u"select @@trancount", nullptr, false, true);
  TranCountScope scope(*this);
  query->Open();
  const std::int32_t count = query->IntegerValue(0, 0);
  query->Close();
  return count;
}

bool TConnectionInfo::InSQLTransaction() {
  switch (FSQLServerType) {
    case stSQLServer:
      return GetSQLTranCount() > 0;
    case stPostgreSQL: {
      // Inside a transaction the server keeps one transaction number; outside,
      // every statement gets a new one.
      auto query = std::make_unique<TExReadQuery>();
      query->FillConnectionProps(this);
      query->SetSQLText(u"select txid_current();", nullptr, false, true);
      TranCountScope scope(*this);
      std::int64_t ids[2] = {0, 0};
      for (std::int64_t& id : ids) {
        query->Open();
        id = query->BigintValue(0, 0);
        query->Close();
      }
      return ids[0] == ids[1];
    }
    default:
      return false;
  }
}

}  // namespace zo
