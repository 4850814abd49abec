// A window connected to a real database on the test server, with stand-in
// programs named Lifter.exe in the version folders that record how they were
// called and change the database the way the real upgrade program would
// (standin/StandInLifter.cpp: a program of this system, so the suites run
// under Wine too).
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedDialogs.h"
#include "core/Exception.h"
#include "core/StringUtils.h"
#include "crypt/CryptUtils.h"
#include "crypt/SystemKey.h"
#include "odbc/ODBCDatabase.h"
#include "odbc/ODBCStatement.h"
#include "tests/DatabaseSuite.h"
#include "tests/upliner/StampCipher.h"

namespace zo::testing {

inline const char* EnvOrEmpty(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

inline std::string ShellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs SQL on the test server through ODBC, as the suite's own tool for
// setting up and checking the database behind the window, and returns the
// result as psql's unaligned tuples-only output would show it: the rows on
// lines of their own, the columns joined with '|'.
inline std::string RunSql(const std::string& database, const std::string& sql) {
  std::string output;
  try {
    TODBCDatabase db;
    db.SetConnectionString(FromUtf8(std::string("DRIVER={SQL Server};SERVER=") + EnvOrEmpty("ZO_TEST_PGHOST") +
                                    ";Port=" + EnvOrEmpty("ZO_TEST_PGPORT") + ";DATABASE=" + database +
                                    ";UID=" + EnvOrEmpty("ZO_TEST_PGUSER") + ";PWD=" + EnvOrEmpty("ZO_TEST_PGPASSWORD")));
    TODBCStatement stmt;
    stmt.SetDatabase(&db);
    stmt.SetCommandText(FromUtf8(sql));
    const std::string verb = sql.substr(0, sql.find_first_of(" \t\n"));
    if (verb != "SELECT" && verb != "select") {
      stmt.Execute(false);
      return output;
    }
    stmt.Open();
    for (; !stmt.Eof(); stmt.Next()) {
      if (!output.empty()) output += '\n';
      for (int i = 0; i < stmt.FieldCount(); ++i) output += (i > 0 ? "|" : "") + ToUtf8(stmt.StringValue(i));
    }
    stmt.Close();
  } catch (const std::exception& e) {
    ADD_FAILURE() << "SQL failed: " << sql << "\n" << ToUtf8(ExceptionMessage(e));
  }
  return output;
}

// The encrypted copy of a stamp, as SQL text.
inline std::string EncryptedStampLiteral(const String& text) { return ToUtf8(ByteaLiteral(EncryptedStamp(text))); }

class UpgradeFixture : public AppDirFixture {
 protected:
  static void TearDownTestSuite() {
    if (!Database().empty() && Created())
      RunSql(EnvOrEmpty("ZO_TEST_PGDATABASE"), "DROP DATABASE IF EXISTS " + Database() + " WITH (FORCE)");
    Created() = false;
  }

  void SetUp() override {
    ZO_SKIP_WITHOUT_TEST_SERVER();
    AppDirFixture::SetUp();
    if (!Created()) {
      RunSql(EnvOrEmpty("ZO_TEST_PGDATABASE"), "DROP DATABASE IF EXISTS " + Database() + " WITH (FORCE)");
      RunSql(EnvOrEmpty("ZO_TEST_PGDATABASE"), "CREATE DATABASE " + Database());
      Created() = true;
    }
    Sql("DROP SCHEMA IF EXISTS dbo CASCADE; CREATE SCHEMA dbo;"
        "CREATE TABLE dbo.a15830u10 (a277u0 varchar(50), a212u0 bytea, a2439u0 integer, a2583u0 integer);"
        "CREATE TABLE dbo.a194u0 (ic bigint, u integer);");
    // The run promised a server: one that cannot be used ends the test here.
    if (HasFailure()) FAIL() << "the test server promised by ZO_TEST_PGPORT cannot be used";
    WriteFile("LicenceNumber.txt", "L-4711\n");
  }

  // One database per suite run, named after the process: suites running in
  // parallel on the same server never meet.
  static std::string Database() {
    static const std::string name = "upliner_seq_" + std::to_string(::getpid());
    return name;
  }
  static bool& Created() {
    static bool created = false;
    return created;
  }

  std::string Sql(const std::string& sql) const { return RunSql(Database(), sql); }

  // The stamp row: the plain version with its consistent encrypted copy.
  void SetStamp(const std::string& version, bool archive = false, bool extDB = false) const {
    Sql("DELETE FROM dbo.a15830u10; INSERT INTO dbo.a15830u10 VALUES ('" + version + "', " +
        EncryptedStampLiteral(FromUtf8(version) + u",0") + ", " + (archive ? "1" : "0") + ", " + (extDB ? "1" : "0") + ")");
  }
  std::string StampVersion() const { return Sql("SELECT a277u0 FROM dbo.a15830u10"); }
  void SetLanguages(const std::vector<std::string>& codes) const {
    std::string sql = "DELETE FROM dbo.a194u0;";
    for (const std::string& code : codes) {
      const auto comma = code.find(',');
      sql += "INSERT INTO dbo.a194u0 VALUES (" + code.substr(0, comma) + ", " + code.substr(comma + 1) + ");";
    }
    Sql(sql);
  }

  // What a stand-in program does after it has recorded its call, in the
  // lines of standin/StandInLifter.cpp: "reach" stamps the database with
  // the program's version.
  static constexpr const char* kReach = "reach";
  static constexpr const char* kCancel = "";
  static constexpr const char* kReachWithErrors = "errors Table a1 failed\\n\nerrors Index i1 failed\\n\nreach";
  // Adds or removes the supports the way -b and -x ask.
  static constexpr const char* kAlterSupport =
      "if -b0 sql update dbo.a15830u10 set a2439u0=1\n"
      "if -b1 sql update dbo.a15830u10 set a2439u0=0\n"
      "if -x0 sql update dbo.a15830u10 set a2583u0=1\n"
      "if -x1 sql update dbo.a15830u10 set a2583u0=0";

  // Lifter_<version>/Lifter.exe as the stand-in program, which appends one
  // line to calls.log, "<version> -l.. -b.. -x.. -h..", records its
  // arguments, then acts out Behaviour.
  void WriteLifter(const std::string& version, const std::string& behaviour) const {
    const std::string folder = "Lifter_" + version;
    std::filesystem::create_directories(Path(folder));
    std::filesystem::copy_file(ZO_STANDIN_LIFTER_PATH, Path(folder + "/Lifter.exe"),
                               std::filesystem::copy_options::overwrite_existing);
    WriteFile(folder + "/behaviour.txt", behaviour + "\n");
  }

  // The lines of calls.log: one per run of a script program, in order.
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::ifstream in(Path("calls.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The arguments one run of Lifter_<version> received, one per line (the
  // program's own path, which the record starts with, left out).
  std::vector<std::string> ArgsOf(const std::string& version) const {
    std::vector<std::string> lines;
    std::ifstream in(Path("args-" + version + ".txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
  }

  // A window started with Args, its connection fields set to the suite's
  // database, and Connect pressed. Visibility changes are recorded.
  std::unique_ptr<TReinstallForm> OpenConnected(std::vector<String> args = {}) {
    auto form = Open(std::move(args));
    form->Visible = true;
    TReinstallForm* f = form.get();
    f->OnVisibilityChange = [this, f] { Visibility.push_back(f->Visible); };
    FillConnection(*f);
    f->UserClick(f->BConnect);
    EXPECT_TRUE(f->FConnected) << (dialogs.Messages.empty() ? "" : ToUtf8(dialogs.Messages.back()));
    return form;
  }
  void FillConnection(TReinstallForm& f) const {
    f.UserSetText(f.CServerName, FromUtf8(std::string(EnvOrEmpty("ZO_TEST_PGHOST")) + ";Port=" +
                                          EnvOrEmpty("ZO_TEST_PGPORT")));
    f.UserSetText(f.EUserName, FromUtf8(EnvOrEmpty("ZO_TEST_PGUSER")));
    f.UserSetText(f.EPassword, FromUtf8(EnvOrEmpty("ZO_TEST_PGPASSWORD")));
    f.UserSetText(f.CDatabaseName, FromUtf8(Database()));
  }

  std::vector<bool> Visibility;  // the window's visibility after each change
};

}  // namespace zo::testing
