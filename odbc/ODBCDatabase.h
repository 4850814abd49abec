// The connection side of the ODBC binding: one environment and one connection
// handle per TODBCDatabase, browsing of servers and databases through a
// driver (TODBCDriver), and the text every ODBC failure carries
// (GetODBCErrorText).
//
// All calls are the wide-character variants of the ODBC 3 API; SQLWCHAR is a
// 16-bit unit here, the same unit as zo::String.
#pragma once

#include "odbc/ODBCHeaders.h"

#include <cstdint>

#include "core/String.h"
#include "odbc/Component.h"

namespace zo {

// The diagnostic records of Handle, one line per record in record order:
// SQLSTATE, " : ", the message, CR LF. Empty unless RetCode is
// SQL_SUCCESS_WITH_INFO or SQL_ERROR.
String GetODBCErrorText(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLRETURN RetCode);

// SQLWCHAR and char16_t are both 16-bit units; these only change the pointer type.
inline SQLWCHAR* ToSQLW(char16_t* Text) { return reinterpret_cast<SQLWCHAR*>(Text); }
inline SQLWCHAR* ToSQLW(const char16_t* Text) { return reinterpret_cast<SQLWCHAR*>(const_cast<char16_t*>(Text)); }
inline const char16_t* FromSQLW(const SQLWCHAR* Text) { return reinterpret_cast<const char16_t*>(Text); }

class TODBCStatement;

// An ODBC 3 environment and one connection handle on it: allocated together,
// freed together, the connection ended first when it was opened.
class TODBCHandlePair {
 public:
  TODBCHandlePair() = default;
  ~TODBCHandlePair() { Free(); }
  TODBCHandlePair(const TODBCHandlePair&) = delete;
  TODBCHandlePair& operator=(const TODBCHandlePair&) = delete;

  // Allocates both handles; on failure raises the driver manager's error
  // text ("Setting environment attr failed" when ODBC 3 is refused) with
  // neither left allocated.
  void Allocate();
  // The connection is open (or browsing): Free ends it first.
  void SetConnected() { FConnected = true; }
  // Ends the connection when open and frees both handles; nothing when none.
  void Free();

  SQLHENV Env() const { return FEnv; }
  SQLHDBC DBC() const { return FDBC; }

 private:
  SQLHENV FEnv = nullptr;
  SQLHDBC FDBC = nullptr;
  bool FConnected = false;
};

class TODBCDatabase : public TComponent {
 public:
  explicit TODBCDatabase(TComponent* AOwner = nullptr);
  // Disconnects if active; an error of the disconnect is swallowed.
  ~TODBCDatabase() override;

  // Opens the connection; nothing when already active. A failure leaves the
  // object inactive with no handles.
  virtual void Connect();
  // Closes and frees the handles; nothing when not active.
  virtual void Disconnect();

  // Transactions through the driver's auto-commit switch: auto-commit is off
  // between StartTransaction and the next Commit or Rollback.
  void StartTransaction();
  void Commit();
  void Rollback();

  bool Active() const { return FActive; }
  const String& ConnectionString() const { return FConnectionString; }
  // Disconnects first when active; the next Connect uses the new string.
  void SetConnectionString(const String& Value);

  // The connection handle statements allocate their handles on; null while inactive.
  SQLHDBC DBCHandle() const { return FHandles.DBC(); }
  // The driver's SQL_TXN_CAPABLE answer; 0 means no transactions.
  SQLUSMALLINT TXNCapable() const { return FTXNCapable; }

 protected:
  // Nothing for SQL_SUCCESS and SQL_SUCCESS_WITH_INFO; otherwise raises the
  // ODBC error text of the connection handle.
  void CheckResult(SQLRETURN RetCode);

  bool FActive = false;
  SQLUSMALLINT FTXNCapable = 0;
  SQLUSMALLINT FDriverCompletion = SQL_DRIVER_NOPROMPT;
  SQLUINTEGER FIsolationLevel = SQL_TXN_READ_COMMITTED;
  SQLUINTEGER FODBCCursor = SQL_CUR_USE_DRIVER;
  String FConnectionString;
  TODBCHandlePair FHandles;

 private:
  void CheckTransactionsSupported() const;
  void EndTransaction(SQLSMALLINT CompletionType);

  friend class TODBCStatement;
};

// Asks an installed ODBC driver which servers it sees and which databases a
// server holds, by the browse protocol, without opening a real connection.
// Every call allocates and frees its own handles.
class TODBCDriver {
 public:
  // DriverName goes into the browse string unchanged: callers supply the
  // braces ("{SQL Server}"). The result is the driver's list as one text.
  String GetServerNames(const String& DriverName);
  String GetDatabaseNames(const String& DriverName, const String& ServerName, const String& UserName,
                          const String& Password, bool TrustedConnection);

  // The text between "={" and "}" that follows "Key:" in a browse result.
  static String ExtractBrowseValue(const String& Text, const String& Key);
};

}  // namespace zo
