// A minimal ODBC driver for the tests, loaded by the driver manager like any
// other driver (DRIVER=<path of this library>). It answers what the server's
// driver cannot show: browsing, no transaction support, and errors with
// several (or over-long) diagnostic records.
//
// Connection string keys (case-insensitive):
//   TXN=n      SQL_TXN_CAPABLE answer (default 2)
//   FAIL=3     the connect fails with three records
//   FAIL=LONG  the connect fails with a 400-character record and a second one
//   EMPTY=1    the browse offers an empty server list
//   ISOFAIL=1  setting the isolation level after connecting fails
// The exported counters zo_test_driver_live_handles() and
// zo_test_driver_open_connections() let a test see that every handle was
// freed and every connection (or browse) ended.
// Browsing: without SERVER the server list; with SERVER=DOWN an error; with
// PWD=secret, or with integrated security on, the database list; any other
// login answers SQL_NEED_DATA without a database list.
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Diag {
  std::string state;
  std::string message;
};

struct DriverHandle {
  SQLSMALLINT type;
  std::vector<Diag> diags;
};

struct Env : DriverHandle {};

int liveHandles = 0;
int openConnections = 0;

struct Dbc : DriverHandle {
  bool refuseIsolation = false;
  SQLUINTEGER isolation = 0;
  SQLUINTEGER integratedSecurity = 0;
  SQLUINTEGER autocommit = SQL_AUTOCOMMIT_ON;
  SQLUSMALLINT txnCapable = SQL_TC_ALL;
  bool connected = false;
};

std::string Narrow(const SQLWCHAR* text, SQLINTEGER length) {
  std::string out;
  if (!text) return out;
  if (length == SQL_NTS) {
    for (; *text; ++text) out += static_cast<char>(*text);
  } else {
    for (SQLINTEGER i = 0; i < length; ++i) out += static_cast<char>(text[i]);
  }
  return out;
}

// Writes text into a wide buffer of BufferChars characters, cut with a NUL;
// true when it fitted.
bool WriteWide(const std::string& text, SQLWCHAR* buffer, SQLINTEGER bufferChars, SQLSMALLINT* length) {
  if (length) *length = static_cast<SQLSMALLINT>(text.size());
  if (!buffer || bufferChars <= 0) return text.empty();
  const std::size_t n = std::min<std::size_t>(text.size(), static_cast<std::size_t>(bufferChars - 1));
  for (std::size_t i = 0; i < n; ++i) buffer[i] = static_cast<SQLWCHAR>(static_cast<unsigned char>(text[i]));
  buffer[n] = 0;
  return n == text.size();
}

std::map<std::string, std::string> ParseAttributes(const std::string& text) {
  std::map<std::string, std::string> result;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find(';', pos);
    if (end == std::string::npos) end = text.size();
    const std::string part = text.substr(pos, end - pos);
    const std::size_t eq = part.find('=');
    if (eq != std::string::npos) {
      std::string key = part.substr(0, eq);
      std::transform(key.begin(), key.end(), key.begin(), [](unsigned char c) { return std::toupper(c); });
      result[key] = part.substr(eq + 1);
    }
    pos = end + 1;
  }
  return result;
}

std::string Get(const std::map<std::string, std::string>& attrs, const char* key) {
  auto it = attrs.find(key);
  return it == attrs.end() ? std::string() : it->second;
}

SQLRETURN Fail(DriverHandle* h, std::vector<Diag> diags) {
  h->diags = std::move(diags);
  return SQL_ERROR;
}

constexpr const char* kPrefix = "[zo test driver] ";

}  // namespace

extern "C" {

int zo_test_driver_live_handles() { return liveHandles; }
int zo_test_driver_open_connections() { return openConnections; }

SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT HandleType, SQLHANDLE, SQLHANDLE* OutputHandle) {
  switch (HandleType) {
    case SQL_HANDLE_ENV: *OutputHandle = new Env{{SQL_HANDLE_ENV, {}}}; ++liveHandles; return SQL_SUCCESS;
    case SQL_HANDLE_DBC: *OutputHandle = new Dbc{{SQL_HANDLE_DBC, {}}}; ++liveHandles; return SQL_SUCCESS;
    default: return SQL_ERROR;
  }
}

SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT HandleType, SQLHANDLE Handle) {
  if (HandleType == SQL_HANDLE_ENV) delete static_cast<Env*>(Handle);
  else if (HandleType == SQL_HANDLE_DBC) delete static_cast<Dbc*>(Handle);
  else return SQL_ERROR;
  --liveHandles;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER) { return SQL_SUCCESS; }

SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV, SQLINTEGER, SQLPOINTER Value, SQLINTEGER, SQLINTEGER*) {
  if (Value) *static_cast<SQLUINTEGER*>(Value) = SQL_OV_ODBC3;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value, SQLINTEGER) {
  auto* dbc = static_cast<Dbc*>(ConnectionHandle);
  const auto value = static_cast<SQLUINTEGER>(reinterpret_cast<SQLULEN>(Value));
  if (Attribute == SQL_ATTR_TXN_ISOLATION) {
    if (dbc->refuseIsolation) return Fail(dbc, {{"HY024", std::string(kPrefix) + "isolation level refused"}});
    dbc->isolation = value;
  } else if (Attribute == 1203) dbc->integratedSecurity = value;
  else if (Attribute == SQL_ATTR_AUTOCOMMIT) dbc->autocommit = value;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLSetConnectAttr(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                    SQLINTEGER Length) {
  return SQLSetConnectAttrW(ConnectionHandle, Attribute, Value, Length);
}

SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value, SQLINTEGER,
                                     SQLINTEGER*) {
  auto* dbc = static_cast<Dbc*>(ConnectionHandle);
  SQLULEN result = 0;
  if (Attribute == SQL_ATTR_TXN_ISOLATION) result = dbc->isolation;
  else if (Attribute == SQL_ATTR_AUTOCOMMIT) result = dbc->autocommit;
  if (Value) *static_cast<SQLULEN*>(Value) = result;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetConnectAttr(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                    SQLINTEGER Length, SQLINTEGER* StringLength) {
  return SQLGetConnectAttrW(ConnectionHandle, Attribute, Value, Length, StringLength);
}

SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC ConnectionHandle, SQLHWND, SQLWCHAR* InConnectionString,
                                    SQLSMALLINT StringLength1, SQLWCHAR* OutConnectionString, SQLSMALLINT BufferLength,
                                    SQLSMALLINT* StringLength2Ptr, SQLUSMALLINT) {
  auto* dbc = static_cast<Dbc*>(ConnectionHandle);
  dbc->diags.clear();
  const std::string in = Narrow(InConnectionString, StringLength1);
  const auto attrs = ParseAttributes(in);
  const std::string fail = Get(attrs, "FAIL");
  if (fail == "3")
    return Fail(dbc, {{"HY000", std::string(kPrefix) + "first record"},
                      {"HY000", std::string(kPrefix) + "second record"},
                      {"HY000", std::string(kPrefix) + "third record"}});
  if (fail == "LONG")
    return Fail(dbc, {{"42000", std::string(kPrefix) + std::string(400, 'x')},
                      {"42000", std::string(kPrefix) + "never read"}});
  const std::string txn = Get(attrs, "TXN");
  dbc->txnCapable = txn.empty() ? SQL_TC_ALL : static_cast<SQLUSMALLINT>(std::stoi(txn));
  dbc->refuseIsolation = Get(attrs, "ISOFAIL") == "1";
  dbc->connected = true;
  ++openConnections;
  WriteWide(in, OutConnectionString, BufferLength, StringLength2Ptr);
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLBrowseConnectW(SQLHDBC ConnectionHandle, SQLWCHAR* InConnectionString, SQLSMALLINT StringLength1,
                                    SQLWCHAR* OutConnectionString, SQLSMALLINT BufferLength,
                                    SQLSMALLINT* StringLength2Ptr) {
  auto* dbc = static_cast<Dbc*>(ConnectionHandle);
  dbc->diags.clear();
  const auto attrs = ParseAttributes(Narrow(InConnectionString, StringLength1));
  const std::string server = Get(attrs, "SERVER");
  std::string answer;
  if (server.empty()) {
    answer = Get(attrs, "EMPTY") == "1" ? "SERVER:Server={};UID:Login ID=?;PWD:Password=?"
                                        : "SERVER:Server={SRV1,SRV2\\SQLEXPRESS};UID:Login ID=?;PWD:Password=?";
  } else if (server == "DOWN") {
    return Fail(dbc, {{"08001", std::string(kPrefix) + "server DOWN does not answer"}});
  } else if (dbc->integratedSecurity == 1) {
    answer = "*DATABASE:Database={trusted_app};*LANGUAGE:Language={us_english}";
  } else if (Get(attrs, "PWD") == "secret") {
    answer = "*DATABASE:Database={master,model,app};*LANGUAGE:Language={us_english}";
  } else {
    answer = "UID:Login ID=?;PWD:Password=?";
  }
  WriteWide(answer, OutConnectionString, BufferLength, StringLength2Ptr);
  if (!dbc->connected) ++openConnections;  // a browse in progress, until SQLDisconnect
  dbc->connected = true;
  return SQL_NEED_DATA;
}

SQLRETURN SQL_API SQLDisconnect(SQLHDBC ConnectionHandle) {
  auto* dbc = static_cast<Dbc*>(ConnectionHandle);
  if (dbc->connected) --openConnections;
  dbc->connected = false;
  return SQL_SUCCESS;
}

SQLRETURN SQL_API SQLGetInfoW(SQLHDBC ConnectionHandle, SQLUSMALLINT InfoType, SQLPOINTER InfoValue,
                              SQLSMALLINT BufferLength, SQLSMALLINT* StringLength) {
  auto* dbc = static_cast<Dbc*>(ConnectionHandle);
  switch (InfoType) {
    case SQL_TXN_CAPABLE:
      if (InfoValue) *static_cast<SQLUSMALLINT*>(InfoValue) = dbc->txnCapable;
      if (StringLength) *StringLength = sizeof(SQLUSMALLINT);
      return SQL_SUCCESS;
    case SQL_DRIVER_ODBC_VER:
      WriteWide("03.00", static_cast<SQLWCHAR*>(InfoValue), BufferLength / 2, StringLength);
      if (StringLength) *StringLength *= 2;
      return SQL_SUCCESS;
    default:
      if (InfoValue && BufferLength >= 4) std::memset(InfoValue, 0, 4);
      if (StringLength) *StringLength = 0;
      return SQL_SUCCESS;
  }
}

SQLRETURN SQL_API SQLGetDiagRecW(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLSMALLINT RecNumber, SQLWCHAR* Sqlstate,
                                 SQLINTEGER* NativeError, SQLWCHAR* MessageText, SQLSMALLINT BufferLength,
                                 SQLSMALLINT* TextLength) {
  if (HandleType != SQL_HANDLE_ENV && HandleType != SQL_HANDLE_DBC) return SQL_NO_DATA;
  auto* h = static_cast<DriverHandle*>(Handle);
  if (RecNumber < 1 || static_cast<std::size_t>(RecNumber) > h->diags.size()) return SQL_NO_DATA;
  const Diag& d = h->diags[static_cast<std::size_t>(RecNumber - 1)];
  WriteWide(d.state, Sqlstate, 6, nullptr);
  if (NativeError) *NativeError = 4711;
  return WriteWide(d.message, MessageText, BufferLength, TextLength) ? SQL_SUCCESS : SQL_SUCCESS_WITH_INFO;
}

SQLRETURN SQL_API SQLGetDiagFieldW(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLSMALLINT RecNumber,
                                   SQLSMALLINT DiagIdentifier, SQLPOINTER DiagInfo, SQLSMALLINT, SQLSMALLINT*) {
  if (HandleType != SQL_HANDLE_ENV && HandleType != SQL_HANDLE_DBC) return SQL_NO_DATA;
  auto* h = static_cast<DriverHandle*>(Handle);
  if (RecNumber == 0 && DiagIdentifier == SQL_DIAG_NUMBER) {
    if (DiagInfo) *static_cast<SQLINTEGER*>(DiagInfo) = static_cast<SQLINTEGER>(h->diags.size());
    return SQL_SUCCESS;
  }
  if (RecNumber == 0 && DiagIdentifier == SQL_DIAG_RETURNCODE) {
    if (DiagInfo) *static_cast<SQLRETURN*>(DiagInfo) = h->diags.empty() ? SQL_SUCCESS : SQL_ERROR;
    return SQL_SUCCESS;
  }
  return SQL_NO_DATA;
}

SQLRETURN SQL_API SQLEndTran(SQLSMALLINT, SQLHANDLE, SQLSMALLINT) { return SQL_SUCCESS; }

}  // extern "C"
