// The upgrade window against a private database on the test server: the
// stamp and language tables in schema dbo, a window whose connection fields
// name that database, a private program directory for Versions.sl and the
// version folders, and a private temporary directory ($TMPDIR, and TMP and
// TEMP for Windows) so that a test can see every result file the runner
// leaves behind. Paths are compared in their generic form, with '/', the
// separator the tool uses on every system.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "ScriptedDialogs.h"
#include "core/Exception.h"
#include "core/StringUtils.h"
#include "crypt/CryptUtils.h"
#include "crypt/SystemKey.h"
#include "odbc/ODBCDatabase.h"
#include "odbc/ODBCStatement.h"
#include "platform/Utf.h"
#include "tests/FileContents.h"
#include "tests/ScopedEnv.h"
#include "tests/ScratchDir.h"
#include "tests/odbc/TestDatabase.h"
#include "tests/upliner/StampCipher.h"
#include "upliner/ReinstallForm.h"

namespace zo::testing {

using test::ReadAll;

inline std::vector<std::string> ReadLines(const std::filesystem::path& Path) {
  std::vector<std::string> lines;
  std::ifstream in(Path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class StampFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ZO_REQUIRE_TEST_DATABASE();
    std::filesystem::create_directories(FScratch.Path("app"));
    std::filesystem::create_directories(TmpDir());
    FTmpDirVariable.emplace("TMPDIR", TmpDir().string());
#ifdef _WIN32
    FTmpVariable.emplace("TMP", TmpDir().string());
    FTempVariable.emplace("TEMP", TmpDir().string());
#endif

    Sql(u"drop schema if exists dbo cascade; create schema dbo;"
        u"create table dbo.a15830u10 (a277u0 varchar, a212u0 bytea, a2439u0 integer, a2583u0 integer);"
        u"create table dbo.a194u0 (ic bigint, u integer);");
    WriteAppFile("Versions.sl", "5.0\r\n5.1\r\n5.2\r\n");
  }

  void TearDown() override {
    form.reset();
    FTmpDirVariable.reset();
    FTmpVariable.reset();
    FTempVariable.reset();
  }

  static test::TestDatabase& Db() { return *test::SuiteDatabase(); }
  static void Sql(const String& Text) { Db().Execute(Text); }

  // The first column of the first row as text; nothing when there is no row.
  static std::optional<String> Query(const String& Text) {
    TODBCDatabase db;
    db.SetConnectionString(Db().ConnectionString());
    TODBCStatement stmt;
    stmt.SetDatabase(&db);
    stmt.SetCommandText(Text);
    stmt.Open();
    std::optional<String> value;
    if (!stmt.IsEmpty()) value = stmt.StringValue(0);
    stmt.Close();
    return value;
  }

  // The stamp row: the plain version (nullopt: NULL) and the encrypted copy
  // given as its text (nullopt: NULL), or as raw bytes.
  static void SetStamp(std::optional<String> Plain, std::optional<String> Encrypted, String Archive = u"NULL",
                       String ExtDB = u"NULL") {
    SetStampBytes(Plain, Encrypted ? std::optional<Bytes>(EncryptedStamp(*Encrypted)) : std::nullopt, Archive,
                  ExtDB);
  }
  static void SetStampBytes(std::optional<String> Plain, std::optional<Bytes> Cipher, String Archive = u"NULL",
                            String ExtDB = u"NULL") {
    Sql(u"delete from dbo.a15830u10; insert into dbo.a15830u10 values (" +
        (Plain ? u"'" + *Plain + u"'" : String(u"NULL")) + u", " +
        (Cipher ? ByteaLiteral(*Cipher) : String(u"NULL")) + u", " + Archive + u", " + ExtDB + u")");
  }
  // A consistent release stamp.
  static void SetVersion(const String& Version) { SetStamp(Version, Version + u",0"); }
  static String PlainVersion() { return Query(u"select a277u0 from dbo.a15830u10").value_or(u"<no row>"); }

  std::filesystem::path AppPath(const std::string& Name = "") const { return FScratch.Path("app") / Name; }
  std::filesystem::path TmpDir() const { return FScratch.Path("tmp"); }
  String AppDir() const { return AppPath().parent_path().generic_u16string(); }
  void WriteAppFile(const std::string& Name, const std::string& Bytes) const {
    std::filesystem::create_directories(AppPath(Name).parent_path());
    std::ofstream(AppPath(Name), std::ios::binary) << Bytes;
  }
  // What is left in the private temporary directory.
  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(TmpDir())) names.push_back(entry.path().generic_string());
    return names;
  }

  String ServerName() const { return Db().Server().ServerName(); }

  // A window created and activated with Args, its connection fields naming
  // the suite's database.
  TReinstallForm& OpenForm(std::vector<String> Args = {}) {
    form = std::make_unique<TReinstallForm>(dialogs, AppDir());
    form->FormCreate(Args);
    form->FormActivate();
    form->SetText(form->CServerName, ServerName());
    form->SetText(form->CDatabaseName, Db().Name());
    form->SetText(form->EUserName, Db().Server().User);
    form->SetText(form->EPassword, Db().Server().Password);
    return *form;
  }

  // One run of the step runner for version 5.1: its result, or the message
  // of the error it raised.
  struct Outcome {
    std::optional<TStepResult> Result;
    std::optional<String> Error;
  };
  static Outcome Run(TReinstallForm& F, TMTSActionType Langs = {}, TSupportAction Archive = saKeep,
                     TSupportAction ExtDB = saKeep, bool LastStep = true) {
    Outcome outcome;
    try {
      outcome.Result = F.RunUpgradeStep(u"5.1", Langs, Archive, ExtDB, LastStep);
    } catch (const Exception& E) {
      outcome.Error = E.Message();
    }
    return outcome;
  }

  ScriptedDialogs dialogs;
  std::unique_ptr<TReinstallForm> form;

 private:
  test::ScratchDir FScratch{"upliner-db"};
  std::optional<test::ScopedEnv> FTmpDirVariable, FTmpVariable, FTempVariable;
};

}  // namespace zo::testing
