// The step runner with script programs named Lifter.exe that record their
// arguments and act out one outcome of an upgrade program.
#include "StampFixture.h"
#include "core/Exception.h"

namespace zo::testing {
namespace {

class UpgradeStepTest : public StampFixture {
 protected:
  void SetUp() override {
    StampFixture::SetUp();
    if (IsSkipped()) return;
    WriteAppFile("LicenceNumber.txt", "L-7\r\n");
  }

  // Lifter_<Version>/Lifter.exe as the stand-in program
  // (standin/StandInLifter.cpp): it writes its own path and every argument,
  // one per line, into args.txt, then acts out Behaviour, one line each.
  void WriteProgram(const std::string& Behaviour, const std::string& Version = "5.1") const {
    WriteStandIn(AppPath("Lifter_" + Version), Behaviour);
  }
  static void WriteStandIn(const std::filesystem::path& Folder, const std::string& Behaviour) {
    std::filesystem::create_directories(Folder);
    std::filesystem::copy_file(ZO_STANDIN_LIFTER_PATH, Folder / "Lifter.exe",
                               std::filesystem::copy_options::overwrite_existing);
    std::ofstream(Folder / "behaviour.txt", std::ios::binary) << Behaviour << "\n";
  }
  // A text on one behaviour line: its line breaks written as \r and \n.
  static std::string OneLine(const std::string& Text) {
    std::string line;
    for (char c : Text) line += c == '\n' ? std::string("\\n") : c == '\r' ? std::string("\\r") : std::string(1, c);
    return line;
  }
  std::vector<std::string> Args() const { return ReadLines(AppPath("args.txt")); }
};

enum class TStampAfter { Reached, Unchanged, UnchangedInconsistent, Empty, Unreadable };
using enum TStampAfter;

TEST_F(UpgradeStepTest, ErrorsReportForEveryOutcome) {
  const String header = u"Upgrade to version 5.1 (licence L-7) finished with following errors : ";
  const String runServer = u"  Run new application server to check whether database is in consistent state.";
  const String readFailure = u"Database \"" + Db().Name() + u"\" cannot be connected\r\n  Main message :\r\n"
                             u"AES decryption failed.\r\n  Detail message :\r\n"
                             u"Invalid ciphertext - block padding is corrupted.\r\n";
  struct Case {
    const char* Name;
    TStampAfter Stamp;
    std::string Errors;  // what the program writes into the errors file
    std::vector<String> Report;
    std::optional<TStepResult> Result;  // none: the read error is raised
  };
  const Case cases[] = {
      {"success", Reached, "", {u"", u"Upgrade to version 5.1 (licence L-7) finished successfully"}, srDone},
      {"cancelled", Unchanged, "", {u"", u"Upgrade to version 5.1 (licence L-7) was canceled"}, srNotReached},
      {"no errors, no stamp row", Empty, "",
       {u"", u"Upgrade to version 5.1 (licence L-7) finished unexpectedly (new version read error)", runServer},
       srReachedWithErrors},
      {"no errors, stamp unreadable", Unreadable, "",
       {u"", u"Upgrade to version 5.1 (licence L-7) finished unexpectedly (new version read error)", runServer},
       std::nullopt},
      {"errors before the version changed", Unchanged, "Table a1 failed\r\nIndex i1 failed\r\nView v1 failed\r\n",
       {u"", header, u"Table a1 failed", u"Index i1 failed", u"View v1 failed",
        u"Errors did not corrupt database. It do not have to be restored."},
       srNotReached},
      {"errors, stamp left inconsistent", UnchangedInconsistent, "Table a1 failed\n",
       {u"", header, u"Table a1 failed", u"Errors corrupted database. Database must be restored!!"}, srNotReached},
      {"errors, version reached", Reached, "Check c1 found 2 orphans\n",
       {u"", header, u"Check c1 found 2 orphans",
        u"There are integrity errors or checking changes error in your database. These errors must be reviewed "
        u"before continuing!!"},
       srReachedWithErrors},
      {"errors, no stamp row", Empty, "Table a1 failed\n",
       {u"", header, u"Table a1 failed", u"Upgrade finished unexpectedly (new version read error)", runServer},
       srReachedWithErrors},
      {"errors, stamp unreadable", Unreadable, "Table a1 failed\n",
       {u"", header, u"Table a1 failed", u"Upgrade finished unexpectedly (new version read error)", runServer},
       std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    // The stamp the program leaves behind; the pause makes sure the runner
    // waits for the program before it reads anything.
    switch (c.Stamp) {
      case Reached: SetVersion(u"5.1"); break;
      case Unchanged: SetVersion(u"5.0"); break;
      case UnchangedInconsistent: SetStamp(u"5.0", u"5.1,0"); break;
      case Empty: Sql(u"delete from dbo.a15830u10"); break;
      case Unreadable: SetStampBytes(u"5.1", Bytes(20, 0x41)); break;
    }
    WriteProgram("sleep 200\nerrors " + OneLine(c.Errors));
    TReinstallForm& f = OpenForm();
    f.SetLines(f.MState, {u"earlier"});
    f.SetLines(f.MChanges, {u"kept"});

    const Outcome outcome = Run(f);

    std::vector<String> expected = {u"earlier"};
    expected.insert(expected.end(), c.Report.begin(), c.Report.end());
    EXPECT_EQ(f.MState.Lines, expected);
    EXPECT_EQ(f.MChanges.Lines, std::vector<String>{u"kept"});
    if (!c.Result) {
      EXPECT_EQ(outcome.Error, readFailure);
    } else {
      EXPECT_EQ(outcome.Error, std::nullopt);
      EXPECT_EQ(outcome.Result, c.Result);
    }
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(UpgradeStepTest, ChangesReport) {
  struct Case {
    const char* Name;
    bool Check;
    std::string Changes;
    std::vector<String> Report;
  };
  const Case cases[] = {
      {"not asked for", false, "", {u"kept"}},
      {"nothing changed", true, "", {u"kept", u"", u"No system changes were done or error occured."}},
      {"two changes", true, "Table t1 added\nColumn t1.c dropped\n",
       {u"kept", u"", u"Upgrade to version 5.1 (licence L-7) finished with following system changes : ",
        u"Table t1 added", u"Column t1.c dropped"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SetVersion(u"5.1");
    WriteProgram("changes " + OneLine(c.Changes));
    TReinstallForm& f = OpenForm();
    f.SetChecked(f.CBCheckChanges, c.Check);
    f.SetLines(f.MChanges, {u"kept"});

    const Outcome outcome = Run(f);

    EXPECT_EQ(outcome.Result, srDone);
    EXPECT_EQ(f.MChanges.Lines, c.Report);
    std::size_t changesItems = 0;
    for (const std::string& arg : Args()) changesItems += arg.rfind("-c", 0) == 0;
    EXPECT_EQ(changesItems, c.Check ? 1u : 0u);
    EXPECT_TRUE(TempFiles().empty());
  }
}

TEST_F(UpgradeStepTest, CommandLineItemByItem) {
  SetVersion(u"5.1");
  WriteProgram("note-errors " + AppPath("errors-path.txt").generic_string());
  TReinstallForm& f = OpenForm();

  ASSERT_EQ(Run(f).Result, srDone);

  const std::string app = AppPath().generic_string();  // ends with '/'
  const std::vector<std::string> seen = ReadLines(AppPath("errors-path.txt"));
  ASSERT_EQ(seen.size(), 2u);
  const std::string errors = seen[0];
  EXPECT_EQ(errors.rfind((TmpDir() / "tmp").generic_string(), 0), 0u) << errors;
  EXPECT_EQ(seen[1], "exists");  // created before the program started
  const std::vector<std::string> expected = {
      app + "Lifter_5.1/Lifter.exe",
      "-TSQLSERVER",
      "-S" + ToUtf8(ServerName()),
      "-D" + ToUtf8(Db().Name()),
      "-u" + ToUtf8(Db().Server().User),
      "-p" + ToUtf8(Db().Server().Password),
      "-m0",
      "-e" + errors,
      "-i" + app + "IVersion_5.1/",
      "-r" + app + "Lifter_5.1/",
      "-l0",
      "-b2",
      "-d",
      "-x2",
      "-N",
      "-h1",
  };
  EXPECT_EQ(Args(), expected);
}

// Quoted items arrive whole, blanks and a trailing backslash included; a
// value with a blank in an unquoted item is kept whole too.
TEST_F(UpgradeStepTest, SwitchesOfTheAlterActionsAndTheInstallerPosition) {
  SetVersion(u"5.1");
  WriteProgram("");
  TReinstallForm& f = OpenForm({u"-n120;80", u"-ea"});
  f.SetChecked(f.CBTrustedConnection, true);
  f.SetChecked(f.CBCheckChanges, true);
  f.SetText(f.ENewDir, u"/data/My Archive\\");
  f.SetText(f.ENewName, u"Ext DB");

  ASSERT_EQ(Run(f, {mtaInsert, mtaDelete}, saAdd, saRemove, false).Result, srDone);

  const std::vector<std::string> args = Args();
  ASSERT_EQ(args.size(), 18u);  // the program and 17 items
  EXPECT_EQ(args[6], "-m1");
  EXPECT_EQ(args[10], "-l5");
  EXPECT_EQ(args[11], "-b0");
  EXPECT_EQ(args[12], "-d/data/My Archive\\");
  EXPECT_EQ(args[13], "-x1");
  EXPECT_EQ(args[14], "-NExt DB");
  EXPECT_EQ(args[15].rfind("-c" + (TmpDir() / "tmp").generic_string(), 0), 0u) << args[15];
  EXPECT_EQ(args[16], "-h0");
  EXPECT_EQ(args[17], "-n120;80");
  EXPECT_TRUE(TempFiles().empty());
}

// The program path is not quoted: a blank in the program's directory is
// still found, and the quoted folder items arrive whole.
TEST_F(UpgradeStepTest, ProgramDirectoryWithABlank) {
  SetVersion(u"5.1");
  const std::filesystem::path app = AppPath().parent_path().parent_path() / "my app";
  std::filesystem::create_directories(app / "Lifter_5.1");
  WriteStandIn(app / "Lifter_5.1", "");
  TReinstallForm blank(dialogs, app.generic_u16string());
  blank.FormCreate({});
  blank.SetText(blank.CServerName, ServerName());
  blank.SetText(blank.CDatabaseName, Db().Name());
  blank.SetText(blank.EUserName, Db().Server().User);
  blank.SetText(blank.EPassword, Db().Server().Password);

  EXPECT_EQ(Run(blank).Result, srDone);

  const std::vector<std::string> args = ReadLines(app / "args.txt");
  ASSERT_EQ(args.size(), 16u);
  EXPECT_EQ(args[0], (app / "Lifter_5.1/Lifter.exe").generic_string());
  EXPECT_EQ(args[8], "-i" + (app / "IVersion_5.1/").generic_string());
  EXPECT_EQ(args[9], "-r" + (app / "Lifter_5.1/").generic_string());
  std::filesystem::remove_all(app);
}

TEST_F(UpgradeStepTest, IntegrityFlagByChoiceAndLastStep) {
  struct Case {
    int Item;           // -1: a typed text that is none of the items
    bool LastStep;
    const char* Flag;
  };
  const Case cases[] = {
      {0, true, "-h1"}, {0, false, "-h0"}, {1, false, "-h1"}, {1, true, "-h1"},
      {2, true, "-h0"}, {2, false, "-h0"}, {-1, true, "-h0"},
  };
  SetVersion(u"5.1");
  WriteProgram("");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.Item) + (c.LastStep ? " last" : " not last"));
    TReinstallForm& f = OpenForm();
    if (c.Item >= 0) f.SelectItem(f.CCheckIntegrity, c.Item);
    else f.SetText(f.CCheckIntegrity, u"Sometimes");
    ASSERT_EQ(Run(f, {}, saKeep, saKeep, c.LastStep).Result, srDone);
    EXPECT_EQ(Args().back(), c.Flag);
  }
}

TEST_F(UpgradeStepTest, MissingProgramFailsBeforeAnyReport) {
  SetVersion(u"5.1");
  TReinstallForm& f = OpenForm();
  f.SetLines(f.MState, {u"earlier"});
  Outcome outcome = Run(f);
  EXPECT_EQ(outcome.Error, u"Running Reinstall to version \"5.1\" in licence L-7 failed. Probably corrupted or "
                           u"missing Lifter.Exe file.");
  EXPECT_EQ(f.MState.Lines, std::vector<String>{u"earlier"});
  EXPECT_TRUE(TempFiles().empty());

  // Without a licence file the licence number is empty; a folder without a
  // runnable program fails the same way.
  std::filesystem::remove(AppPath("LicenceNumber.txt"));
  WriteAppFile("Lifter_5.1/Lifter.exe", "not a program");
  outcome = Run(f);
  EXPECT_EQ(outcome.Error, u"Running Reinstall to version \"5.1\" in licence  failed. Probably corrupted or "
                           u"missing Lifter.Exe file.");
  EXPECT_TRUE(TempFiles().empty());
}

TEST_F(UpgradeStepTest, ResultFileRemovedByTheProgram) {
  SetVersion(u"5.1");
  WriteProgram("remove-errors");
  TReinstallForm& f = OpenForm();
  f.SetChecked(f.CBCheckChanges, true);
  const Outcome outcome = Run(f);
  ASSERT_TRUE(outcome.Error);
  EXPECT_EQ(outcome.Error->rfind(u"Cannot open file \"" + FromUtf8((TmpDir() / "tmp").generic_string()), 0), 0u);
  EXPECT_NE(outcome.Error->find(u"No such file or directory"), String::npos);
  EXPECT_TRUE(f.MState.Lines.empty());
  EXPECT_TRUE(f.MChanges.Lines.empty());
  EXPECT_TRUE(TempFiles().empty());  // the changes file goes as well
}

TEST_F(UpgradeStepTest, InstallationFiles) {
  TReinstallForm& f = OpenForm();
  std::filesystem::remove(AppPath("LicenceNumber.txt"));
  EXPECT_EQ(f.LicenceNumber(), u"");
  EXPECT_TRUE(f.TargetLanguages().empty());
  WriteAppFile("LicenceNumber.txt", "\xEF\xBB\xBF  ZO-2024-17 \r\nignored\r\n");
  WriteAppFile("TargetLanguages.txt", "401,0\r\n\r\n 413,0 \n");
  EXPECT_EQ(f.LicenceNumber(), u"ZO-2024-17");
  EXPECT_EQ(f.TargetLanguages(), (std::vector<TIDValue>{{401, 0}, {413, 0}}));
}

}  // namespace
}  // namespace zo::testing
