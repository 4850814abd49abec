#include "odbc/ODBCDatabase.h"

#include <algorithm>

#include "core/Exception.h"
#include "core/Format.h"

namespace zo {

namespace {

constexpr char16_t kSSetEnvAttrFailed[] = u"Setting environment attr failed";
constexpr char16_t kSNoTransactions[] = u"Transactions are not supported by this ODBC driver.";
constexpr char16_t kSInvalidInputValues[] = u"Invalid input values";
constexpr char16_t kSInvalidLoginValues[] = u"Invalid input values (ServerName,UserName or Password).";

// The integrated-security connection attribute of the SQL Server drivers.
constexpr SQLINTEGER kSQLCoptSSIntegratedSecurity = 1203;
constexpr SQLLEN kSQLIsOff = 0;
constexpr SQLLEN kSQLIsOn = 1;

// Output buffer of a browse request, in characters.
constexpr SQLSMALLINT kBrowseBufferLength = 4000;

bool Succeeded(SQLRETURN RetCode) { return RetCode == SQL_SUCCESS || RetCode == SQL_SUCCESS_WITH_INFO; }

[[noreturn]] void RaiseODBCError(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLRETURN RetCode) {
  throw Exception(GetODBCErrorText(HandleType, Handle, RetCode));
}

SQLPOINTER AttrValue(SQLULEN Value) { return reinterpret_cast<SQLPOINTER>(Value); }

// The environment and connection handles of one browse request, freed on
// every way out.
class TBrowseHandles {
 public:
  TBrowseHandles() { FHandles.Allocate(); }

  SQLHDBC DBC() const { return FHandles.DBC(); }

  // Sends BrowseString; returns the driver's answer, or raises its error text.
  // The browse is ended with SQLDisconnect when the driver accepted it.
  String Browse(const String& BrowseString) {
    String input = BrowseString;
    std::vector<char16_t> output(kBrowseBufferLength + 1, u'\0');
    SQLSMALLINT outLength = 0;
    SQLRETURN rc = SQLBrowseConnectW(FHandles.DBC(), ToSQLW(input.data()), static_cast<SQLSMALLINT>(input.size()),
                                     ToSQLW(output.data()), kBrowseBufferLength, &outLength);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO && rc != SQL_NEED_DATA)
      RaiseODBCError(SQL_HANDLE_DBC, FHandles.DBC(), rc);
    FHandles.SetConnected();
    // A cut answer reports its full length; only what is in the buffer counts.
    std::size_t length = std::clamp<std::size_t>(outLength < 0 ? 0 : outLength, 0, kBrowseBufferLength - 1);
    return String(output.data(), length);
  }

 private:
  TODBCHandlePair FHandles;
};

}  // namespace

String GetODBCErrorText(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLRETURN RetCode) {
  if (RetCode != SQL_SUCCESS_WITH_INFO && RetCode != SQL_ERROR) return String();
  String result;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLWCHAR state[6] = {};
    SQLWCHAR message[255] = {};
    SQLINTEGER nativeError = 0;
    SQLSMALLINT textLength = 0;
    SQLRETURN rc = SQLGetDiagRecW(HandleType, Handle, record, state, &nativeError, message, 254, &textLength);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
    // Both buffers end with a NUL even when the driver cut the message.
    message[254] = 0;
    result += FromSQLW(state);
    result += u" : ";
    result += FromSQLW(message);
    result += u"\r\n";
    if (rc != SQL_SUCCESS) break;
  }
  return result;
}

// ---------------------------------------------------------------------------
// TODBCHandlePair

void TODBCHandlePair::Allocate() {
  Free();
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &FEnv);
  if (rc != SQL_SUCCESS) {
    const String text = GetODBCErrorText(SQL_HANDLE_ENV, FEnv, rc);
    Free();
    throw Exception(text);
  }
  rc = SQLSetEnvAttr(FEnv, SQL_ATTR_ODBC_VERSION, AttrValue(SQL_OV_ODBC3), 0);
  if (!Succeeded(rc)) {
    Free();
    throw Exception(kSSetEnvAttrFailed);
  }
  rc = SQLAllocHandle(SQL_HANDLE_DBC, FEnv, &FDBC);
  if (rc != SQL_SUCCESS) {
    const String text = GetODBCErrorText(SQL_HANDLE_DBC, FDBC, rc);
    Free();
    throw Exception(text);
  }
}

void TODBCHandlePair::Free() {
  if (FDBC) {
    if (FConnected) SQLDisconnect(FDBC);
    SQLFreeHandle(SQL_HANDLE_DBC, FDBC);
    FDBC = nullptr;
  }
  FConnected = false;
  if (FEnv) {
    SQLFreeHandle(SQL_HANDLE_ENV, FEnv);
    FEnv = nullptr;
  }
}

// ---------------------------------------------------------------------------
// TODBCDatabase

TODBCDatabase::TODBCDatabase(TComponent* AOwner) : TComponent(AOwner) {}

TODBCDatabase::~TODBCDatabase() {
  try {
    Disconnect();
  } catch (...) {
    // Destruction always completes.
  }
}

void TODBCDatabase::SetConnectionString(const String& Value) {
  if (FActive) Disconnect();
  FConnectionString = Value;
}

void TODBCDatabase::CheckResult(SQLRETURN RetCode) {
  if (Succeeded(RetCode)) return;
  RaiseODBCError(SQL_HANDLE_DBC, FHandles.DBC(), RetCode);
}

void TODBCDatabase::Connect() {
  if (FActive) return;
  try {
    FHandles.Allocate();
    const SQLHDBC dbc = FHandles.DBC();
    // Only settable before the connection exists.
    CheckResult(SQLSetConnectAttrW(dbc, SQL_ATTR_ODBC_CURSORS, AttrValue(FODBCCursor), SQL_IS_INTEGER));

    String input = FConnectionString;
    SQLWCHAR completed[1024] = {};
    SQLSMALLINT completedLength = 0;
    const SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, ToSQLW(input.data()), static_cast<SQLSMALLINT>(input.size()),
                                           completed, 1024, &completedLength, FDriverCompletion);
    if (!Succeeded(rc)) RaiseODBCError(SQL_HANDLE_DBC, dbc, rc);
    FHandles.SetConnected();

    FTXNCapable = 0;
    CheckResult(SQLGetInfoW(dbc, SQL_TXN_CAPABLE, &FTXNCapable, sizeof(FTXNCapable), nullptr));
    if (FTXNCapable != SQL_TC_NONE)
      CheckResult(SQLSetConnectAttrW(dbc, SQL_ATTR_TXN_ISOLATION, AttrValue(FIsolationLevel), SQL_IS_INTEGER));
    FActive = true;
  } catch (...) {
    FHandles.Free();
    throw;
  }
}

void TODBCDatabase::Disconnect() {
  if (!FActive) return;
  FActive = false;
  FHandles.Free();
}

void TODBCDatabase::CheckTransactionsSupported() const {
  if (FTXNCapable == SQL_TC_NONE) throw Exception(kSNoTransactions);
}

void TODBCDatabase::StartTransaction() {
  CheckTransactionsSupported();
  CheckResult(SQLSetConnectAttrW(DBCHandle(), SQL_ATTR_AUTOCOMMIT, AttrValue(SQL_AUTOCOMMIT_OFF), SQL_IS_INTEGER));
}

void TODBCDatabase::EndTransaction(SQLSMALLINT CompletionType) {
  CheckTransactionsSupported();
  CheckResult(SQLEndTran(SQL_HANDLE_DBC, DBCHandle(), CompletionType));
  CheckResult(SQLSetConnectAttrW(DBCHandle(), SQL_ATTR_AUTOCOMMIT, AttrValue(SQL_AUTOCOMMIT_ON), SQL_IS_INTEGER));
}

void TODBCDatabase::Commit() { EndTransaction(SQL_COMMIT); }
void TODBCDatabase::Rollback() { EndTransaction(SQL_ROLLBACK); }

// ---------------------------------------------------------------------------
// TODBCDriver

String TODBCDriver::ExtractBrowseValue(const String& Text, const String& Key) {
  const String keyText = Key + u":";
  const std::size_t keyPos = Text.find(keyText);
  if (keyPos == String::npos) throw Exception(kSInvalidInputValues);
  const std::size_t open = Text.find(u"={", keyPos + 1);
  if (open == String::npos) throw Exception(kSInvalidInputValues);
  const std::size_t close = Text.find(u'}', open);
  if (close == String::npos) throw Exception(kSInvalidInputValues);
  return Text.substr(open + 2, close - open - 2);
}

String TODBCDriver::GetServerNames(const String& DriverName) {
  TBrowseHandles handles;
  String answer = handles.Browse(Format(u"DRIVER=%s", {DriverName}));
  return ExtractBrowseValue(answer, u"SERVER");
}

String TODBCDriver::GetDatabaseNames(const String& DriverName, const String& ServerName, const String& UserName,
                                     const String& Password, bool TrustedConnection) {
  TBrowseHandles handles;
  // Drivers that do not know the attribute still browse, so its answer is not checked.
  SQLSetConnectAttrW(handles.DBC(), kSQLCoptSSIntegratedSecurity,
                     AttrValue(TrustedConnection ? kSQLIsOn : kSQLIsOff), SQL_IS_INTEGER);
  String answer = handles.Browse(
      Format(u"DRIVER=%s;Server=%s;UID=%s;PWD=%s", {DriverName, ServerName, UserName, Password}));
  try {
    return ExtractBrowseValue(answer, u"DATABASE");
  } catch (const std::exception&) {
    throw Exception(kSInvalidLoginValues);
  }
}

}  // namespace zo
