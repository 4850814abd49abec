#include "data/Queries.h"

#include <vector>

#include "core/Exception.h"
#include "core/Format.h"
#include "core/StringUtils.h"

namespace zo {

namespace {

constexpr char16_t kSParamTypeNotSupported[] = u"Not supported ParamType (%s) was found.";
constexpr char16_t kSCursorNotSupported[] =
    u"Not supported function TExReadQuery.SetCursorProps for SQLServerType (%d)";
constexpr char16_t kSNoFieldsList[] = u"Not supported function StringFieldValue for empty DBFieldsList";
constexpr char16_t kSNoConnection[] = u"There is no database object connected to ODBCStatement";
constexpr char16_t kSExecAfterInternalRollback[] =
    u"Executing query is not possible. Internal rollback was done before.";

// Puts the connection's state back on every way out of a read or write.
class RestoreStateOnExit {
 public:
  RestoreStateOnExit(TConnectionInfo* Connection, TConnectionState State) : FConnection(Connection), FState(State) {}
  ~RestoreStateOnExit() {
    if (FConnection) FConnection->SetState(FState);
  }
  RestoreStateOnExit(const RestoreStateOnExit&) = delete;
  RestoreStateOnExit& operator=(const RestoreStateOnExit&) = delete;

 private:
  TConnectionInfo* FConnection;
  TConnectionState FState;
};

// The characters of Text from position From to position To, both counted
// from 1 and inclusive; empty when To < From.
String Chars(const String& Text, int From, int To) {
  if (To < From) return String();
  return Text.substr(static_cast<std::size_t>(From - 1), static_cast<std::size_t>(To - From + 1));
}

String CharsToEnd(const String& Text, int From) {
  return Chars(Text, From, static_cast<int>(Text.size()));
}

bool IsQuotedParamType(SQLSMALLINT DataType) {
  return DataType == SQL_CHAR || DataType == SQL_WCHAR || DataType == SQL_WLONGVARCHAR ||
         DataType == SQL_LONGVARCHAR || DataType == SQL_TYPE_TIMESTAMP;
}

// Splits a SQL text into lines in front of its main keywords. P is where the
// current line's keyword starts; B is how far the line reaches back before
// it ("left outer " in front of "join").
class LineBreaker {
 public:
  explicit LineBreaker(const String& Text) : FText(Text) {}

  void SplitAt(StringView Keyword) {
    int found = 0;
    if (!FindTextFrom(Keyword, FText, FP + 1, found)) return;
    FLines.push_back(Chars(FText, FP - FB, found - 1));
    FP = found;
    FB = 0;
  }

  // Every "join"; an "outer join" moves to the next line with the word before
  // "outer" ("left outer join"), any other join only with "join" itself.
  void SplitAtJoins() {
    int found = 0;
    while (FindTextFrom(u"join", FText, FP + 1, found)) {
      const int back = found >= 7 && Chars(FText, found - 6, found - 2) == u"outer" ? OuterJoinReach(found) : 0;
      FLines.push_back(Chars(FText, FP - FB, found - back - 1));
      FP = found;
      FB = back;
    }
  }

  // How far before "join" at Join its line starts: at the word in front of
  // "outer" ("left ", "right ", "full "), never before the current line.
  int OuterJoinReach(int Join) const {
    const int lineStart = FP - FB;
    int start = Join - 6;  // the "o" of "outer"
    while (start - 1 > lineStart && FText[static_cast<std::size_t>(start - 2)] == u' ') --start;
    while (start - 1 > lineStart && FText[static_cast<std::size_t>(start - 2)] != u' ') --start;
    return Join - start;
  }

  std::vector<String> Finish() {
    FLines.push_back(CharsToEnd(FText, FP - FB));
    return std::move(FLines);
  }

 private:
  const String& FText;
  int FP = 1;
  int FB = 0;
  std::vector<String> FLines;
};

}  // namespace

SQLSMALLINT FieldTypeToParamType(ToDataType DataType) {
  switch (DataType) {
    case odtTinyint:
      return SQL_TINYINT;
    case odtSmallint:
      return SQL_SMALLINT;
    case odtInteger:
      return SQL_INTEGER;
    case odtBigint:
      return SQL_BIGINT;
    case odtFloat:
      return SQL_DOUBLE;
    case odtDateTime:
      return SQL_TYPE_TIMESTAMP;
    case odtNVarchar:
      return SQL_WCHAR;
    case odtNClob:
      return SQL_WLONGVARCHAR;
    case odtBlob:
      return SQL_LONGVARBINARY;
    default:
      throw Exception(kSParamTypeNotSupported, {DataTypeName(DataType)});
  }
}

// ---------------------------------------------------------------------------
// TExQuery

TExQuery::TExQuery(TComponent* AOwner) : TODBCStatement(AOwner) {}

void TExQuery::FillConnectionProps(TConnectionInfo* ConnectionInfo) { SetDatabase(ConnectionInfo); }

TConnectionInfo* TExQuery::ConnectionInfo() const { return dynamic_cast<TConnectionInfo*>(Database()); }

TConnectionInfo* TExQuery::RequireConnectionInfo() const {
  TConnectionInfo* connection = ConnectionInfo();
  if (!connection) throw Exception(String(kSNoConnection));
  return connection;
}

void TExQuery::FillParam(int Index, ToDataType DataType, const String& Value) {
  const SQLSMALLINT paramType = FieldTypeToParamType(DataType);
  if (Index < Params()->Count()) {
    TODBCParam* param = Params()->GetParam(Index);
    param->SetDataType(paramType);
    param->SetValue(Value);
  } else {
    Params()->CreateParam(paramType, Value);
  }
}

void TExQuery::FillParam(int Index, ToDataType DataType, const void* Value, std::int32_t ValueSize) {
  const SQLSMALLINT paramType = FieldTypeToParamType(DataType);
  if (Index < Params()->Count()) {
    TODBCParam* param = Params()->GetParam(Index);
    param->SetDataType(paramType);
    param->SetValue(Value, ValueSize);
  } else {
    Params()->CreateParam(paramType, Value, ValueSize);
  }
}

void TExQuery::SetCursorProps(bool WithBlobs, bool ASmallBuffer) {
  const TSQLServerType kind = ConnectionInfo() ? ConnectionInfo()->SQLServerType() : stUnknown;
  switch (kind) {
    case stSQLServer:
    case stOracle:
    case stPostgreSQL:
      SetCursorType(WithBlobs && !ASmallBuffer ? SQL_CURSOR_STATIC : SQL_CURSOR_FORWARD_ONLY);
      SetBufferCount(ASmallBuffer ? 1 : 30);
      break;
    case stSybase:
    case stdBase:
      SetCursorType(SQL_CURSOR_FORWARD_ONLY);
      SetBufferCount(ASmallBuffer || WithBlobs ? 1 : 30);
      break;
    default:
      throw Exception(kSCursorNotSupported, {static_cast<int>(kind)});
  }
}

void TExQuery::DoError() {
  TConnectionInfo* connection = ConnectionInfo();
  if (!connection || connection->TranCount() <= 0) return;
  const TSQLServerType kind = connection->SQLServerType();
  if (kind != stSQLServer && kind != stPostgreSQL) return;
  const TConnectionState state = connection->State();
  if (state >= csReading && state <= csRollbackingTran) {
    bool open = false;
    try {
      open = connection->InSQLTransaction();
    } catch (const std::exception&) {
      open = false;  // cannot tell: treat the transaction as lost
    }
    if (!open) connection->FFullRollback = true;
  } else {
    connection->FFullRollback = true;
  }
}

// ---------------------------------------------------------------------------
// TExReadQuery

TExReadQuery::TExReadQuery(TComponent* AOwner) : TExQuery(AOwner) {}

TExReadQuery::~TExReadQuery() {
  try {
    Close();
  } catch (const std::exception&) {
    // Freeing must complete; the statement's own destructor frees the handle.
  }
}

void TExReadQuery::FillConnectionProps(TConnectionInfo* ConnectionInfo) {
  Close();
  TExQuery::FillConnectionProps(ConnectionInfo);
}

void TExReadQuery::SetSQLText(const String& SQLText, TDBFieldsList* ADBFieldsList, bool WithBlobs,
                              bool ASmallBuffer) {
  Close();
  SetCommandText(SQLText);
  FDBFieldsList = ADBFieldsList;
  SetCursorProps(WithBlobs, ASmallBuffer);
}

void TExReadQuery::Open() { OpenInState(csReading); }

void TExReadQuery::OpenSP() { OpenInState(csWriting); }

void TExReadQuery::OpenInState(TConnectionState State) {
  TConnectionInfo* connection = RequireConnectionInfo();
  FTempState = connection->State();
  connection->SetState(State);
  try {
    TODBCStatement::Open();
  } catch (...) {
    connection->SetState(FTempState);
    throw;
  }
}

void TExReadQuery::Close() {
  if (!StmtState().Contains(ossOpened)) return;
  RestoreStateOnExit restore(ConnectionInfo(), FTempState);
  TODBCStatement::Close();
}

String TExReadQuery::StringValue(int Index, ToDataType DataType) const {
  if (IsNullValue(Index)) return String();
  switch (DataType) {
    case odtTinyint:
      // BitValue refuses the types that hold no number; the text is the
      // number's low byte, 0 to 255.
      (void)BitValue(Index);
      return IntToStr(BigintValue(Index, 0) & 0xFF);
    case odtSmallint:
      return IntToStr(SmallintValue(Index, 0));
    case odtInteger:
      return IntToStr(IntegerValue(Index, 0));
    case odtBigint:
      return IntToStr(BigintValue(Index, 0));
    case odtFloat:
      return FloatToPlainText(FloatValue(Index));
    case odtDateTime:
      return DateTimeToText(DatetimeValue(Index, 0), true);
    case odtNVarchar:
    case odtNClob:
    case odtBlob:
      return TODBCStatement::StringValue(Index);
    default:
      return String();
  }
}

String TExReadQuery::StringValue(int Index, bool Check) const {
  if (!Check) return TODBCStatement::StringValue(Index);
  if (!FDBFieldsList) throw Exception(String(kSNoFieldsList));
  return StringValue(Index, FDBFieldsList->Get(Index)->FieldType);
}

String TExReadQuery::StringValue(const String& Name, bool /*Check*/) const {
  return TODBCStatement::StringValue(Name);
}

String TExReadQuery::GetSQLText() const {
  const String& text = CommandText();
  LineBreaker breaker(text);
  switch (text.empty() ? u'\0' : text[0]) {
    case u's':
      breaker.SplitAt(u"from");
      breaker.SplitAtJoins();
      breaker.SplitAt(u"where");
      breaker.SplitAt(u"group");
      breaker.SplitAt(u"having");
      breaker.SplitAt(u"order");
      break;
    case u'i':
      breaker.SplitAt(u"values");
      break;
    case u'u':
      breaker.SplitAt(u"from");
      breaker.SplitAt(u"where");
      break;
    case u'd':
      breaker.SplitAt(u"where");
      break;
    default:
      break;
  }
  const String laidOut = JoinList(breaker.Finish(), u"\r\n");

  String result;
  int p = 0;
  int found = 0;
  int n = 0;
  while (FindCharFrom(u'?', laidOut, p + 1, found)) {
    result += Chars(laidOut, p + 1, found - 1);
    const TODBCParam* param = Params()->GetParam(n++);
    const String value = param->GetValue();
    if (value.empty())
      result += u"null";
    else if (IsQuotedParamType(param->DataType()))
      result += u"'" + value + u"'";
    else
      result += value;
    p = found;
  }
  result += CharsToEnd(laidOut, p + 1);
  return result;
}

// ---------------------------------------------------------------------------
// TExWriteQuery

TExWriteQuery::TExWriteQuery(TComponent* AOwner) : TExQuery(AOwner) {}

void TExWriteQuery::ExecSQL(bool Batch) {
  TConnectionInfo* connection = RequireConnectionInfo();
  if (connection->FullRollback() && connection->State() != csRollbackingTran)
    throw Exception(String(kSExecAfterInternalRollback));
  RestoreStateOnExit restore(connection, connection->State());
  connection->SetState(csWriting);
  Execute(Batch);
}

}  // namespace zo
