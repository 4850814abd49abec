// A window connected to a real database on the test server, with script
// programs named Lifter.exe in the version folders that record how they were
// called and change the database the way the real upgrade program would.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "ScriptedDialogs.h"
#include "core/StringUtils.h"
#include "crypt/CryptUtils.h"
#include "crypt/SystemKey.h"
#include "tests/DatabaseSuite.h"

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

// psql against the test server, as the suite's own tool for setting up and
// checking the database behind the window.
inline std::string PsqlCommand(const std::string& database) {
  return "PGPASSWORD=" + ShellQuoted(EnvOrEmpty("ZO_TEST_PGPASSWORD")) +
         " /usr/lib/postgresql/15/bin/psql -X -q -A -t -v ON_ERROR_STOP=1 -h " + EnvOrEmpty("ZO_TEST_PGHOST") +
         " -p " + EnvOrEmpty("ZO_TEST_PGPORT") + " -U " + EnvOrEmpty("ZO_TEST_PGUSER") + " -d " +
         ShellQuoted(database);
}

// Runs SQL and returns what it printed (unaligned, tuples only).
inline std::string RunSql(const std::string& database, const std::string& sql) {
  const std::string command = PsqlCommand(database) + " -c " + ShellQuoted(sql) + " 2>&1";
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
    if (::pclose(pipe) != 0) ADD_FAILURE() << "psql failed: " << sql << "\n" << output;
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == '\r')) output.pop_back();
  return output;
}

// The encrypted copy of a stamp, as bytea literal text.
inline std::string EncryptedStamp(const String& text) {
  const Bytes cipher = TCryptUtils::Encode(caAES, SystemKey, Utf16LEBytes(text));
  static const char digits[] = "0123456789abcdef";
  std::string hex = "'\\x";
  for (std::uint8_t b : cipher) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex + "'::bytea";
}

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
        EncryptedStamp(FromUtf8(version) + u",0") + ", " + (archive ? "1" : "0") + ", " + (extDB ? "1" : "0") + ")");
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

  // What a script program does after it has read its arguments: shell lines
  // with $version, $errors, $changes, $b, $x at hand and the functions
  // sql "<statement>" and reach (stamp the database with $version).
  static constexpr const char* kReach = "reach";
  static constexpr const char* kCancel = ":";
  static constexpr const char* kReachWithErrors =
      "echo 'Table a1 failed' >>\"$errors\"; echo 'Index i1 failed' >>\"$errors\"; reach";
  // Adds or removes the supports the way -b and -x ask.
  static constexpr const char* kAlterSupport =
      "case $b in -b0) sql 'update dbo.a15830u10 set a2439u0=1';; -b1) sql 'update dbo.a15830u10 set a2439u0=0';; esac\n"
      "case $x in -x0) sql 'update dbo.a15830u10 set a2583u0=1';; -x1) sql 'update dbo.a15830u10 set a2583u0=0';; esac";

  // Lifter_<version>/Lifter.exe as a script that appends one line to
  // calls.log, "<version> -l.. -b.. -x.. -h..", then runs Behaviour.
  void WriteLifter(const std::string& version, const std::string& behaviour) const {
    const std::string folder = "Lifter_" + version;
    std::filesystem::create_directories(Path(folder));
    std::ostringstream script;
    script << "#!/bin/bash\n"
           << "version=" << ShellQuoted(version) << "\n"
           << "for a in \"$@\"; do case \"$a\" in\n"
           << "  -D*) db=${a#-D};; -e*) errors=${a#-e};; -c*) changes=${a#-c};;\n"
           << "  -l*) l=$a;; -b*) b=$a;; -x*) x=$a;; -h*) h=$a;; -d*) d=$a;; -N*) n=$a;;\n"
           << "esac; done\n"
           << "echo \"$version $l $b $x $h\" >>" << ShellQuoted(Path("calls.log").string()) << "\n"
           << "printf '%s\\n' \"$@\" >" << ShellQuoted(Path("args-" + version + ".txt").string()) << "\n"
           << "sql() { PGPASSWORD=\"$ZO_TEST_PGPASSWORD\" /usr/lib/postgresql/15/bin/psql -X -q -v ON_ERROR_STOP=1"
              " -h \"$ZO_TEST_PGHOST\" -p \"$ZO_TEST_PGPORT\" -U \"$ZO_TEST_PGUSER\" -d \"$db\" -c \"$1\" >/dev/null; }\n"
           << "reach() { sql \"update dbo.a15830u10 set a277u0='$version', a212u0=NULL\"; }\n"
           << behaviour << "\n";
    WriteFile(folder + "/Lifter.exe", script.str());
    ::chmod(Path(folder + "/Lifter.exe").c_str(), 0755);
  }

  // The lines of calls.log: one per run of a script program, in order.
  std::vector<std::string> Calls() const {
    std::vector<std::string> lines;
    std::ifstream in(Path("calls.log"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // The arguments one run of Lifter_<version> received, one per line.
  std::vector<std::string> ArgsOf(const std::string& version) const {
    std::vector<std::string> lines;
    std::ifstream in(Path("args-" + version + ".txt"));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
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
