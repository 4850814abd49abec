// The reference upgrade program, run by the upgrade tool's step runner as
// Lifter_5.1/Lifter.exe against the test server.
#include "tests/upliner/StampFixture.h"

ZO_TEST_DATABASE_ENVIRONMENT(lifter_db);

namespace zo::testing {
namespace {

class LifterTest : public StampFixture {
 protected:
  void SetUp() override {
    StampFixture::SetUp();
    if (IsSkipped()) return;
    WriteAppFile("LicenceNumber.txt", "L-7\n");
    std::filesystem::create_directories(AppPath("Lifter_5.1"));
    // A copy, not a link: Wine makes no symbolic links.
    std::filesystem::copy_file(ZO_LIFTER_PATH, AppPath("Lifter_5.1/Lifter.exe"));
  }
  void WriteScript(const std::string& Name, const std::string& Text) const {
    WriteAppFile("IVersion_5.1/" + Name, Text);
  }
  static String Encrypted() { return Query(u"select encode(a212u0, 'hex') from dbo.a15830u10").value_or(u""); }
  static bool TableExists(const String& Name) {
    return Query(u"select to_regclass('" + Name + u"') is not null").value_or(u"") == u"1";
  }
};

TEST_F(LifterTest, OneStepRunsTheScriptsInNameOrderAndStamps) {
  SetVersion(u"5.0");
  WriteScript("020_more.sql", "alter table dbo.t51 add column extra integer;\n");
  WriteScript("010_table.sql",
              "create table dbo.t51 (id integer, name varchar(20));\n"
              "insert into dbo.t51 values (1, '$(Version)');\n"
              "go\n"
              "insert into dbo.t51 values (2, 'two');\n");
  TReinstallForm& f = OpenForm();
  f.SetChecked(f.CBCheckChanges, true);

  const Outcome outcome = Run(f);

  EXPECT_EQ(outcome.Error, std::nullopt);
  EXPECT_EQ(outcome.Result, srDone);
  EXPECT_EQ(f.MState.Lines,
            (std::vector<String>{u"", u"Upgrade to version 5.1 (licence L-7) finished successfully"}));
  EXPECT_EQ(f.MChanges.Lines,
            (std::vector<String>{u"", u"Upgrade to version 5.1 (licence L-7) finished with following system changes : ",
                                 u"Script \"010_table.sql\" was run", u"Script \"020_more.sql\" was run",
                                 u"Version of the database was set to 5.1"}));
  EXPECT_EQ(Query(u"select count(extra) || '/' || count(*) from dbo.t51"), u"0/2");
  EXPECT_EQ(Query(u"select name from dbo.t51 where id = 1"), u"5.1");
  EXPECT_TRUE(TempFiles().empty());

  // The new stamp passes the inspection: both copies name 5.1.
  f.BConnectClick();
  EXPECT_TRUE(dialogs.Messages.empty());
  EXPECT_EQ(f.EActualVersion.Text, u"5.1");

  // A second run at the same version leaves the scripts alone.
  EXPECT_EQ(Run(f).Result, srDone);
  EXPECT_EQ(f.MChanges.Lines.back(), u"No system changes were done or error occured.");
  EXPECT_EQ(Query(u"select count(*) from dbo.t51"), u"2");
}

TEST_F(LifterTest, FailingScriptChangesNothing) {
  SetVersion(u"5.0");
  const String stampBefore = Encrypted();
  WriteScript("010_table.sql", "create table dbo.t51 (id integer);\ninsert into dbo.t51 values (1);\n");
  WriteScript("020_bad.sql", "insert into dbo.nowhere values (1);\n");
  TReinstallForm& f = OpenForm();
  f.SetChecked(f.CBCheckChanges, true);

  const Outcome outcome = Run(f);

  EXPECT_EQ(outcome.Result, srNotReached);
  ASSERT_EQ(f.MState.Lines.size(), 4u);
  EXPECT_EQ(f.MState.Lines[1], u"Upgrade to version 5.1 (licence L-7) finished with following errors : ");
  const String error = f.MState.Lines[2];
  EXPECT_NE(error.find(u"020_bad.sql\" failed: "), String::npos) << ToUtf8(error);
  EXPECT_NE(error.find(u"\"dbo.nowhere\" does not exist"), String::npos) << ToUtf8(error);
  EXPECT_EQ(f.MState.Lines[3], u"Errors did not corrupt database. It do not have to be restored.");
  EXPECT_EQ(f.MChanges.Lines.back(), u"No system changes were done or error occured.");
  EXPECT_FALSE(TableExists(u"dbo.t51"));
  EXPECT_EQ(PlainVersion(), u"5.0");
  EXPECT_EQ(Encrypted(), stampBefore);
}

TEST_F(LifterTest, NeverTakesANewerDatabaseBack) {
  SetVersion(u"5.2");  // Versions.sl lists 5.2 after 5.1
  WriteScript("010_table.sql", "create table dbo.t51 (id integer);\n");
  TReinstallForm& f = OpenForm();
  EXPECT_EQ(Run(f).Result, srNotReached);
  EXPECT_EQ(f.MState.Lines,
            (std::vector<String>{u"", u"Upgrade to version 5.1 (licence L-7) finished with following errors : ",
                                 u"The database is at version 5.2, which is newer than 5.1",
                                 u"Errors did not corrupt database. It do not have to be restored."}));
  EXPECT_FALSE(TableExists(u"dbo.t51"));
  EXPECT_EQ(PlainVersion(), u"5.2");

  // The program finds versions in the list by the tool's rule, Latin-1
  // letters folded too: "5.2É" is the listed "5.2é", newer than 5.1.
  WriteAppFile("Versions.sl", "5.0\r\n5.1\r\n5.2\xC3\xA9\r\n");
  SetVersion(u"5.2\u00C9");
  EXPECT_EQ(Run(f).Result, srNotReached);
  EXPECT_EQ(f.MState.Lines[f.MState.Lines.size() - 2],
            u"The database is at version 5.2\u00C9, which is newer than 5.1");
  EXPECT_FALSE(TableExists(u"dbo.t51"));
  EXPECT_EQ(PlainVersion(), u"5.2\u00C9");
}

TEST_F(LifterTest, WrongPasswordIsReportedAndChangesNothing) {
  SetVersion(u"5.0");
  WriteScript("010_table.sql", "create table dbo.t51 (id integer);\n");
  TReinstallForm& f = OpenForm();
  // The runner reads the stamp with the same values afterwards and fails
  // too; the program's own error is in the report before that.
  f.SetText(f.EPassword, u"wrong password");
  const Outcome outcome = Run(f);
  ASSERT_TRUE(outcome.Error);
  ASSERT_GE(f.MState.Lines.size(), 3u);
  EXPECT_EQ(f.MState.Lines[2].rfind(u"Database \"" + Db().Name() + u"\" cannot be connected: ", 0), 0u)
      << ToUtf8(f.MState.Lines[2]);
  EXPECT_NE(f.MState.Lines[2].find(u"password authentication failed"), String::npos);
  EXPECT_FALSE(TableExists(u"dbo.t51"));
}

TEST_F(LifterTest, IntegrityChecksReportEveryRowAfterTheUpgrade) {
  SetVersion(u"5.0");
  WriteScript("010_orders.sql",
              "create table dbo.orders (id integer, customer integer);\n"
              "insert into dbo.orders values (1, 10), (2, NULL), (3, NULL);\n");
  WriteScript("Integrity/orphans.sql",
              "select 'Order ' || id, 'no customer' from dbo.orders where customer is null order by id\n");
  WriteScript("Integrity/broken.sql", "select * from dbo.missing\n");
  WriteScript("Integrity/clean.sql", "select id from dbo.orders where id < 0\n");
  TReinstallForm& f = OpenForm();

  EXPECT_EQ(Run(f, {}, saKeep, saKeep, false).Result, srDone);  // "Only last version": not the last step, no checks
  SetVersion(u"5.0");
  Sql(u"drop table dbo.orders");
  const Outcome outcome = Run(f);  // the last step: checked

  EXPECT_EQ(outcome.Result, srReachedWithErrors);
  ASSERT_EQ(f.MState.Lines.size(), 8u);
  EXPECT_EQ(f.MState.Lines[4].rfind(u"Integrity check \"broken.sql\" failed: ", 0), 0u) << ToUtf8(f.MState.Lines[4]);
  EXPECT_EQ(f.MState.Lines[5], u"Integrity check \"orphans.sql\": Order 2, no customer");
  EXPECT_EQ(f.MState.Lines[6], u"Integrity check \"orphans.sql\": Order 3, no customer");
  EXPECT_EQ(f.MState.Lines[7],
            u"There are integrity errors or checking changes error in your database. These errors must be reviewed "
            u"before continuing!!");
  EXPECT_EQ(PlainVersion(), u"5.1");  // checks come after the commit
}

TEST_F(LifterTest, LanguageArchiveAndExternalDatabaseSwitches) {
  SetStamp(u"5.1", u"5.1,0", u"NULL", u"NULL");
  const String stampBefore = Encrypted();
  Sql(u"insert into dbo.a194u0 values (401,0),(405,0); create table dbo.journal (entry varchar)");
  WriteAppFile("TargetLanguages.txt", "401,0\r\n413,0\r\n");
  WriteScript("010_would_fail.sql", "select 1/0;\n");  // the database is at 5.1 already: not run
  WriteScript("Languages/Add.sql", "insert into dbo.journal values ('add $(Language) $(LangIC) $(LangU)');\n");
  WriteScript("Languages/Remove.sql", "insert into dbo.journal values ('remove $(Language)');\n");
  WriteScript("Archive/Add.sql", "insert into dbo.journal values ('archive in $(Dir)');\n");
  TReinstallForm& f = OpenForm({u"-aa"});
  f.SetChecked(f.CBCheckChanges, true);
  f.SetText(f.ENewDir, u"/srv/it's archive");

  Outcome outcome = Run(f, {mtaInsert, mtaDelete}, saAdd, saKeep);

  EXPECT_EQ(outcome.Result, srDone);
  EXPECT_EQ(Query(u"select string_agg(ic || ',' || u, ';' order by ic) from dbo.a194u0"), u"401,0;413,0");
  EXPECT_EQ(Query(u"select string_agg(entry, ';') from dbo.journal"),
            u"remove 405,0;add 413,0 413 0;archive in /srv/it's archive");
  EXPECT_EQ(Query(u"select a2439u0 from dbo.a15830u10"), u"1");
  EXPECT_EQ(Encrypted(), stampBefore);
  EXPECT_EQ(std::vector<String>(f.MChanges.Lines.begin() + 2, f.MChanges.Lines.end()),
            (std::vector<String>{u"Language 405,0 was removed", u"Language 413,0 was added",
                                 u"Archive support was added"}));

  // External-database support needs a name: nothing happens and the error
  // is reported (the version is reached, so the runner asks for a review).
  outcome = Run(f, {}, saKeep, saAdd);
  EXPECT_EQ(outcome.Result, srReachedWithErrors);
  EXPECT_EQ(f.MState.Lines[f.MState.Lines.size() - 2], u"External database support needs a database name (-N)");
  EXPECT_EQ(Query(u"select coalesce(a2583u0, -1) from dbo.a15830u10"), u"-1");

  f.SetText(f.ENewName, u"Ext DB");
  EXPECT_EQ(Run(f, {}, saRemove, saAdd).Result, srDone);
  EXPECT_EQ(Query(u"select a2439u0 || '/' || a2583u0 from dbo.a15830u10"), u"0/1");
}

}  // namespace
}  // namespace zo::testing
