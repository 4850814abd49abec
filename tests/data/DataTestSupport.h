// Shared pieces of the data layer's suites: a connection that records the
// statements it would send, and connections to the test server filled the
// way the data layer's callers fill them.
#pragma once

#include <unistd.h>

#include <optional>
#include <utility>
#include <vector>

#include "core/Exception.h"
#include "core/ServerType.h"
#include "core/StartupValues.h"
#include "data/ConnectionInfo.h"
#include "data/Queries.h"
#include "tests/odbc/TestDatabase.h"

namespace zo::test {

// Records what Execute is given, with the connection's state at that moment,
// instead of sending it; the server's answers to the transaction checks are
// scripted. For the server kinds we have no server of here.
class RecordingConnection : public TConnectionInfo {
 public:
  struct Sent {
    String Text;
    TConnectionState State;
    bool operator==(const Sent&) const = default;
  };

  explicit RecordingConnection(TSQLServerType Kind) {
    try {
      FillConnectionInfo(Kind, u"Driver", u"session", u"server", u"db", u"user", u"pw", u"app", u"pc", false);
    } catch (const Exception&) {
      // A kind without a connection string is still taken over.
    }
  }

  void Execute(const String& SQLText) override {
    FSent.push_back({SQLText, State()});
    if (SQLText == FailOn) throw Exception(u"simulated failure of \"%s\"", {SQLText});
  }
  // A scripted server answer; none makes the question fail.
  std::int32_t GetSQLTranCount() override {
    ++TranCountQuestions;
    if (!ServerTranCount) throw Exception(String(u"simulated failure of the transaction count"));
    return *ServerTranCount;
  }
  bool InSQLTransaction() override {
    if (FSQLServerType == stPostgreSQL) {
      ++TranCountQuestions;
      if (!ServerTranCount) throw Exception(String(u"simulated failure of the transaction check"));
      return *ServerTranCount > 0;
    }
    return TConnectionInfo::InSQLTransaction();
  }

  // The texts sent since the last call.
  std::vector<String> TakeTexts() {
    std::vector<String> texts;
    for (const Sent& s : FSent) texts.push_back(s.Text);
    FSent.clear();
    return texts;
  }
  std::vector<Sent> TakeSent() { return std::exchange(FSent, {}); }

  void SetDepth(std::int32_t Depth) { FTranCount = Depth; }
  void MarkFullRollback() { FFullRollback = true; }
  void ForceState(TConnectionState State) { FState = State; }

  String FailOn;
  std::optional<std::int32_t> ServerTranCount = 1;
  int TranCountQuestions = 0;

 private:
  std::vector<Sent> FSent;
};

// A connection to the suite's database through the "SQL Server" driver,
// filled as the upgrade tool fills it: server kind SQL Server and the port
// inside the server value.
inline void FillAsUpgradeTool(TConnectionInfo& Connection) {
  const TestDatabase& db = *SuiteDatabase();
  const TestServer& server = db.Server();
  Connection.FillConnectionInfo(stSQLServer, u"SQL Server", u"", server.ServerName(), db.Name(), server.User,
                                server.Password, String(ProductPrefix) + u"-" + db.Name() + u" SysConnect",
                                ComputerName(), false);
}

// A PostgreSQL connection to the suite's database: server "host:port".
inline void FillAsPostgreSQL(TConnectionInfo& Connection) {
  const TestDatabase& db = *SuiteDatabase();
  const TestServer& server = db.Server();
  Connection.FillConnectionInfo(stPostgreSQL, u"SQL Server", u"", server.Host + u":" + server.Port, db.Name(),
                                server.User, server.Password, u"app", u"pc", false);
}

// One value read on a session of its own, as another user sees it. The
// session stays open for the program (connecting costs more than the query).
inline std::int64_t ScalarOnOtherSession(const String& Sql) {
  static TODBCDatabase observer;
  if (!observer.Active()) observer.SetConnectionString(SuiteDatabase()->ConnectionString());
  TODBCStatement stmt;
  stmt.SetDatabase(&observer);
  stmt.SetCommandText(Sql);
  stmt.Open();
  return stmt.BigintValue(0, -1);
}

// Sessions on the suite's database, other than the asking one, that hold a
// transaction open. A session that has just disconnected may take a moment to
// end on the server, so a non-zero count is asked again for up to 2 seconds.
inline std::int64_t OpenTransactionsOnServer() {
  std::int64_t count = 0;
  for (int attempt = 0; attempt < 40; ++attempt) {
    count = ScalarOnOtherSession(
        u"select count(*) from pg_stat_activity where datname = current_database() "
        u"and pid <> pg_backend_pid() and xact_start is not null");
    if (count == 0) break;
    ::usleep(50000);
  }
  return count;
}

}  // namespace zo::test
