// The data layer's connection: a TODBCDatabase with a server kind, the
// connection string of each supported kind, a state that the queries move
// between reading, writing and transaction work, and nested transactions
// written as SQL text (begin, save points, commit, rollback) on a connection
// that otherwise stays in auto-commit mode.
#pragma once

#include <cstdint>

#include "core/ServerType.h"
#include "core/String.h"
#include "data/IsolationLevel.h"
#include "odbc/ODBCDatabase.h"

namespace zo {

enum class TConnectionState : std::uint8_t {
  csInactive = 0,
  csIdle = 1,
  csTranCount = 2,
  csReading = 3,
  csWriting = 4,
  csStartingTran = 5,
  csCommitingTran = 6,
  csRollbackingTran = 7,
};
using enum TConnectionState;

class TExQuery;
class TExWriteQuery;

class TConnectionInfo : public TODBCDatabase {
 public:
  explicit TConnectionInfo(TComponent* AOwner = nullptr);

  // Sets the server kind and session name, then the connection string of
  // that kind (values inserted as they are; disconnects an active
  // connection). SQL Server, Sybase, Oracle, dBase and PostgreSQL; any other
  // kind raises "Not supported function TConnectionInfo.FillConnectionInfo
  // for SQLServerType (%d)" after kind and session name were changed.
  void FillConnectionInfo(TSQLServerType ASQLServerType, const String& AProviderName,
                          const String& ASessionName, const String& AServerName,
                          const String& ADatabaseName, const String& AUserName, const String& APassword,
                          const String& AAppName, const String& ACompName, bool ATrustedConnection);

  // Connect, then the idle state.
  void Open();
  // Disconnects (the server ends the session and with it any transaction),
  // then forgets the depth and the internal rollback, goes back to the
  // inactive state and to the default isolation level, without sending anything.
  void Close();
  // Disconnecting an active connection, also by changing the connection
  // string, forgets what belonged to the session as Close does: a depth or
  // level kept from a closed session would be sent to the next one.
  void Disconnect() override;

  TConnectionState State() const { return FState; }
  // Moves the state, for SQL Server connections only (every other kind stays
  // inactive). Keeps the transaction states while a transaction statement is
  // written, and the transaction-count query from disturbing anything.
  void SetState(TConnectionState Value);

  // Begins a transaction, or one more nested level (a save point). A non-null
  // IsolationLevel that differs from the current one is set first; that is
  // only possible outside a transaction.
  void StartTran(TNCIsolationLevel IsolationLevel = TNCIsolationLevel());
  // Commits everything (Whole, or at depth 1) or leaves one level.
  void CommitTran(bool Whole);
  // Rolls everything back (Whole, or at depth 1) or one level.
  void RollbackTran(bool Whole);
  bool InTransaction() const { return FTranCount > 0; }

  // Runs SQLText as a write statement on this connection. Virtual so that a
  // connection can record or redirect what it sends.
  virtual void Execute(const String& SQLText);
  // The server's transaction count; SQL Server only.
  virtual std::int32_t GetSQLTranCount();
  // Whether the server has a transaction open on this session (SQL Server
  // and PostgreSQL; false for the other kinds).
  virtual bool InSQLTransaction();

  TSQLServerType SQLServerType() const { return FSQLServerType; }
  std::int32_t TranCount() const { return FTranCount; }
  const String& SessionName() const { return FSessionName; }
  TCIsolationLevel IsolationLevel() const { return FIsolationLevel; }
  // An error inside the transaction has cost it on the server (or may have):
  // only a rollback, or Close, gets out of it.
  bool FullRollback() const { return FFullRollback; }

 protected:
  String FSessionName;
  TSQLServerType FSQLServerType = stUnknown;
  std::int32_t FTranCount = 0;
  bool FFullRollback = false;
  TConnectionState FState = csInactive;
  // The level set on the session (hides TODBCDatabase's ODBC attribute value).
  TCIsolationLevel FIsolationLevel = DefaultIsolationLevel;

 private:
  // The state field set directly for the internal server checks, and put
  // back on every way out.
  class TranCountScope;

  void ResetSession();
  void RestoreDefaultIsolationLevel();
  // Rolls back a transaction that the server still holds although an error
  // marked it as lost.
  void RollbackLeftoverTransaction();

  friend class TExQuery;
};

}  // namespace zo
