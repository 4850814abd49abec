// Connections and transactions against the test server through the driver
// manager, and browsing through drivers that cannot or can browse.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <dlfcn.h>
#endif

#include <regex>

#include "core/Exception.h"
#include "odbc/ODBCDatabase.h"
#include "odbc/ODBCStatement.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"
#include "tests/odbc/TestDatabase.h"
#include "tests/odbc/TestDriver.h"

// One private database for the whole odbc_tests program.
ZO_TEST_DATABASE_ENVIRONMENT(odbc);
// Before any ODBC call of the program.
static const bool kTestDriverRegistered = zo::test::RegisterTestDriver();

namespace zo {
namespace {

using test::MessageOf;
using test::SuiteDatabase;

// Every line of an ODBC error text: SQLSTATE, " : ", a message, CR LF.
bool IsODBCErrorText(const String& text) {
  static const std::regex line("^([0-9A-Z]{5} : [^\r\n]*\r\n)+$");
  return std::regex_match(ToUtf8(text), line);
}

String ScalarText(TODBCDatabase& db, const String& sql) {
  TODBCStatement stmt;
  stmt.SetDatabase(&db);
  stmt.SetCommandText(sql);
  stmt.Open();
  String value = stmt.StringValue(0);
  stmt.Close();
  return value;
}

class ODBCDatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZO_REQUIRE_TEST_DATABASE();
    SuiteDatabase()->Execute(u"CREATE TABLE IF NOT EXISTS tx_probe (id integer)");
    SuiteDatabase()->Execute(u"DELETE FROM tx_probe");
  }
};

TEST_F(ODBCDatabaseTest, ConnectDisconnectAndReconnect) {
  TODBCDatabase db;
  db.SetConnectionString(SuiteDatabase()->ConnectionString());
  EXPECT_FALSE(db.Active());
  db.Connect();
  ASSERT_TRUE(db.Active());
  EXPECT_NE(db.DBCHandle(), nullptr);
  EXPECT_EQ(db.TXNCapable(), SQL_TC_ALL);

  // Connect on an active object neither reconnects nor fails.
  const SQLHDBC handle = db.DBCHandle();
  const String pid = ScalarText(db, u"select pg_backend_pid()");
  db.Connect();
  EXPECT_EQ(db.DBCHandle(), handle);
  EXPECT_EQ(ScalarText(db, u"select pg_backend_pid()"), pid);

  // The isolation level set after connecting.
  EXPECT_EQ(ScalarText(db, u"show transaction_isolation"), u"read committed");

  db.Disconnect();
  EXPECT_FALSE(db.Active());
  EXPECT_EQ(db.DBCHandle(), nullptr);
  db.Disconnect();  // nothing when inactive

  db.Connect();
  EXPECT_TRUE(db.Active());
  EXPECT_NE(ScalarText(db, u"select pg_backend_pid()"), pid);
}

TEST_F(ODBCDatabaseTest, ChangedConnectionStringDisconnectsAndTheNextStatementUsesIt) {
  TODBCDatabase db;
  db.SetConnectionString(SuiteDatabase()->ConnectionString());
  db.Connect();
  EXPECT_EQ(ScalarText(db, u"select current_database()"), SuiteDatabase()->Name());

  const test::TestServer& server = SuiteDatabase()->Server();
  db.SetConnectionString(server.ConnectionString());
  EXPECT_FALSE(db.Active());
  EXPECT_EQ(db.ConnectionString(), server.ConnectionString());
  // The statement connects by itself, with the new string.
  EXPECT_EQ(ScalarText(db, u"select current_database()"), server.Database);
  EXPECT_TRUE(db.Active());
}

TEST_F(ODBCDatabaseTest, WrongPasswordFailsWithTheServersDiagnosticAndLeavesNoHandles) {
  test::TestServer server = SuiteDatabase()->Server();
  server.Password = u"not-the-password";
  TODBCDatabase db;
  db.SetConnectionString(server.ConnectionString(SuiteDatabase()->Name()));
  const String message = MessageOf([&] { db.Connect(); });
  // The server's text may carry line breaks of its own; the line still ends
  // with CR LF.
  EXPECT_EQ(message.substr(0, 8), u"08001 : ") << ToUtf8(message);
  EXPECT_EQ(message.substr(message.size() - 2), u"\r\n");
  EXPECT_NE(message.find(u"password authentication failed"), String::npos) << ToUtf8(message);
  EXPECT_FALSE(db.Active());
  EXPECT_EQ(db.DBCHandle(), nullptr);

  // The same object connects once the string is right.
  db.SetConnectionString(SuiteDatabase()->ConnectionString());
  db.Connect();
  EXPECT_TRUE(db.Active());
}

TEST_F(ODBCDatabaseTest, UnknownDriverFailsWithTheDriverManagersDiagnostic) {
  TODBCDatabase db;
  db.SetConnectionString(u"DRIVER={No Such Driver};SERVER=x");
  const String message = MessageOf([&] { db.Connect(); });
  EXPECT_NE(message.find(u"No Such Driver"), String::npos) << ToUtf8(message);
  EXPECT_TRUE(IsODBCErrorText(message)) << ToUtf8(message);
  EXPECT_FALSE(db.Active());
}

TEST_F(ODBCDatabaseTest, TransactionsRollBackAndCommitThroughAutoCommit) {
  TODBCDatabase db;
  db.SetConnectionString(SuiteDatabase()->ConnectionString());
  db.Connect();
  TODBCStatement stmt;
  stmt.SetDatabase(&db);
  auto count = [&] { return ScalarText(db, u"select count(*) from tx_probe"); };
  auto autoCommit = [&] {
    SQLULEN value = 99;
    SQLGetConnectAttr(db.DBCHandle(), SQL_ATTR_AUTOCOMMIT, &value, 0, nullptr);
    return value;
  };

  db.StartTransaction();
  EXPECT_EQ(autoCommit(), SQL_AUTOCOMMIT_OFF);
  stmt.SetCommandText(u"insert into tx_probe values (1)");
  stmt.Execute();
  EXPECT_EQ(count(), u"1");
  db.Rollback();
  EXPECT_EQ(autoCommit(), SQL_AUTOCOMMIT_ON);
  EXPECT_EQ(count(), u"0");

  db.StartTransaction();
  stmt.Execute();
  db.Commit();
  EXPECT_EQ(autoCommit(), SQL_AUTOCOMMIT_ON);
  // Another connection sees the committed row.
  TODBCDatabase other;
  other.SetConnectionString(SuiteDatabase()->ConnectionString());
  EXPECT_EQ(ScalarText(other, u"select count(*) from tx_probe"), u"1");
}

TEST_F(ODBCDatabaseTest, DestroyingAnActiveConnectionWithAnOwnerFreesEverything) {
  // Run under the leak checker: the owner frees the database, the database
  // closes its handles.
  auto owner = std::make_unique<TComponent>();
  auto* db = new TODBCDatabase(owner.get());
  auto* stmt = new TODBCStatement(owner.get());
  stmt->SetDatabase(db);
  db->SetConnectionString(SuiteDatabase()->ConnectionString());
  EXPECT_EQ(owner->ComponentCount(), 2);
  delete stmt;  // leaves the owner's list
  EXPECT_EQ(owner->ComponentCount(), 1);
  db->Connect();
  owner.reset();
}

// psqlodbc does not implement browsing: its own error text comes through.
TEST_F(ODBCDatabaseTest, BrowsingWithTheServerDriverReachesItsDiagnostic) {
  TODBCDriver driver;
  const String servers = MessageOf([&] { driver.GetServerNames(u"{SQL Server}"); });
  EXPECT_TRUE(IsODBCErrorText(servers)) << ToUtf8(servers);
  EXPECT_EQ(servers.substr(0, 8), u"HYC00 : ") << ToUtf8(servers);

  const test::TestServer& server = SuiteDatabase()->Server();
  const String databases = MessageOf(
      [&] { driver.GetDatabaseNames(u"{SQL Server}", server.ServerName(), server.User, server.Password, false); });
  EXPECT_TRUE(IsODBCErrorText(databases)) << ToUtf8(databases);

  const String unknown = MessageOf([&] { driver.GetServerNames(u"{No Such Driver}"); });
  EXPECT_EQ(unknown.substr(0, 8), u"IM002 : ") << ToUtf8(unknown);
}

// ---------------------------------------------------------------------------
// Against the test driver: a small driver library of our own that browses,
// reports no transaction support and answers with several diagnostic records.

class TestDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The library is built with the tests: not finding it is a failure.
    ASSERT_TRUE(kTestDriverRegistered) << "the test driver library could not be registered";
#ifndef _WIN32
    // The same instance the driver manager loads: its counters show what
    // is still allocated or connected inside the driver.
    FLibrary = ::dlopen(ToUtf8(test::TestDriverPath()).c_str(), RTLD_NOW);
    ASSERT_NE(FLibrary, nullptr) << ::dlerror();
    FLiveHandles = reinterpret_cast<int (*)()>(::dlsym(FLibrary, "zo_test_driver_live_handles"));
    FOpenConnections = reinterpret_cast<int (*)()>(::dlsym(FLibrary, "zo_test_driver_open_connections"));
    ASSERT_TRUE(FLiveHandles && FOpenConnections);
#endif
  }
  void TearDown() override {
#ifndef _WIN32
    if (FLibrary) ::dlclose(FLibrary);
#endif
  }
  // A Windows program cannot load the host's driver library to read them;
  // a test checks the counters only after everything else it shows.
  static constexpr bool kCountersReadable =
#ifdef _WIN32
      false;
#else
      true;
#endif
  static constexpr const char* kCountersUnreadable =
      "the driver's handle counters need dlopen of the Linux library, which a Windows program cannot do";
  int LiveHandles() const { return FLiveHandles(); }
  int OpenConnections() const { return FOpenConnections(); }
  // Connections load it by path; browsing needs its registered name.
  String Driver() const { return test::TestDriverPath(); }
  String Browse() const { return u"{" + String(test::kTestDriverName) + u"}"; }

 private:
  void* FLibrary = nullptr;
  int (*FLiveHandles)() = nullptr;
  int (*FOpenConnections)() = nullptr;
};

TEST_F(TestDriverTest, NoTransactionSupportConnectsButRefusesTransactions) {
  TODBCDatabase db;
  db.SetConnectionString(u"DRIVER=" + Driver() + u";TXN=0");
  db.Connect();
  EXPECT_TRUE(db.Active());
  EXPECT_EQ(db.TXNCapable(), SQL_TC_NONE);
  for (auto action : {&TODBCDatabase::StartTransaction, &TODBCDatabase::Commit, &TODBCDatabase::Rollback})
    EXPECT_EQ(MessageOf([&] { (db.*action)(); }), u"Transactions are not supported by this ODBC driver.");
  // No isolation level was set on such a connection.
  SQLULEN isolation = 0;
  SQLGetConnectAttr(db.DBCHandle(), SQL_ATTR_TXN_ISOLATION, &isolation, 0, nullptr);
  EXPECT_EQ(isolation, 0u);
  db.Disconnect();

  // With transactions the isolation level arrives at the driver.
  db.SetConnectionString(u"DRIVER=" + Driver() + u";TXN=2");
  db.Connect();
  SQLGetConnectAttr(db.DBCHandle(), SQL_ATTR_TXN_ISOLATION, &isolation, 0, nullptr);
  EXPECT_EQ(isolation, static_cast<SQLULEN>(SQL_TXN_READ_COMMITTED));
}

TEST_F(TestDriverTest, AFailureAfterConnectingDisconnectsAndFreesBothHandles) {
  TODBCDatabase db;
  db.SetConnectionString(u"DRIVER=" + Driver() + u";ISOFAIL=1");
  EXPECT_EQ(MessageOf([&] { db.Connect(); }), u"HY024 : [zo test driver] isolation level refused\r\n");
  EXPECT_FALSE(db.Active());
  EXPECT_EQ(db.DBCHandle(), nullptr);
  if (!kCountersReadable) GTEST_SKIP() << kCountersUnreadable;
  EXPECT_EQ(OpenConnections(), 0);
  EXPECT_EQ(LiveHandles(), 0);

  db.SetConnectionString(u"DRIVER=" + Driver());
  db.Connect();
  EXPECT_EQ(OpenConnections(), 1);
  db.Disconnect();
  EXPECT_EQ(OpenConnections(), 0);
  EXPECT_EQ(LiveHandles(), 0);
}

TEST_F(TestDriverTest, EveryDiagnosticRecordBecomesOneLineInOrder) {
  TODBCDatabase db;
  db.SetConnectionString(u"DRIVER=" + Driver() + u";FAIL=3");
  EXPECT_EQ(MessageOf([&] { db.Connect(); }),
            u"HY000 : [zo test driver] first record\r\n"
            u"HY000 : [zo test driver] second record\r\n"
            u"HY000 : [zo test driver] third record\r\n");
  EXPECT_FALSE(db.Active());
}

TEST_F(TestDriverTest, ACutMessageIsTheLastLineRead) {
  TODBCDatabase db;
  db.SetConnectionString(u"DRIVER=" + Driver() + u";FAIL=LONG");
  const String message = MessageOf([&] { db.Connect(); });
  // The long first record is cut at the buffer; the second is not read.
  ASSERT_EQ(message.substr(0, 8), u"42000 : ") << ToUtf8(message);
  EXPECT_EQ(message.size(), 8u + 253u + 2u) << ToUtf8(message);
  EXPECT_EQ(message.substr(message.size() - 2), u"\r\n");
}

TEST_F(TestDriverTest, BrowseListsServersAndDatabases) {
  TODBCDriver driver;
  EXPECT_EQ(driver.GetServerNames(Browse()), u"SRV1,SRV2\\SQLEXPRESS");
  EXPECT_EQ(driver.GetDatabaseNames(Browse(), u"SRV1", u"sa", u"secret", false), u"master,model,app");
  // User name and password go out with a trusted connection too. (This
  // driver manager keeps connection attributes set before connecting until a
  // connection completes, so the integrated-security switch does not reach
  // a driver during a browse here.)
  EXPECT_EQ(driver.GetDatabaseNames(Browse(), u"SRV1", u"sa", u"secret", true), u"master,model,app");
}

TEST_F(TestDriverTest, BrowseFailures) {
  TODBCDriver driver;
  // A login the driver rejects by SQL_NEED_DATA without a database list.
  EXPECT_EQ(MessageOf([&] { driver.GetDatabaseNames(Browse(), u"SRV1", u"sa", u"wrong", false); }),
            u"Invalid input values (ServerName,UserName or Password).");
  // A login the driver rejects with an error: its text.
  EXPECT_EQ(MessageOf([&] { driver.GetDatabaseNames(Browse(), u"DOWN", u"sa", u"secret", false); }),
            u"08001 : [zo test driver] server DOWN does not answer\r\n");
  // An empty server list is the empty text.
  EXPECT_EQ(driver.GetServerNames(Browse() + u";EMPTY=1"), u"");
  // Every browse, answered or failed, was ended and its handles freed.
  if (!kCountersReadable) GTEST_SKIP() << kCountersUnreadable;
  EXPECT_EQ(OpenConnections(), 0);
  EXPECT_EQ(LiveHandles(), 0);
}

}  // namespace
}  // namespace zo
