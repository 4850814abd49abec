// Nested transactions of the PostgreSQL kind end to end on the test server,
// with the data checked from another session after each ending.
#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"

ZO_TEST_DATABASE_ENVIRONMENT(data);

namespace zo {
namespace {

class PostgreSQLTransactions : public ::testing::Test {
 protected:
  void SetUp() override {
    ZO_REQUIRE_TEST_DATABASE();
    test::SuiteDatabase()->Execute(u"drop table if exists tr_rows; create table tr_rows (v integer)");
    test::FillAsPostgreSQL(FConnection);
    FConnection.Open();
  }
  void TearDown() override { CurrentSQLServerType = stSQLServer; }

  void Insert(int Value) { FConnection.Execute(Format(u"insert into tr_rows values (%d)", {Value})); }
  // The committed rows, as another session sees them, in one number: 1, 2
  // and 4 give 124.
  static std::int64_t CommittedRows() {
    return test::ScalarOnOtherSession(
        u"select coalesce(sum(v * power(10, (select count(*) from tr_rows r2 where r2.v > r.v))), 0)::bigint "
        u"from tr_rows r");
  }
  std::int64_t RowsInSession() {
    TExReadQuery query;
    query.FillConnectionProps(&FConnection);
    query.SetSQLText(u"select count(*) from tr_rows", nullptr, false, true);
    query.Open();
    const std::int64_t count = query.BigintValue(0, -1);
    query.Close();
    return count;
  }
  // Starts Depth levels and inserts the level's number at each.
  void StartLevels(int Depth) {
    for (int level = 1; level <= Depth; ++level) {
      FConnection.StartTran();
      Insert(level);
    }
  }

  TConnectionInfo FConnection;
};

TEST_F(PostgreSQLTransactions, EndingsAtEachDepth) {
  struct Case {
    int depth;
    char op;              // 'c' / 'C' commit (one / whole), 'r' / 'R' rollback (one / whole)
    std::int64_t rows;    // committed once the remaining levels are committed
  };
  const Case cases[] = {
      {1, 'c', 1},   {1, 'r', 0},   {1, 'C', 1},   {1, 'R', 0},
      {2, 'c', 12},  {2, 'r', 1},   {2, 'C', 12},  {2, 'R', 0},
      {3, 'c', 123}, {3, 'r', 12},  {3, 'C', 123}, {3, 'R', 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "depth " << c.depth << " op " << c.op);
    FConnection.Execute(u"delete from tr_rows");
    StartLevels(c.depth);
    EXPECT_TRUE(FConnection.InSQLTransaction());
    EXPECT_EQ(CommittedRows(), 0) << "visible before the commit";
    switch (c.op) {
      case 'c': FConnection.CommitTran(false); break;
      case 'C': FConnection.CommitTran(true); break;
      case 'r': FConnection.RollbackTran(false); break;
      case 'R': FConnection.RollbackTran(true); break;
    }
    const int remaining = (c.op == 'c' || c.op == 'r') ? c.depth - 1 : 0;
    EXPECT_EQ(FConnection.TranCount(), remaining);
    EXPECT_EQ(FConnection.InSQLTransaction(), remaining > 0);
    if (remaining > 0) FConnection.CommitTran(true);
    EXPECT_FALSE(FConnection.InSQLTransaction());
    EXPECT_EQ(CommittedRows(), c.rows);
    EXPECT_EQ(FConnection.State(), csInactive);
  }
}

TEST_F(PostgreSQLTransactions, SavepointsInsideOneTransaction) {
  StartLevels(3);                // 1, 2, 3
  FConnection.RollbackTran(false);   // tr2: drops 3
  Insert(4);
  FConnection.StartTran();       // tr2 again
  Insert(5);
  FConnection.RollbackTran(false);   // drops 5
  FConnection.CommitTran(false);     // leaves level 2, keeps 4
  FConnection.RollbackTran(false);   // level 1 is the outermost: everything
  EXPECT_EQ(FConnection.TranCount(), 0);
  EXPECT_EQ(CommittedRows(), 0);
  EXPECT_EQ(RowsInSession(), 0);

  StartLevels(2);
  FConnection.RollbackTran(false);
  Insert(4);
  FConnection.CommitTran(false);
  EXPECT_EQ(CommittedRows(), 14);
}

TEST_F(PostgreSQLTransactions, TransactionNumberTellsWhetherATransactionIsOpen) {
  EXPECT_FALSE(FConnection.InSQLTransaction());
  FConnection.StartTran();
  EXPECT_TRUE(FConnection.InSQLTransaction());
  EXPECT_EQ(FConnection.State(), csInactive);
  FConnection.CommitTran(true);
  EXPECT_FALSE(FConnection.InSQLTransaction());
}

TEST_F(PostgreSQLTransactions, IsolationLevelTakesEffectAndIsRestored) {
  CurrentSQLServerType = stPostgreSQL;
  auto level = [&] {
    TExReadQuery query;
    query.FillConnectionProps(&FConnection);
    query.SetSQLText(u"show transaction_isolation", nullptr, false, true);
    query.Open();
    return query.StringValue(0);
  };
  FConnection.StartTran(ilSerializable);
  EXPECT_EQ(level(), u"serializable");
  FConnection.StartTran(ilSerializable);
  EXPECT_EQ(level(), u"serializable");
  EXPECT_THROW(FConnection.StartTran(ilReadCommitted), Exception);
  FConnection.CommitTran(true);
  EXPECT_EQ(FConnection.IsolationLevel(), ilReadCommitted);
  FConnection.StartTran();
  EXPECT_EQ(level(), u"read committed");
  FConnection.RollbackTran(true);

  FConnection.StartTran(ilSerializable);
  FConnection.RollbackTran(true);
  FConnection.StartTran();
  EXPECT_EQ(level(), u"read committed");
  FConnection.CommitTran(true);
}

TEST_F(PostgreSQLTransactions, ErrorInsideATransactionEndsInARealRollback) {
  StartLevels(2);
  TExWriteQuery bad;
  bad.FillConnectionProps(&FConnection);
  bad.SetSQLText(u"insert into no_such_table values (1)");
  const String message = test::MessageOf([&] { bad.ExecSQL(false); });
  EXPECT_NE(message.find(u"42P01 : "), String::npos) << ToUtf8(message);
  EXPECT_TRUE(FConnection.FullRollback());
  EXPECT_EQ(FConnection.TranCount(), 2);
  // The driver rolled back only the failed statement: the server still holds
  // the transaction with the first two rows.
  EXPECT_TRUE(FConnection.InSQLTransaction());
  EXPECT_EQ(RowsInSession(), 2);

  EXPECT_THROW(Insert(9), Exception);
  EXPECT_THROW(FConnection.StartTran(), Exception);
  EXPECT_THROW(FConnection.CommitTran(true), Exception);

  FConnection.RollbackTran(false);
  EXPECT_EQ(FConnection.TranCount(), 1);
  FConnection.RollbackTran(false);
  EXPECT_EQ(FConnection.TranCount(), 0);
  EXPECT_FALSE(FConnection.FullRollback());
  EXPECT_FALSE(FConnection.InSQLTransaction()) << "the rolled-back transaction is still open on the server";
  EXPECT_EQ(test::OpenTransactionsOnServer(), 0);
  EXPECT_EQ(RowsInSession(), 0);

  // Work goes on normally afterwards, and autocommit is back.
  Insert(7);
  EXPECT_EQ(CommittedRows(), 7);
  StartLevels(1);
  FConnection.CommitTran(true);
  EXPECT_EQ(CommittedRows(), 17);  // the rows 1 and 7
}

TEST_F(PostgreSQLTransactions, FailedReadInsideATransactionMarksTheInternalRollback) {
  StartLevels(1);
  TExReadQuery query;
  query.FillConnectionProps(&FConnection);
  query.SetSQLText(u"select no_such_column from tr_rows", nullptr, false, true);
  EXPECT_THROW(query.Open(), Exception);
  EXPECT_TRUE(FConnection.FullRollback());
  FConnection.RollbackTran(true);
  EXPECT_FALSE(FConnection.InSQLTransaction());
  EXPECT_EQ(CommittedRows(), 0);
}

TEST_F(PostgreSQLTransactions, ErrorOutsideATransactionMarksNothing) {
  TExWriteQuery bad;
  bad.FillConnectionProps(&FConnection);
  bad.SetSQLText(u"insert into no_such_table values (1)");
  EXPECT_THROW(bad.ExecSQL(false), Exception);
  EXPECT_FALSE(FConnection.FullRollback());
  Insert(3);
  EXPECT_EQ(CommittedRows(), 3);
}

TEST_F(PostgreSQLTransactions, CloseLeavesNoTransactionOnTheServer) {
  for (bool afterError : {false, true}) {
    SCOPED_TRACE(afterError ? "after an error" : "plain");
    StartLevels(2);
    if (afterError) {
      EXPECT_THROW(FConnection.Execute(u"select 1/0"), Exception);
      EXPECT_TRUE(FConnection.FullRollback());
    }
    FConnection.Close();
    EXPECT_EQ(FConnection.TranCount(), 0);
    EXPECT_FALSE(FConnection.FullRollback());
    EXPECT_EQ(test::OpenTransactionsOnServer(), 0);
    EXPECT_EQ(CommittedRows(), 0);
    FConnection.Open();
  }
}

}  // namespace
}  // namespace zo
