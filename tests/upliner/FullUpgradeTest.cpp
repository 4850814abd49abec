// One whole upgrade through the reference upgrade program, from the oldest to
// the newest version of the demo's Versions.sl, with the demo's scripts.
#include <optional>

#include "UpgradeFixture.h"
#include "platform/Process.h"

namespace zo::testing {
namespace {

class FullUpgradeTest : public UpgradeFixture {
 protected:
  // The tool's directory as the demo lays it out: the version list, the
  // installation files, and per version the program and its scripts.
  void LayOutDemo() const {
    const std::filesystem::path demo = ZO_DEMO_DIR;
    for (const char* file : {"Versions.sl", "LicenceNumber.txt", "TargetLanguages.txt"})
      std::filesystem::copy_file(demo / file, Path(file), std::filesystem::copy_options::overwrite_existing);
    for (const char* version : {"5.0", "5.1", "5.2", "5.3"}) {
      const std::string data = std::string("IVersion_") + version;
      std::filesystem::copy(demo / data, Path(data), std::filesystem::copy_options::recursive);
      std::filesystem::create_directories(Path(std::string("Lifter_") + version));
      std::filesystem::copy_file(ZO_LIFTER_PATH, Path(std::string("Lifter_") + version + "/Lifter.exe"));
    }
  }

  // A new database as the installer leaves it, laid in at 5.0 by running
  // that version's program directly.
  void CreateDatabaseAt50() const {
    Sql("DROP SCHEMA IF EXISTS dbo CASCADE");
    std::ifstream in(std::filesystem::path(ZO_DEMO_DIR) / "bootstrap.sql");
    Sql(std::string(std::istreambuf_iterator<char>(in), {}));
    auto item = [](const std::string& text) { return QuoteCommandLineItem(FromUtf8(text)); };
    const String command =
        item(Path("Lifter_5.0/Lifter.exe").generic_string()) + u" -TSQLSERVER " +
        item(std::string("-S") + EnvOrEmpty("ZO_TEST_PGHOST") + ";Port=" + EnvOrEmpty("ZO_TEST_PGPORT")) + u" " +
        item("-D" + Database()) + u" " + item(std::string("-u") + EnvOrEmpty("ZO_TEST_PGUSER")) + u" " +
        item(std::string("-p") + EnvOrEmpty("ZO_TEST_PGPASSWORD")) + u" -m0";
    std::optional<ChildProcess> program = StartProcess(command);
    ASSERT_TRUE(program) << ToUtf8(command);
    ASSERT_EQ(program->Wait(), 0) << ToUtf8(command);
    ASSERT_EQ(StampVersion(), "5.0");
  }

  // The enciphered copy of the stamp, deciphered.
  String DecodedStamp() const {
    const Bytes cipher = BinaryTextToBytes(FromUtf8("0x" + Sql("SELECT upper(encode(a212u0, 'hex')) FROM dbo.a15830u10")));
    return AESDecodeToText(cipher, SystemKey);
  }
};

TEST_F(FullUpgradeTest, OldestToNewestThroughTheReferenceProgram) {
  LayOutDemo();
  CreateDatabaseAt50();
  auto form = OpenConnected();
  ASSERT_EQ(form->EActualVersion.Text, u"5.0");
  ASSERT_EQ(form->ETargetVersion.Text, u"5.3");
  form->UserSetChecked(form->CBCheckChanges, true);
  dialogs.Answers = {true};

  form->UserClick(form->BReinstall);

  EXPECT_TRUE(dialogs.Messages.empty()) << ToUtf8(dialogs.Messages.empty() ? String() : dialogs.Messages[0]);
  EXPECT_TRUE(dialogs.Errors.empty());
  EXPECT_EQ(form->EActualVersion.Text, u"5.3");
  EXPECT_EQ(form->MState.Lines,
            (std::vector<String>{u"", u"Upgrade to version 5.1 (licence DEMO-2026-0001) finished successfully", u"",
                                 u"Upgrade to version 5.2 (licence DEMO-2026-0001) finished successfully", u"",
                                 u"Upgrade to version 5.3 (licence DEMO-2026-0001) finished successfully"}));
  EXPECT_EQ(form->MChanges.Lines,
            (std::vector<String>{
                u"", u"Upgrade to version 5.1 (licence DEMO-2026-0001) finished with following system changes : ",
                u"Script \"010_orders.sql\" was run", u"Version of the database was set to 5.1", u"",
                u"Upgrade to version 5.2 (licence DEMO-2026-0001) finished with following system changes : ",
                u"Script \"010_customer_email.sql\" was run", u"Version of the database was set to 5.2", u"",
                u"Upgrade to version 5.3 (licence DEMO-2026-0001) finished with following system changes : ",
                u"Script \"010_invoices.sql\" was run", u"Version of the database was set to 5.3"}));

  // The database: every version's tables, and the stamp in both forms.
  EXPECT_EQ(StampVersion(), "5.3");
  EXPECT_EQ(DecodedStamp(), u"5.3,0");
  EXPECT_EQ(Sql("SELECT count(*) FROM dbo.orders"), "3");
  EXPECT_EQ(Sql("SELECT email FROM dbo.customer WHERE id = 2"), "kral.logistics@example.com");
  EXPECT_EQ(Sql("SELECT ordered::text FROM dbo.customer_balance WHERE id = 1"), "1330.50");
  EXPECT_EQ(Sql("SELECT count(*) FROM dbo.invoice"), "2");

  // The report saved as the user would: one line per report line.
  const std::string report = Path("report.txt").string();
  dialogs.SaveNames = {FromUtf8(report)};
  form->UserClick(form->BSave);
  EXPECT_EQ(ReadFile(report),
            "\r\nUpgrade to version 5.1 (licence DEMO-2026-0001) finished successfully\r\n"
            "\r\nUpgrade to version 5.2 (licence DEMO-2026-0001) finished successfully\r\n"
            "\r\nUpgrade to version 5.3 (licence DEMO-2026-0001) finished successfully\r\n");

  // Pressing again: the database is at the newest version now.
  form->UserClick(form->BReinstall);
  EXPECT_EQ(dialogs.Errors, std::vector<String>{u"You have newest supported version. Reinstall is not neccessary"});
}

TEST_F(FullUpgradeTest, AFailingScriptLeavesTheVersionAndReportsTheError) {
  LayOutDemo();
  CreateDatabaseAt50();
  // 5.2's script now breaks half-way: its first batch runs, the second fails.
  WriteFile("IVersion_5.2/010_customer_email.sql",
            "ALTER TABLE dbo.customer ADD email varchar(200)\nGO\nUPDATE dbo.no_such_table SET x = 1\nGO\n");
  auto form = OpenConnected();
  dialogs.Answers = {true};

  form->UserClick(form->BReinstall);

  // 5.1 went in; 5.2 was rolled back whole, so the database stays at 5.1.
  EXPECT_EQ(form->EActualVersion.Text, u"5.1");
  EXPECT_EQ(StampVersion(), "5.1");
  EXPECT_EQ(DecodedStamp(), u"5.1,0");
  EXPECT_EQ(Sql("SELECT count(*) FROM information_schema.columns WHERE table_name = 'customer' AND column_name = 'email'"),
            "0");
  ASSERT_GE(form->MState.Lines.size(), 6u);
  EXPECT_EQ(form->MState.Lines[3], u"Upgrade to version 5.2 (licence DEMO-2026-0001) finished with following errors : ");
  EXPECT_NE(ToUtf8(form->MState.Lines[4]).find("010_customer_email.sql"), std::string::npos);
  EXPECT_EQ(form->MState.Lines.back(), u"Errors did not corrupt database. It do not have to be restored.");
}

// The window announces language changes and the reference program makes
// them; codes that read alike as numbers but not as texts must lead both to
// the same languages.
TEST_F(FullUpgradeTest, LanguagesTheWindowAnnouncesAreTheOnesTheProgramChanges) {
  struct Case {
    const char* Name;
    const char16_t* Switch;
    std::vector<std::string> Installed;
    std::string Target;
    const char16_t* Question;
    const char* After;  // the database's languages afterwards
  };
  const Case cases[] = {
      {"zeros, blanks and a sign", u"-la", {"401,0", "402,0", "405,0"}, "401,00\r\n 402, 0\r\n+413,0\r\n401,0\r\n",
       u"Following will be changed :\r\n  Inserted languages :\r\n    Turkish\r\n"
       u"  Deleted languages :\r\n    Germany\r\n\r\nDo you agree with these changes ?",
       "401,0;402,0;413,0"},
      {"removal only", u"-ld", {"401,0", "402,0"}, " 401 , 0 \n",
       u"Following will be changed :\r\n  Deleted languages :\r\n    English\r\n\r\nDo you agree with these changes ?",
       "401,0"},
  };
  WriteVersions("5.2\r\n5.3\r\n");
  std::filesystem::create_directories(Path("Lifter_5.3"));
  std::filesystem::copy_file(ZO_LIFTER_PATH, Path("Lifter_5.3/Lifter.exe"));
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    dialogs = {};
    SetStamp("5.3");
    SetLanguages(c.Installed);
    WriteFile("TargetLanguages.txt", c.Target);
    auto form = OpenConnected({c.Switch});
    dialogs.Answers = {true};

    form->UserClick(form->BAlterLangs);

    EXPECT_EQ(dialogs.Questions, std::vector<String>{c.Question});
    EXPECT_TRUE(dialogs.Errors.empty());
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_EQ(form->MState.Lines.back(), u"Upgrade to version 5.3 (licence L-4711) finished successfully");
    EXPECT_EQ(Sql("SELECT string_agg(ic || ',' || u, ';' ORDER BY ic) FROM dbo.a194u0"), c.After);

    // Nothing is left to change, by either program's reading.
    dialogs = {};
    form->UserClick(form->BAlterLangs);
    EXPECT_TRUE(dialogs.Questions.empty());
    EXPECT_TRUE(dialogs.Errors.empty());
  }
}

}  // namespace
}  // namespace zo::testing
