// Queries against the test server: values read as text by field type,
// parameters round-tripped, the connection's state while queries work, the
// error hook, and the upgrade tool's way of reading its version stamp.
#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

using test::RecordingConnection;

bool TableExists(const String& Name) {
  return test::ScalarOnOtherSession(u"select count(*) from pg_class where relname = '" + Name + u"'") > 0;
}

TEST(UpgradeToolPath, ReadsTheVersionStampThroughTheSQLServerDriver) {
  ZO_REQUIRE_TEST_DATABASE();
  test::SuiteDatabase()->Execute(
      u"create schema if not exists dbo; drop table if exists dbo.a15830u10; "
      u"create table dbo.a15830u10 (a277u0 varchar(50), a212u0 bytea, a2439u0 integer, a2583u0 integer); "
      u"insert into dbo.a15830u10 values ('5.2', '\\x00ff10', 1, null)");

  TComponent window;
  auto* connection = new TConnectionInfo(&window);
  auto* query = new TExReadQuery(&window);
  test::FillAsUpgradeTool(*connection);
  const String& server = test::SuiteDatabase()->Server().ServerName();
  EXPECT_NE(connection->ConnectionString().find(u"Server=" + server + u";UID="), String::npos);
  EXPECT_EQ(connection->State(), csInactive);

  connection->Open();
  EXPECT_EQ(connection->State(), csIdle);
  query->FillConnectionProps(connection);
  query->SetSQLText(u"select a277u0,a212u0 from dbo.a15830u10", nullptr, false, true);
  EXPECT_EQ(query->BufferCount(), 1u);
  query->Open();
  EXPECT_EQ(connection->State(), csReading);
  ASSERT_FALSE(query->IsEmpty());
  EXPECT_EQ(query->StringValue(0), u"5.2");
  EXPECT_EQ(query->BinaryValue(1), (Bytes{0x00, 0xFF, 0x10}));
  query->Close();
  EXPECT_EQ(connection->State(), csIdle);

  query->SetSQLText(u"select a2439u0 from dbo.a15830u10", nullptr, false, true);
  query->Open();
  EXPECT_EQ(query->IntegerValue(0, 0), 1);
  query->Close();
  query->SetSQLText(u"select a2583u0 from dbo.a15830u10", nullptr, false, true);
  query->Open();
  EXPECT_EQ(query->IntegerValue(0, 0), 0);
  query->Close();

  connection->Close();
  EXPECT_EQ(connection->State(), csInactive);
  EXPECT_FALSE(connection->Active());
}

TEST(UpgradeToolPath, WrongPasswordFailsWithTheServersText) {
  ZO_REQUIRE_TEST_DATABASE();
  TConnectionInfo connection;
  const test::TestDatabase& db = *test::SuiteDatabase();
  connection.FillConnectionInfo(stSQLServer, u"SQL Server", u"", db.Server().ServerName(), db.Name(),
                                db.Server().User, u"wrong", u"zo-x SysConnect", u"pc", false);
  const String message = test::MessageOf([&] { connection.Open(); });
  EXPECT_EQ(message.substr(0, 8), u"08001 : ") << ToUtf8(message);
  EXPECT_EQ(connection.State(), csInactive);
  EXPECT_FALSE(connection.Active());
}

class TypedValues : public ::testing::Test {
 protected:
  void SetUp() override {
    ZO_REQUIRE_TEST_DATABASE();
    test::SuiteDatabase()->Execute(
        u"drop table if exists sv; create table sv (id integer, i integer, s smallint, b bigint, d double precision, "
        u"n numeric(19,4), dt date, ts timestamp, v varchar(20), tx text, bl bytea); "
        u"insert into sv values (1, 456, 200, 9007199254740993, 0.5, 12.3456, '2023-03-15', "
        u"'2023-03-15 12:00:00', 'abc', 'long text', '\\x0102'); "
        u"insert into sv (id) values (2)");
    test::FillAsPostgreSQL(FConnection);
    FConnection.Open();
    FQuery.FillConnectionProps(&FConnection);
  }

  void OpenRow(int Id, TDBFieldsList* Fields) {
    FQuery.SetSQLText(Format(u"select i, s, b, d, n, dt, ts, v, tx, bl from sv where id = %d", {Id}), Fields, true,
                      false);
    FQuery.Open();
    ASSERT_FALSE(FQuery.IsEmpty());
  }

  TConnectionInfo FConnection;
  TExReadQuery FQuery;
};

TEST_F(TypedValues, TextByFieldType) {
  OpenRow(1, nullptr);
  EXPECT_EQ(FQuery.CursorType(), static_cast<SQLULEN>(SQL_CURSOR_STATIC));
  const std::tuple<int, ToDataType, const char16_t*> cases[] = {
      {0, odtInteger, u"456"},
      {0, odtTinyint, u"200"},  // the low byte of 456
      {1, odtTinyint, u"200"},
      {1, odtSmallint, u"200"},
      {0, odtBigint, u"456"},
      {2, odtBigint, u"9007199254740993"},
      {3, odtFloat, u"0.5"},
      {4, odtFloat, u"12.3456"},
      {5, odtDateTime, u"2023-03-15"},
      {6, odtDateTime, u"2023-03-15 12:00:00.000"},
      {7, odtNVarchar, u"abc"},
      {8, odtNClob, u"long text"},
      {9, odtBlob, u"0x0102"},
      {7, odtUnknown, u""},
  };
  for (auto [index, type, text] : cases)
    EXPECT_EQ(FQuery.StringValue(index, type), text) << index << " as " << DataTypeName(type).size();
  EXPECT_EQ(FQuery.StringValue(2, false), u"9007199254740993");
  EXPECT_EQ(FQuery.StringValue(u"v", true), u"abc");  // by name, no list needed
  EXPECT_EQ(test::MessageOf([&] { FQuery.StringValue(7, odtTinyint); }),
            u"Not supported Bit DataType (-8) was found for Field \"v\".");
  EXPECT_EQ(test::MessageOf([&] { FQuery.StringValue(0, true); }),
            u"Not supported function StringFieldValue for empty DBFieldsList");
}

TEST_F(TypedValues, NullIsTheEmptyTextForEveryType) {
  OpenRow(2, nullptr);
  for (int index = 0; index < 10; ++index)
    for (int type = 0; type <= 9; ++type)
      EXPECT_EQ(FQuery.StringValue(index, static_cast<ToDataType>(type)), u"") << index << "/" << type;
}

TEST_F(TypedValues, CheckedByTheFieldList) {
  TDBFieldsList fields;
  const ToDataType types[] = {odtTinyint, odtSmallint, odtBigint, odtFloat,   odtFloat,
                              odtDateTime, odtDateTime, odtNVarchar, odtNClob, odtBlob};
  for (ToDataType type : types) fields.AddItem(u"f", u"f", type, u"");
  fields.Get(0)->FieldType = odtTinyint;
  OpenRow(1, &fields);
  EXPECT_EQ(FQuery.DBFieldsList(), &fields);
  const char16_t* expected[] = {u"200",  u"200", u"9007199254740993", u"0.5",       u"12.3456",
                                u"2023-03-15", u"2023-03-15 12:00:00.000", u"abc", u"long text", u"0x0102"};
  for (int index = 0; index < 10; ++index) EXPECT_EQ(FQuery.StringValue(index, true), expected[index]) << index;
  fields.Clear();
  fields.AddItem(u"i", u"i", odtInteger, u"");
  EXPECT_EQ(FQuery.StringValue(0, true), u"456");
  EXPECT_THROW(FQuery.StringValue(1, true), EListError);
}

TEST_F(TypedValues, ParametersRoundTrip) {
  test::SuiteDatabase()->Execute(
      u"drop table if exists pr; create table pr (t smallint, s smallint, i integer, b bigint, d double precision, "
      u"ts timestamp, v varchar(50), n integer, c text, bl bytea)");
  const std::pair<ToDataType, const char16_t*> values[] = {
      {odtTinyint, u"200"},
      {odtSmallint, u"-32768"},
      {odtInteger, u"2147483647"},
      {odtBigint, u"-9007199254740993"},
      {odtFloat, u"0.125"},
      {odtDateTime, u"2024-02-29 13:45:10.123"},
      {odtNVarchar, u"\u00e9t\u00e9 \U0001F600"},
      {odtInteger, u""},
      {odtNClob, u"a long text"},
      {odtBlob, u"0x00FF7F"},
  };
  TExWriteQuery insert;
  insert.FillConnectionProps(&FConnection);
  insert.SetSQLText(u"insert into pr values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
  int index = 0;
  for (auto [type, text] : values) insert.FillParam(index++, type, text);
  insert.ExecSQL(false);
  EXPECT_EQ(insert.RowsAffected(), 1);

  FQuery.SetSQLText(u"select t, s, i, b, d, ts, v, n, c, bl from pr", nullptr, true, false);
  FQuery.Open();
  index = 0;
  for (auto [type, text] : values) {
    EXPECT_EQ(FQuery.StringValue(index, type), text) << index;
    ++index;
  }
}

TEST(ConnectionStates, ReadsAndWritesPutTheStateBack) {
  ZO_REQUIRE_TEST_DATABASE();
  TConnectionInfo connection;
  test::FillAsUpgradeTool(connection);
  connection.Open();
  TExReadQuery outer, inner, failing;
  for (TExReadQuery* q : {&outer, &inner, &failing}) q->FillConnectionProps(&connection);
  outer.SetSQLText(u"select 1", nullptr, false, true);
  inner.SetSQLText(u"select 2", nullptr, false, true);
  failing.SetSQLText(u"select no_such_column", nullptr, false, true);

  failing.Close();  // nothing open: nothing happens
  EXPECT_EQ(connection.State(), csIdle);
  EXPECT_THROW(failing.Open(), Exception);
  EXPECT_EQ(connection.State(), csIdle);

  outer.Open();
  EXPECT_EQ(connection.State(), csReading);
  inner.OpenSP();
  EXPECT_EQ(connection.State(), csWriting);
  EXPECT_THROW(failing.Open(), Exception);
  EXPECT_EQ(connection.State(), csWriting);
  inner.Close();
  EXPECT_EQ(connection.State(), csReading);
  outer.Close();
  EXPECT_EQ(connection.State(), csIdle);

  // A new text, or freeing the query, closes the cursor the same way.
  outer.Open();
  outer.SetSQLText(u"select 3", nullptr, false, true);
  EXPECT_EQ(connection.State(), csIdle);
  {
    TExReadQuery freed;
    freed.FillConnectionProps(&connection);
    freed.SetSQLText(u"select 4", nullptr, false, true);
    freed.Open();
    EXPECT_EQ(connection.State(), csReading);
  }
  EXPECT_EQ(connection.State(), csIdle);

  TExWriteQuery write;
  write.FillConnectionProps(&connection);
  write.SetSQLText(u"select 1/0");
  EXPECT_THROW(write.ExecSQL(false), Exception);
  EXPECT_EQ(connection.State(), csIdle);
  write.SetSQLText(u"select 1");
  write.ExecSQL(false);
  EXPECT_EQ(connection.State(), csIdle);
}

TEST(ConnectionStates, PostgreSQLStaysInactiveWhileAQueryIsOpen) {
  ZO_REQUIRE_TEST_DATABASE();
  TConnectionInfo connection;
  test::FillAsPostgreSQL(connection);
  connection.Open();
  TExReadQuery query;
  query.FillConnectionProps(&connection);
  query.SetSQLText(u"select 1", nullptr, false, true);
  query.Open();
  EXPECT_EQ(connection.State(), csInactive);
  EXPECT_EQ(query.IntegerValue(0, 0), 1);
  query.Close();
  EXPECT_EQ(connection.State(), csInactive);
}

TEST(ConnectionStates, FailedTransactionStatementOnTheRealDriver) {
  // The SQL Server texts are refused by this server: a real ODBC failure of
  // each transaction statement and of the transaction-count query.
  ZO_REQUIRE_TEST_DATABASE();
  TConnectionInfo connection;
  test::FillAsUpgradeTool(connection);
  connection.Open();
  const String message = test::MessageOf([&] { connection.StartTran(); });
  EXPECT_EQ(message.substr(0, 8), u"42601 : ") << ToUtf8(message);
  EXPECT_EQ(connection.TranCount(), 0);
  EXPECT_EQ(connection.State(), csIdle);
  EXPECT_FALSE(connection.FullRollback());
  EXPECT_THROW(connection.GetSQLTranCount(), Exception);
  EXPECT_EQ(connection.State(), csIdle);
  EXPECT_THROW(connection.InSQLTransaction(), Exception);
  EXPECT_EQ(connection.State(), csIdle);
}

// The error hook on SQL Server asks the server whether the transaction is
// still open; the answer is scripted, the failing statements are real.
TEST(ErrorHook, SQLServerMarksTheInternalRollbackOnlyWhenTheTransactionIsGone) {
  ZO_REQUIRE_TEST_DATABASE();
  struct Case {
    int depth;
    std::optional<int> serverTranCount;
    bool write;
    int questions;
    bool fullRollback;
  };
  const Case cases[] = {
      {0, 0, false, 0, false},              // outside a transaction nothing is asked
      {1, 1, false, 1, false},              // still open: nothing lost
      {2, 0, false, 1, true},               // the server rolled back
      {1, std::nullopt, false, 1, true},    // cannot tell: counted as lost
      {1, 1, true, 1, false},
      {1, 0, true, 1, true},
  };
  for (const Case& c : cases) {
    RecordingConnection connection(stSQLServer);
    test::FillAsUpgradeTool(connection);
    connection.Open();
    for (int level = 0; level < c.depth; ++level) connection.StartTran();
    connection.ServerTranCount = c.serverTranCount;
    if (c.write) {
      TExWriteQuery query;
      query.FillConnectionProps(&connection);
      query.SetSQLText(u"insert into no_such_table values (1)");
      EXPECT_THROW(query.ExecSQL(false), Exception);
    } else {
      TExReadQuery query;
      query.FillConnectionProps(&connection);
      query.SetSQLText(u"select no_such_column", nullptr, false, true);
      EXPECT_THROW(query.Open(), Exception);
    }
    EXPECT_EQ(connection.TranCountQuestions, c.questions) << c.depth << c.write;
    EXPECT_EQ(connection.FullRollback(), c.fullRollback) << c.depth << c.write;
    EXPECT_EQ(connection.State(), csIdle);
  }
}

TEST(ErrorHook, OutsideTheQueryStatesTheTransactionCountsAsLost) {
  ZO_REQUIRE_TEST_DATABASE();
  RecordingConnection connection(stSQLServer);
  test::FillAsUpgradeTool(connection);
  connection.Open();
  connection.StartTran();
  TExWriteQuery query;
  query.FillConnectionProps(&connection);
  query.SetCommandText(u"select 1/0");
  EXPECT_THROW(query.Execute(false), Exception);  // the statement's own Execute: state stays idle
  EXPECT_EQ(connection.TranCountQuestions, 0);
  EXPECT_TRUE(connection.FullRollback());
}

TEST(ErrorHook, WritesAreRefusedAfterTheInternalRollbackExceptDuringRollback) {
  ZO_REQUIRE_TEST_DATABASE();
  test::SuiteDatabase()->Execute(u"drop table if exists rb_yes; drop table if exists rb_no");
  RecordingConnection connection(stSQLServer);
  test::FillAsUpgradeTool(connection);
  connection.Open();
  connection.MarkFullRollback();
  TExWriteQuery query;
  query.FillConnectionProps(&connection);

  query.SetSQLText(u"create table rb_no (a integer)");
  EXPECT_THROW(query.ExecSQL(false), Exception);
  EXPECT_FALSE(TableExists(u"rb_no"));

  connection.ForceState(csRollbackingTran);
  query.SetSQLText(u"create table rb_yes (a integer)");
  query.ExecSQL(false);
  EXPECT_TRUE(TableExists(u"rb_yes"));
  EXPECT_EQ(connection.State(), csRollbackingTran);
}

TEST(ConnectionInfo, ChangingTheConnectionStringForgetsTheSession) {
  ZO_REQUIRE_TEST_DATABASE();
  TConnectionInfo connection;
  test::FillAsPostgreSQL(connection);
  connection.Open();
  connection.StartTran();
  ASSERT_EQ(connection.TranCount(), 1);
  test::FillAsPostgreSQL(connection);  // disconnects: the server ends the transaction
  EXPECT_FALSE(connection.Active());
  EXPECT_EQ(connection.TranCount(), 0);
  connection.Open();
  connection.StartTran();  // a fresh outermost level, not a save point of a lost one
  connection.CommitTran(true);
  EXPECT_EQ(connection.TranCount(), 0);
}

}  // namespace
}  // namespace zo
