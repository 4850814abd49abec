// The test server for every database suite: the private PostgreSQL cluster
// that scripts/test.sh (or scripts/testdb.sh) starts, reached through the
// driver manager and the driver registered as "SQL Server".
//
//   ZO_TEST_DATABASE_ENVIRONMENT(data)   // once per test program: a private
//                                         // database data_<pid>, created before
//                                         // the first test, dropped after the last
//   TEST(X, Y) {
//     ZO_REQUIRE_TEST_DATABASE();         // skips without a server (see
//                                         // tests/DatabaseSuite.h)
//     TODBCDatabase db;
//     db.SetConnectionString(zo::test::SuiteDatabase()->ConnectionString());
//   }
//
// The server is described by ZO_TEST_PGHOST, ZO_TEST_PGPORT, ZO_TEST_PGUSER,
// ZO_TEST_PGPASSWORD and ZO_TEST_PGDATABASE. The port travels inside the
// server value ("127.0.0.1;Port=N"), as the connection templates insert the
// server name verbatim.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <string>

#include "core/String.h"
#include "odbc/ODBCDatabase.h"
#include "odbc/ODBCStatement.h"
#include "platform/Utf.h"
#include "tests/DatabaseSuite.h"

namespace zo::test {

struct TestServer {
  String Host;
  String Port;
  String User;
  String Password;
  String Database;  // the database the role owns; suites make their own beside it

  // Empty when ZO_TEST_PGPORT is not set.
  static std::optional<TestServer> FromEnvironment() {
    auto env = [](const char* name, const char* fallback) {
      const char* value = std::getenv(name);
      return FromUtf8(value && *value ? value : fallback);
    };
    const char* port = std::getenv("ZO_TEST_PGPORT");
    if (!port || !*port) return std::nullopt;
    return TestServer{env("ZO_TEST_PGHOST", "127.0.0.1"), FromUtf8(port), env("ZO_TEST_PGUSER", "zo_test"),
                      env("ZO_TEST_PGPASSWORD", ""), env("ZO_TEST_PGDATABASE", "zo_test")};
  }

  // The server value of a connection string: host and port.
  String ServerName() const { return Host + u";Port=" + Port; }

  // A connection string for the "SQL Server" driver; Extra (such as
  // "BoolsAsChar=0") is appended as further driver options.
  String ConnectionString(const String& ADatabase, const String& Extra = String()) const {
    String text = u"DRIVER={SQL Server};SERVER=" + ServerName() + u";DATABASE=" + ADatabase + u";UID=" + User +
                  u";PWD=" + Password;
    if (!Extra.empty()) text += u";" + Extra;
    return text;
  }
  String ConnectionString() const { return ConnectionString(Database); }
};

// Runs one statement on a short-lived connection.
inline void ExecuteOn(const String& AConnectionString, const String& Sql) {
  TODBCDatabase db;
  db.SetConnectionString(AConnectionString);
  TODBCStatement stmt;
  stmt.SetDatabase(&db);
  stmt.SetCommandText(Sql);
  stmt.Execute(false);
}

// A database of its own for one test program, named <suite>_<pid>, dropped
// (with any connections still on it) when the object goes.
class TestDatabase {
 public:
  TestDatabase(const TestServer& Server, const std::string& Suite)
      : FServer(Server), FName(FromUtf8(Suite + "_" + std::to_string(::getpid()))) {
    ExecuteOn(FServer.ConnectionString(), u"DROP DATABASE IF EXISTS " + FName + u" WITH (FORCE)");
    ExecuteOn(FServer.ConnectionString(), u"CREATE DATABASE " + FName);
  }
  ~TestDatabase() {
    try {
      ExecuteOn(FServer.ConnectionString(), u"DROP DATABASE IF EXISTS " + FName + u" WITH (FORCE)");
    } catch (const std::exception& e) {
      std::fprintf(stderr, "cannot drop test database: %s\n", e.what());
    }
  }
  TestDatabase(const TestDatabase&) = delete;
  TestDatabase& operator=(const TestDatabase&) = delete;

  const TestServer& Server() const { return FServer; }
  const String& Name() const { return FName; }
  String ConnectionString(const String& Extra = String()) const { return FServer.ConnectionString(FName, Extra); }
  void Execute(const String& Sql) const { ExecuteOn(ConnectionString(), Sql); }

 private:
  TestServer FServer;
  String FName;
};

// The program's private database while its tests run; null without a server.
inline std::unique_ptr<TestDatabase>& SuiteDatabaseSlot() {
  static std::unique_ptr<TestDatabase> slot;
  return slot;
}
inline TestDatabase* SuiteDatabase() { return SuiteDatabaseSlot().get(); }

class TestDatabaseEnvironment : public ::testing::Environment {
 public:
  explicit TestDatabaseEnvironment(std::string Suite) : FSuite(std::move(Suite)) {}
  void SetUp() override {
    // One per program: a second registration shares the first database.
    if (SuiteDatabase()) return;
    auto server = TestServer::FromEnvironment();
    if (!server) return;
    try {
      SuiteDatabaseSlot() = std::make_unique<TestDatabase>(*server, FSuite);
    } catch (const std::exception& e) {
      // A server that was promised but cannot be used fails the program
      // instead of skipping its tests.
      FAIL() << "cannot create the test database " << FSuite << "_<pid>: " << e.what();
    }
  }
  void TearDown() override { SuiteDatabaseSlot().reset(); }

 private:
  std::string FSuite;
};

}  // namespace zo::test

// Registers the program's private database, once per test program; Suite
// must be a lower-case identifier.
#define ZO_TEST_DATABASE_ENVIRONMENT(Suite)                                                  \
  [[maybe_unused]] static ::testing::Environment* const zo_test_database_environment_ = \
      ::testing::AddGlobalTestEnvironment(new ::zo::test::TestDatabaseEnvironment(#Suite))

// Skips the test when the run promised no server; a promised server whose
// database could not be made has failed the program already.
#define ZO_REQUIRE_TEST_DATABASE()                                                    \
  do {                                                                                \
    ZO_SKIP_WITHOUT_TEST_SERVER();                                                    \
    if (!::zo::test::SuiteDatabase()) FAIL() << "the promised test server is not usable"; \
  } while (0)
