// Connection strings, the state machine and the transaction statements of
// every server kind, recorded instead of sent (no server of those kinds here;
// the PostgreSQL kind runs against the real server in PostgreSQLTest.cpp).
#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

using test::RecordingConnection;
using Texts = std::vector<String>;

String ConnectionStringOf(TSQLServerType Kind, const String& Server, bool Trusted = false) {
  TConnectionInfo connection;
  connection.FillConnectionInfo(Kind, u"SQL Server", u"s1", Server, u"Sales", u"sa", u"pw", u"zo-Sales SysConnect",
                                u"PC7", Trusted);
  return connection.ConnectionString();
}

TEST(ConnectionString, TemplatesPerServerKind) {
  struct Case {
    TSQLServerType kind;
    const char16_t* server;
    bool trusted;
    const char16_t* expected;
  };
  const Case cases[] = {
      {stSQLServer, u"SRV1", true,
       u"Driver={SQL Server};Server=SRV1;UID=sa;PWD=pw;Trusted_Connection=yes;WSID=PC7;APP=zo-Sales SysConnect;"
       u"Database=Sales;AutoTranslate=no;Regional=no;Language=English"},
      {stSQLServer, u"127.0.0.1;Port=5433", false,
       u"Driver={SQL Server};Server=127.0.0.1;Port=5433;UID=sa;PWD=pw;Trusted_Connection=no;WSID=PC7;"
       u"APP=zo-Sales SysConnect;Database=Sales;AutoTranslate=no;Regional=no;Language=English"},
      {stSybase, u"SRV1", true, u"DRIVER=SQL Server;NA=SRV1;UID=sa;PWD=pw;WSID=PC7;APP=zo-Sales SysConnect;Database=Sales;"},
      {stOracle, u"host1", true, u"DRIVER={SQL Server};UID=sa;PWD=pw;DBQ=Sales_host1;MTS=T;NUM=US;LOB=F;"},
      {stdBase, u"ignored", true,
       u"DRIVER={SQL Server};DBQ=Sales;DriverID=533;DefaultDir=Sales;Deleted=1;CollatingSequence=ASCII;Exclusive=0;"},
      {stPostgreSQL, u"dbhost:5433", false,
       u"Driver={SQL Server};Server=dbhost;Port=5433;Uid=sa;Pwd=pw;Database=Sales;MaxVarcharSize=2000;"
       u"MaxLongVarcharSize=2147483647;UpdateableCursors=0;UseDeclareFetch=1;TextAsLongvarchar=1;"},
  };
  for (const Case& c : cases) EXPECT_EQ(ConnectionStringOf(c.kind, c.server, c.trusted), c.expected);
}

TEST(ConnectionString, PostgreSQLServerAndPortSplitAtTheFirstColon) {
  const std::tuple<const char16_t*, const char16_t*> cases[] = {
      {u"dbhost:5433", u"Server=dbhost;Port=5433;"},
      {u"dbhost", u"Server=dbhost;Port=;"},
      {u"a:b:c", u"Server=a;Port=b:c;"},
      {u":5433", u"Server=;Port=5433;"},
      {u"dbhost:", u"Server=dbhost;Port=;"},
  };
  for (auto [server, part] : cases)
    EXPECT_NE(ConnectionStringOf(stPostgreSQL, server).find(part), String::npos) << String(server).size();
}

TEST(ConnectionString, UnsupportedKindsFailAfterChangingKindAndSession) {
  for (auto [kind, number] : {std::pair{stXML, 5}, std::pair{stUnknown, 0}}) {
    TConnectionInfo connection;
    connection.FillConnectionInfo(stOracle, u"D", u"old", u"s", u"d", u"u", u"p", u"a", u"c", false);
    const String before = connection.ConnectionString();
    EXPECT_EQ(test::MessageOf([&] {
                connection.FillConnectionInfo(kind, u"D", u"new", u"s", u"d", u"u", u"p", u"a", u"c", false);
              }),
              Format(u"Not supported function TConnectionInfo.FillConnectionInfo for SQLServerType (%d)", {number}));
    EXPECT_EQ(connection.SQLServerType(), kind);
    EXPECT_EQ(connection.SessionName(), u"new");
    EXPECT_EQ(connection.ConnectionString(), before);
  }
}

TEST(ConnectionState, SetStateRulesOnSQLServer) {
  struct Case {
    TConnectionState from, to, expected;
  };
  const Case cases[] = {
      {csInactive, csIdle, csIdle},
      {csIdle, csReading, csReading},
      {csReading, csReading, csReading},
      {csReading, csWriting, csWriting},
      {csWriting, csIdle, csIdle},
      // The transaction-count query never enters or leaves through SetState.
      {csIdle, csTranCount, csIdle},
      {csWriting, csTranCount, csWriting},
      {csTranCount, csReading, csTranCount},
      {csTranCount, csWriting, csWriting},
      {csTranCount, csIdle, csIdle},
      // A transaction's own statements keep the transaction state.
      {csStartingTran, csWriting, csStartingTran},
      {csCommitingTran, csWriting, csCommitingTran},
      {csRollbackingTran, csWriting, csRollbackingTran},
      {csStartingTran, csReading, csReading},
      {csRollbackingTran, csIdle, csIdle},
      {csIdle, csRollbackingTran, csRollbackingTran},
  };
  for (const Case& c : cases) {
    RecordingConnection connection(stSQLServer);
    connection.ForceState(c.from);
    connection.SetState(c.to);
    EXPECT_EQ(connection.State(), c.expected)
        << static_cast<int>(c.from) << " -> " << static_cast<int>(c.to);
  }
}

TEST(ConnectionState, OtherKindsStayInactive) {
  for (TSQLServerType kind : {stSybase, stOracle, stdBase, stPostgreSQL}) {
    RecordingConnection connection(kind);
    for (TConnectionState to : {csIdle, csReading, csWriting, csStartingTran, csRollbackingTran})
      connection.SetState(to);
    EXPECT_EQ(connection.State(), csInactive);
    if (kind != stdBase) {
      connection.StartTran();
      EXPECT_EQ(connection.State(), csInactive);
    }
  }
}

// One step of a transaction script and what it must send.
struct Step {
  char op;  // 'S' StartTran, 'c' / 'C' CommitTran(false / true), 'r' / 'R' RollbackTran(false / true)
  Texts sent;
  int depth;
};

void RunScript(RecordingConnection& connection, const std::vector<Step>& steps) {
  int index = 0;
  for (const Step& step : steps) {
    switch (step.op) {
      case 'S': connection.StartTran(); break;
      case 'c': connection.CommitTran(false); break;
      case 'C': connection.CommitTran(true); break;
      case 'r': connection.RollbackTran(false); break;
      case 'R': connection.RollbackTran(true); break;
    }
    EXPECT_EQ(connection.TakeTexts(), step.sent) << "step " << index << " '" << step.op << "'";
    EXPECT_EQ(connection.TranCount(), step.depth) << "step " << index;
    ++index;
  }
}

TEST(Transactions, TextsPerServerKindAndDepth) {
  struct Kind {
    TSQLServerType kind;
    const char16_t *begin, *save1, *save2, *commit, *rollback, *rollbackTo1, *rollbackTo2;
  };
  const Kind kinds[] = {
      {stSQLServer, u"begin tran", u"save tran tr1", u"save tran tr2", u"commit tran",
       u"if (@@trancount > 0) rollback tran", u"rollback tran tr1", u"rollback tran tr2"},
      {stSybase, u"begin tran", u"save tran tr1", u"save tran tr2", u"commit tran",
       u"if (@@trancount > 0) rollback tran", u"rollback tran tr1", u"rollback tran tr2"},
      {stOracle, nullptr, u"savepoint tr1", u"savepoint tr2", u"commit", u"rollback",
       u"rollback to savepoint tr1", u"rollback to savepoint tr2"},
      {stPostgreSQL, u"begin transaction", u"savepoint tr1", u"savepoint tr2", u"commit transaction",
       u"rollback transaction", u"rollback to savepoint tr1", u"rollback to savepoint tr2"},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(testing::Message() << "kind " << static_cast<int>(k.kind));
    RecordingConnection connection(k.kind);
    const Texts begin = k.begin ? Texts{k.begin} : Texts{};
    RunScript(connection, {
                              {'S', begin, 1},
                              {'S', {k.save1}, 2},
                              {'S', {k.save2}, 3},
                              {'r', {k.rollbackTo2}, 2},
                              {'c', {}, 1},
                              {'c', {k.commit}, 0},
                              // Whole ends every level with one statement.
                              {'S', begin, 1},
                              {'S', {k.save1}, 2},
                              {'S', {k.save2}, 3},
                              {'C', {k.commit}, 0},
                              {'S', begin, 1},
                              {'S', {k.save1}, 2},
                              {'S', {k.save2}, 3},
                              {'r', {k.rollbackTo2}, 2},
                              {'r', {k.rollbackTo1}, 1},
                              {'r', {k.rollback}, 0},
                              {'S', begin, 1},
                              {'S', {k.save1}, 2},
                              {'R', {k.rollback}, 0},
                          });
  }
}

TEST(Transactions, PostgreSQLOutermostRollbackOnlyWhenTheServerHasATransaction) {
  RecordingConnection connection(stPostgreSQL);
  connection.StartTran();
  connection.TakeTexts();
  connection.ServerTranCount = 0;
  connection.RollbackTran(false);
  EXPECT_EQ(connection.TakeTexts(), Texts{});
  EXPECT_EQ(connection.TranCount(), 0);
}

TEST(Transactions, StatementsAreWrittenInTheTransactionStates) {
  CurrentSQLServerType = stSQLServer;
  RecordingConnection connection(stSQLServer);
  connection.SetState(csIdle);
  connection.StartTran(ilSerializable);
  connection.StartTran();
  connection.CommitTran(true);
  connection.StartTran();
  connection.RollbackTran(true);
  using S = RecordingConnection::Sent;
  EXPECT_EQ(connection.TakeSent(), (std::vector<S>{
                                       {u"set transaction isolation level snapshot", csStartingTran},
                                       {u"begin tran", csStartingTran},
                                       {u"save tran tr1", csStartingTran},
                                       {u"commit tran", csCommitingTran},
                                       {u"set transaction isolation level read committed", csCommitingTran},
                                       {u"begin tran", csStartingTran},
                                       {u"if (@@trancount > 0) rollback tran", csRollbackingTran},
                                   }));
  EXPECT_EQ(connection.State(), csIdle);
}

TEST(Transactions, KindsWithoutTransactionsFail) {
  for (TSQLServerType kind : {stUnknown, stdBase, stXML}) {
    RecordingConnection connection(kind);
    ASSERT_EQ(connection.SQLServerType(), kind);
    const String name = SQLServerTypeName(kind);
    auto expectFailure = [&](auto operation, const char16_t* format) {
      EXPECT_EQ(test::MessageOf([&] { operation(); }), Format(format, {name}));
    };
    expectFailure([&] { connection.StartTran(); },
                  u"Not supported nested transactions in function TConnectionInfo.StartTran for SQLServerType (%s)");
    EXPECT_EQ(connection.TranCount(), 0);
    connection.SetDepth(2);
    expectFailure([&] { connection.CommitTran(true); },
                  u"Not supported nested transactions in function TConnectionInfo.CommitTran for SQLServerType (%s)");
    expectFailure([&] { connection.RollbackTran(false); },
                  u"Not supported nested transactions in function TConnectionInfo.RollbackTran for SQLServerType (%s)");
    expectFailure([&] { connection.RollbackTran(true); },
                  u"Not supported nested transactions in function TConnectionInfo.RollbackTran for SQLServerType (%s)");
    EXPECT_EQ(connection.TranCount(), 2);
    // A nested commit sends nothing, so it needs no transaction support.
    connection.CommitTran(false);
    EXPECT_EQ(connection.TranCount(), 1);
    EXPECT_EQ(connection.TakeTexts(), Texts{});
  }
}

TEST(Transactions, NoActiveTransaction) {
  for (TSQLServerType kind : {stSQLServer, stOracle, stPostgreSQL, stdBase}) {
    RecordingConnection connection(kind);
    connection.SetState(csIdle);
    EXPECT_EQ(test::MessageOf([&] { connection.CommitTran(false); }),
              u"Commit transaction failed. There is no active transaction");
    EXPECT_EQ(test::MessageOf([&] { connection.RollbackTran(true); }),
              u"Rollback transaction failed. There is no active transaction");
    EXPECT_EQ(connection.State(), kind == stSQLServer ? csIdle : csInactive);
    EXPECT_EQ(connection.TakeTexts(), Texts{});
  }
}

class IsolationLevels : public ::testing::Test {
 protected:
  void SetUp() override { CurrentSQLServerType = stSQLServer; }
  void TearDown() override { CurrentSQLServerType = stSQLServer; }
};

TEST_F(IsolationLevels, ChangedOnlyAtDepthZeroAndRestoredAtTheEnd) {
  RecordingConnection connection(stSQLServer);
  connection.StartTran(ilSerializable);
  EXPECT_EQ(connection.TakeTexts(), (Texts{u"set transaction isolation level snapshot", u"begin tran"}));
  EXPECT_EQ(connection.IsolationLevel(), ilSerializable);

  // The same level, or none, inside is fine and sends nothing extra.
  connection.StartTran(ilSerializable);
  connection.StartTran();
  EXPECT_EQ(connection.TakeTexts(), (Texts{u"save tran tr1", u"save tran tr2"}));

  connection.SetState(csIdle);
  EXPECT_EQ(
      test::MessageOf([&] { connection.StartTran(ilReadCommitted); }),
      u"Isolation level change in inner transaction is not supported (Old = Serializable; New = Read committed).");
  EXPECT_EQ(connection.TranCount(), 3);
  EXPECT_EQ(connection.State(), csIdle);
  EXPECT_EQ(connection.TakeTexts(), Texts{});

  connection.CommitTran(false);
  EXPECT_EQ(connection.TakeTexts(), Texts{});
  EXPECT_EQ(connection.IsolationLevel(), ilSerializable);
  connection.RollbackTran(true);
  EXPECT_EQ(connection.TakeTexts(),
            (Texts{u"if (@@trancount > 0) rollback tran", u"set transaction isolation level read committed"}));
  EXPECT_EQ(connection.IsolationLevel(), ilReadCommitted);

  // The default level at depth 0 sends nothing.
  connection.StartTran(ilReadCommitted);
  connection.CommitTran(false);
  EXPECT_EQ(connection.TakeTexts(), (Texts{u"begin tran", u"commit tran"}));
}

TEST_F(IsolationLevels, FollowTheProcessWideServerType) {
  // The statement follows CurrentSQLServerType, not the connection's kind.
  CurrentSQLServerType = stOracle;
  RecordingConnection connection(stSQLServer);
  connection.StartTran(ilSerializable);
  connection.CommitTran(true);
  EXPECT_EQ(connection.TakeTexts(),
            (Texts{u"alter session set isolation_level = serializable", u"begin tran", u"commit tran",
                   u"alter session set isolation_level = read committed"}));
  CurrentSQLServerType = stSybase;
  EXPECT_THROW(connection.StartTran(ilSerializable), Exception);
  EXPECT_EQ(connection.TranCount(), 0);
}

// A statement that fails leaves the depth as it was, and SQL Server's state idle.
TEST(Transactions, FailedStatementsKeepTheDepth) {
  struct Case {
    TSQLServerType kind;
    const char16_t* failOn;
    int depthBefore;
    char op;
  };
  const Case cases[] = {
      {stSQLServer, u"begin tran", 0, 'S'},
      {stSQLServer, u"save tran tr2", 2, 'S'},
      {stSQLServer, u"commit tran", 1, 'c'},
      {stSQLServer, u"commit tran", 3, 'C'},
      {stSQLServer, u"if (@@trancount > 0) rollback tran", 2, 'R'},
      {stSQLServer, u"rollback tran tr2", 3, 'r'},
      {stSybase, u"save tran tr1", 1, 'S'},
      {stOracle, u"commit", 2, 'C'},
      {stOracle, u"rollback to savepoint tr1", 2, 'r'},
      {stOracle, u"rollback", 1, 'r'},
      {stPostgreSQL, u"begin transaction", 0, 'S'},
      {stPostgreSQL, u"rollback transaction", 2, 'R'},
  };
  for (const Case& c : cases) {
    RecordingConnection connection(c.kind);
    connection.SetDepth(c.depthBefore);
    connection.ForceState(c.kind == stSQLServer ? csIdle : csInactive);
    connection.FailOn = c.failOn;
    const String message = test::MessageOf([&] {
      switch (c.op) {
        case 'S': connection.StartTran(); break;
        case 'c': connection.CommitTran(false); break;
        case 'C': connection.CommitTran(true); break;
        case 'r': connection.RollbackTran(false); break;
        case 'R': connection.RollbackTran(true); break;
      }
    });
    EXPECT_EQ(message, Format(u"simulated failure of \"%s\"", {String(c.failOn)}));
    EXPECT_EQ(connection.TranCount(), c.depthBefore);
    EXPECT_EQ(connection.State(), c.kind == stSQLServer ? csIdle : csInactive);
    EXPECT_EQ(connection.TakeTexts(), Texts{c.failOn});
  }
}

TEST_F(IsolationLevels, FailedRestoreAfterCommitLeavesDepthZero) {
  RecordingConnection connection(stSQLServer);
  connection.StartTran(ilSerializable);
  connection.FailOn = u"set transaction isolation level read committed";
  EXPECT_THROW(connection.CommitTran(true), Exception);
  EXPECT_EQ(connection.TranCount(), 0);
  EXPECT_EQ(connection.IsolationLevel(), ilSerializable);
  connection.FailOn.clear();
  connection.TakeTexts();
  // The next outermost end tries the restore again.
  connection.StartTran();
  connection.CommitTran(true);
  EXPECT_EQ(connection.TakeTexts(),
            (Texts{u"begin tran", u"commit tran", u"set transaction isolation level read committed"}));
}

TEST(InternalRollback, RefusesEverythingButRollback) {
  RecordingConnection connection(stSQLServer);
  connection.SetState(csIdle);
  connection.SetDepth(2);
  connection.MarkFullRollback();

  EXPECT_EQ(test::MessageOf([&] { connection.StartTran(); }),
            u"Starting new transaction is not possible. Internal rollback was done before.");
  EXPECT_EQ(test::MessageOf([&] { connection.CommitTran(true); }),
            u"Commiting transaction is not possible. Internal rollback was done before.");
  TExWriteQuery query;
  query.FillConnectionProps(&connection);
  query.SetSQLText(u"delete from t");
  EXPECT_EQ(test::MessageOf([&] { query.ExecSQL(false); }),
            u"Executing query is not possible. Internal rollback was done before.");
  EXPECT_FALSE(connection.Active()) << "a refused statement must not even connect";
  EXPECT_EQ(connection.TranCount(), 2);
  EXPECT_EQ(connection.State(), csIdle);

  // Inner levels are left without statements; the outermost clears the mark
  // after the server said that nothing is open any more.
  connection.ServerTranCount = 0;
  connection.RollbackTran(false);
  EXPECT_EQ(connection.TranCount(), 1);
  EXPECT_TRUE(connection.FullRollback());
  connection.RollbackTran(false);
  EXPECT_EQ(connection.TranCount(), 0);
  EXPECT_FALSE(connection.FullRollback());
  EXPECT_EQ(connection.TakeTexts(), Texts{});

  connection.StartTran();
  EXPECT_EQ(connection.TakeTexts(), Texts{u"begin tran"});
}

TEST(InternalRollback, WholeRollbackRestoresTheIsolationLevel) {
  CurrentSQLServerType = stSQLServer;
  RecordingConnection connection(stSQLServer);
  connection.StartTran(ilSerializable);
  connection.StartTran();
  connection.StartTran();
  connection.TakeTexts();
  connection.MarkFullRollback();
  connection.ServerTranCount = 0;
  connection.RollbackTran(true);
  EXPECT_EQ(connection.TakeTexts(), Texts{u"set transaction isolation level read committed"});
  EXPECT_EQ(connection.TranCount(), 0);
  EXPECT_FALSE(connection.FullRollback());
}

TEST(InternalRollback, OutermostRollbackAsksTheServerOnEveryKind) {
  // The mark says the server has rolled back, but it is also set when the
  // server could not be asked, and PostgreSQL's driver keeps the transaction
  // open after a failed statement: the outermost rollback asks again and
  // rolls back what is left. A kind that cannot be asked rolls back to be
  // sure.
  struct Case {
    TSQLServerType kind;
    std::optional<int> serverTranCount;  // none: the question fails
    Texts sent;
    int questions;
  };
  const Case cases[] = {
      {stSQLServer, 1, {u"if (@@trancount > 0) rollback tran"}, 1},
      {stSQLServer, 0, {}, 1},
      {stSQLServer, std::nullopt, {u"if (@@trancount > 0) rollback tran"}, 1},
      {stPostgreSQL, 1, {u"rollback transaction"}, 1},
      {stPostgreSQL, 0, {}, 1},
      {stPostgreSQL, std::nullopt, {u"rollback transaction"}, 1},
      {stSybase, 0, {u"if (@@trancount > 0) rollback tran"}, 0},
      {stOracle, 0, {u"rollback"}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.kind)) + " " +
                 (c.serverTranCount ? std::to_string(*c.serverTranCount) : std::string("fails")));
    RecordingConnection connection(c.kind);
    connection.SetState(csIdle);
    connection.StartTran();
    connection.StartTran();
    connection.TakeTexts();
    connection.MarkFullRollback();
    connection.ServerTranCount = c.serverTranCount;
    connection.RollbackTran(false);
    EXPECT_EQ(connection.TakeTexts(), Texts{});
    EXPECT_EQ(connection.TranCountQuestions, 0);
    connection.RollbackTran(false);
    EXPECT_EQ(connection.TakeTexts(), c.sent);
    EXPECT_EQ(connection.TranCountQuestions, c.questions);
    EXPECT_EQ(connection.TranCount(), 0);
    EXPECT_FALSE(connection.FullRollback());
    if (c.kind == stSQLServer) {
      EXPECT_EQ(connection.State(), csIdle);
    }
  }
}

TEST(InternalRollback, KeepsTheMarkWhenItsRollbackFails) {
  for (const TSQLServerType kind : {stSQLServer, stPostgreSQL}) {
    RecordingConnection connection(kind);
    connection.StartTran();
    connection.MarkFullRollback();
    connection.FailOn = kind == stSQLServer ? u"if (@@trancount > 0) rollback tran" : u"rollback transaction";
    EXPECT_THROW(connection.RollbackTran(true), Exception);
    EXPECT_EQ(connection.TranCount(), 1);
    EXPECT_TRUE(connection.FullRollback());
    EXPECT_THROW(connection.CommitTran(true), Exception);
  }
}

TEST(InternalRollback, CloseClearsEverything) {
  CurrentSQLServerType = stSQLServer;
  RecordingConnection connection(stSQLServer);
  connection.SetState(csIdle);
  connection.StartTran(ilSerializable);
  connection.MarkFullRollback();
  connection.TakeTexts();
  connection.Close();
  EXPECT_EQ(connection.TranCount(), 0);
  EXPECT_FALSE(connection.FullRollback());
  EXPECT_EQ(connection.State(), csInactive);
  EXPECT_EQ(connection.IsolationLevel(), ilReadCommitted);
  EXPECT_EQ(connection.TakeTexts(), Texts{});
}

TEST(ServerChecks, TranCountIsForSQLServerOnly) {
  for (TSQLServerType kind : {stSybase, stOracle, stPostgreSQL, stdBase}) {
    TConnectionInfo connection;
    connection.FillConnectionInfo(kind, u"D", u"", u"s", u"d", u"u", u"p", u"a", u"c", false);
    EXPECT_EQ(test::MessageOf([&] { connection.GetSQLTranCount(); }),
              u"SQLServerType not supported in GetSQLTranCount");
    if (kind != stPostgreSQL) {
      EXPECT_FALSE(connection.InSQLTransaction());
    }
    EXPECT_FALSE(connection.Active());
  }
}

}  // namespace
}  // namespace zo
