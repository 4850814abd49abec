// The reinstall sequence against a real database, with stand-in programs as
// the upgrade program of each version.
#include "UpgradeFixture.h"

namespace zo::testing {
namespace {

class SequenceTest : public UpgradeFixture {
 protected:
  // 5.1 to 5.3, every version with a program that behaves as given.
  void Layout(const char* b51, const char* b52, const char* b53) const {
    WriteLifter("5.1", b51);
    WriteLifter("5.2", b52);
    WriteLifter("5.3", b53);
  }
};

constexpr char16_t kBackupQuestion[] =
    u"It is highly recommended that you perform a backup of your database before starting the upgrade process.\r\n"
    u"We assume no responsibility for possible irrecoverable database corruption during the upgrade.\r\n"
    u"Do you want to continue anyway?";

TEST_F(SequenceTest, StepsRunInOrderUntilOneDoesNotEndCleanly) {
  struct Case {
    const char* Name;
    const char* Step52;
    std::vector<std::string> Calls;
    const char16_t* Actual;   // EActualVersion afterwards
    std::string Stamp;        // the database afterwards
    std::vector<String> Report;
  };
  const Case cases[] = {
      {"all succeed", kReach, {"5.2 -l0 -b2 -x2 -h0", "5.3 -l0 -b2 -x2 -h1"}, u"5.3", "5.3",
       {u"", u"Upgrade to version 5.2 (licence L-4711) finished successfully", u"",
        u"Upgrade to version 5.3 (licence L-4711) finished successfully"}},
      {"cancelled", kCancel, {"5.2 -l0 -b2 -x2 -h0"}, u"5.1", "5.1",
       {u"", u"Upgrade to version 5.2 (licence L-4711) was canceled"}},
      {"errors, version reached", kReachWithErrors, {"5.2 -l0 -b2 -x2 -h0"}, u"5.2", "5.2",
       {u"", u"Upgrade to version 5.2 (licence L-4711) finished with following errors : ", u"Table a1 failed",
        u"Index i1 failed",
        u"There are integrity errors or checking changes error in your database. These errors must be reviewed "
        u"before continuing!!"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    std::filesystem::remove(Path("calls.log"));
    Visibility.clear();
    dialogs = {};
    WriteVersions("5.0\r\n5.1\r\n5.2\r\n5.3\r\n");
    Layout(kReach, c.Step52, kReach);
    SetStamp("5.1");
    auto form = OpenConnected();
    ASSERT_EQ(form->ETargetVersion.Text, u"5.3");
    form->SetLines(form->MState, {u"left from before"});
    dialogs.Answers = {true};

    form->UserClick(form->BReinstall);

    EXPECT_EQ(dialogs.Questions, std::vector<String>{kBackupQuestion});
    EXPECT_EQ(Calls(), c.Calls);
    EXPECT_EQ(form->EActualVersion.Text, c.Actual);
    EXPECT_EQ(StampVersion(), c.Stamp);
    EXPECT_EQ(form->MState.Lines, c.Report);
    EXPECT_EQ(Visibility, (std::vector<bool>{false, true}));
    EXPECT_TRUE(dialogs.Messages.empty());
    EXPECT_TRUE(dialogs.Errors.empty());
    // Still connected: the next press inspects again and goes on from there.
    EXPECT_TRUE(form->FConnected);
    EXPECT_EQ(form->BReinstall.Enabled, true);
    EXPECT_FALSE(form->CBShowChanges.Enabled);
  }
}

TEST_F(SequenceTest, CommandLineOfAStep) {
  WriteVersions("5.0\r\n5.1\r\n");
  WriteLifter("5.1", kReach);
  SetStamp("5.0");
  auto form = OpenConnected();
  dialogs.Answers = {true};
  form->UserClick(form->BReinstall);
  const std::string port = EnvOrEmpty("ZO_TEST_PGPORT");
  const std::vector<std::string> args = ArgsOf("5.1");
  ASSERT_EQ(args.size(), 15u);
  EXPECT_EQ(args[0], "-TSQLSERVER");
  EXPECT_EQ(args[1], "-S127.0.0.1;Port=" + port);
  EXPECT_EQ(args[2], "-D" + Database());
  EXPECT_EQ(args[5], "-m0");
  EXPECT_EQ(args[6].substr(0, 2), "-e");
  // The tool's folder as it was given, then the tool's own separator.
  EXPECT_EQ(args[7], "-i" + ToUtf8(AppDir()) + "/IVersion_5.1/");
  EXPECT_EQ(args[8], "-r" + ToUtf8(AppDir()) + "/Lifter_5.1/");
  EXPECT_EQ(args[9], "-l0");
  EXPECT_EQ(args[14], "-h1");
  // The errors file is gone once the report is written.
  EXPECT_FALSE(std::filesystem::exists(args[6].substr(2)));
}

TEST_F(SequenceTest, TargetNotAfterTheDatabaseRunsNothing) {
  const std::pair<const char*, const char16_t*> targets[] = {
      {"equal", u"5.1"}, {"older", u"5.0"}, {"unknown", u"6.0"}, {"other case of a later one", u"5.2X"}};
  for (const auto& [name, target] : targets) {
    SCOPED_TRACE(name);
    Visibility.clear();
    dialogs = {};
    WriteVersions("5.0\r\n5.1\r\n5.2\r\n");
    Layout(kReach, kReach, kReach);
    SetStamp("5.1");
    auto form = OpenConnected();
    form->UserSetText(form->ETargetVersion, target);
    form->SetLines(form->MState, {u"old report"});
    form->SetLines(form->MChanges, {u"old changes"});
    dialogs.Answers = {true};

    form->UserClick(form->BReinstall);

    EXPECT_EQ(dialogs.Questions.size(), 1u);
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(Visibility, (std::vector<bool>{false, true}));
    EXPECT_TRUE(form->MState.Lines.empty());
    EXPECT_TRUE(form->MChanges.Lines.empty());
    EXPECT_EQ(form->EActualVersion.Text, u"5.1");
  }
  // A target that differs only in letter case is found.
  WriteVersions("5.0\r\n5.1\r\n5.2x\r\n");
  WriteLifter("5.2x", kReach);
  SetStamp("5.1");
  auto form = OpenConnected();
  form->UserSetText(form->ETargetVersion, u"5.2X");
  dialogs.Answers = {true};
  form->UserClick(form->BReinstall);
  EXPECT_EQ(Calls(), std::vector<std::string>{"5.2x -l0 -b2 -x2 -h1"});
}

TEST_F(SequenceTest, RefusalsBeforeTheQuestion) {
  struct Case {
    const char* Name;
    std::string Versions;
    std::string Stamp;
    const char16_t* Error;
  };
  const Case cases[] = {
      {"newest", "5.0\r\n5.1\r\n", "5.1", u"You have newest supported version. Reinstall is not neccessary"},
      {"newest in other case", "5.0\r\n5.1A\r\n", "5.1a", u"You have newest supported version. Reinstall is not neccessary"},
      {"unsupported", "5.0\r\n5.1\r\n", "4.9", u"Version \"4.9\" of your database is not supported"},
      {"no Versions.sl", "", "5.0", u"Version \"5.0\" of your database is not supported"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Visibility.clear();
    dialogs = {};
    std::filesystem::remove(Path("Versions.sl"));
    if (!c.Versions.empty()) WriteVersions(c.Versions);
    WriteLifter("5.1", kReach);
    SetStamp(c.Stamp);
    auto form = OpenConnected();
    dialogs.Errors.clear();  // the missing list was reported at start-up
    form->UserSetText(form->ETargetVersion, u"5.1");
    form->SetLines(form->MState, {u"old report"});
    dialogs.Answers = {true};

    form->UserClick(form->BReinstall);

    EXPECT_EQ(dialogs.Errors, std::vector<String>{c.Error});
    EXPECT_TRUE(dialogs.Questions.empty());
    EXPECT_TRUE(Visibility.empty());
    EXPECT_TRUE(Calls().empty());
    EXPECT_EQ(form->MState.Lines, std::vector<String>{u"old report"});
  }
}

TEST_F(SequenceTest, InspectionRefusalEndsTheClick) {
  WriteVersions("5.0\r\n5.1\r\n");
  WriteLifter("5.1", kReach);
  SetStamp("5.0");
  auto form = OpenConnected();
  // The stamp was changed behind the tool's back since Connect.
  Sql("UPDATE dbo.a15830u10 SET a277u0 = '5.1'");
  form->UserClick(form->BReinstall);
  EXPECT_EQ(dialogs.Errors, std::vector<String>{u"Incorrect version. Probably unqualified action on database.\r\n"
                                                u"VersionType not equal to VersionID"});
  EXPECT_FALSE(form->FConnected);
  EXPECT_TRUE(form->BConnect.Enabled);
  EXPECT_TRUE(dialogs.Questions.empty());
  EXPECT_TRUE(Calls().empty());
}

TEST_F(SequenceTest, AnsweringNoChangesNothing) {
  WriteVersions("5.0\r\n5.1\r\n");
  WriteLifter("5.1", kReach);
  SetStamp("5.0");
  auto form = OpenConnected();
  form->SetLines(form->MState, {u"old report"});
  form->UserSetChecked(form->CBCheckChanges, true);
  dialogs.Answers = {false};

  form->UserClick(form->BReinstall);

  EXPECT_EQ(dialogs.Questions.size(), 1u);
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(Visibility.empty());
  EXPECT_EQ(form->MState.Lines, std::vector<String>{u"old report"});
  EXPECT_TRUE(form->FConnected);
  EXPECT_TRUE(form->BReinstall.Enabled);
  EXPECT_FALSE(form->CBShowChanges.Enabled);
}

TEST_F(SequenceTest, VersionsMatchWithoutLetterCase) {
  // The database says 5.2a, the list 5.2A: the next step is 5.3.
  WriteVersions("5.0\r\n5.2A\r\n5.3\r\n");
  WriteLifter("5.3", kReach);
  SetStamp("5.2a");
  auto form = OpenConnected();
  dialogs.Answers = {true};
  form->UserClick(form->BReinstall);
  EXPECT_EQ(Calls(), std::vector<std::string>{"5.3 -l0 -b2 -x2 -h1"});
  EXPECT_EQ(form->EActualVersion.Text, u"5.3");
}

TEST_F(SequenceTest, ShowChangesIsOfferedAfterwardsWhenChangesWereAsked) {
  WriteVersions("5.0\r\n5.1\r\n5.2\r\n");
  WriteLifter("5.1", "changes Column c1 added\\n\nreach");
  WriteLifter("5.2", kReach);
  SetStamp("5.0");
  auto form = OpenConnected();
  form->UserSetChecked(form->CBCheckChanges, true);
  dialogs.Answers = {true};
  form->UserClick(form->BReinstall);
  EXPECT_TRUE(form->CBShowChanges.Enabled);
  EXPECT_EQ(form->MChanges.Lines,
            (std::vector<String>{u"", u"Upgrade to version 5.1 (licence L-4711) finished with following system changes : ",
                                 u"Column c1 added", u"", u"No system changes were done or error occured."}));

  // Also when no step ran at all.
  SetStamp("5.0");
  auto idle = OpenConnected();
  idle->UserSetText(idle->ETargetVersion, u"5.0");
  idle->UserSetChecked(idle->CBCheckChanges, true);
  dialogs.Answers = {true};
  idle->UserClick(idle->BReinstall);
  EXPECT_TRUE(idle->CBShowChanges.Enabled);
}

TEST_F(SequenceTest, ErrorDuringTheStepsIsShownAndTheWindowComesBack) {
  // 5.2 has no program: the run of 5.1 counts, the error names 5.2.
  WriteVersions("5.0\r\n5.1\r\n5.2\r\n5.3\r\n");
  WriteLifter("5.1", kReach);
  WriteLifter("5.3", kReach);
  SetStamp("5.0");
  auto form = OpenConnected();
  dialogs.Answers = {true};

  form->UserClick(form->BReinstall);

  EXPECT_EQ(dialogs.Messages, std::vector<String>{u"Running Reinstall to version \"5.2\" in licence L-4711 failed. "
                                                  u"Probably corrupted or missing Lifter.Exe file."});
  EXPECT_TRUE(dialogs.Errors.empty());
  EXPECT_EQ(Calls(), std::vector<std::string>{"5.1 -l0 -b2 -x2 -h0"});
  EXPECT_EQ(form->EActualVersion.Text, u"5.1");
  EXPECT_EQ(Visibility, (std::vector<bool>{false, true}));

  // A program that leaves the stamp unreadable: the report tells, the read
  // error is shown, and the version stays the last one that was read.
  Visibility.clear();
  dialogs = {};
  WriteLifter("5.2", "sql drop table dbo.a15830u10");
  auto again = OpenConnected();
  dialogs.Answers = {true};
  again->UserClick(again->BReinstall);
  EXPECT_EQ(again->EActualVersion.Text, u"5.1");
  ASSERT_EQ(dialogs.Messages.size(), 1u);
  EXPECT_EQ(ToUtf8(dialogs.Messages[0]).rfind("Database \"" + Database() + "\" cannot be connected", 0), 0u)
      << ToUtf8(dialogs.Messages[0]);
  EXPECT_EQ(again->MState.Lines.back(), u"  Run new application server to check whether database is in consistent state.");
  EXPECT_EQ(Visibility, (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace zo::testing
