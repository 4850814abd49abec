// The alter actions against a real database: languages, archive and
// external-database support, each one run of a script program.
#include "UpgradeFixture.h"
#include "core/Exception.h"
#include "upliner/AlterLangs.h"

namespace zo::testing {
namespace {

class AlterTest : public UpgradeFixture {
 protected:
  // Ready for the next case of a table: no runs, no dialogs, no hiding yet.
  void StartCase() {
    std::filesystem::remove(Path("calls.log"));
    Visibility.clear();
    dialogs = {};
  }
  // What a click that raised nothing did: without a Question nothing was
  // asked or run and the window stayed; otherwise Question was asked and the
  // program ran once as Call while the window was hidden.
  void ExpectAskedAndRun(const char16_t* Question, const char* Call) {
    EXPECT_TRUE(dialogs.Errors.empty());
    EXPECT_TRUE(dialogs.Messages.empty());
    if (Question == nullptr) {
      EXPECT_TRUE(dialogs.Questions.empty());
      EXPECT_TRUE(Calls().empty());
      EXPECT_TRUE(Visibility.empty());
    } else {
      EXPECT_EQ(dialogs.Questions, std::vector<String>{Question});
      EXPECT_EQ(Calls(), std::vector<std::string>{Call});
      EXPECT_EQ(Visibility, (std::vector<bool>{false, true}));
    }
  }
};
using AlterLangsTest = AlterTest;
using AlterSupportTest = AlterTest;

TEST_F(AlterLangsTest, AskedListsAndTheProgramsSwitch) {
  struct Case {
    const char* Name;
    const char16_t* Switch;
    std::vector<std::string> Installed;
    std::string Target;
    const char16_t* Question;  // nullptr: nothing is asked and nothing runs
    const char* Call;
  };
  const Case cases[] = {
      {"delete, newest first", u"-ld", {"401,0", "402,0", "405,0"}, "401,0\n",
       u"Following will be changed :\r\n  Deleted languages :\r\n    Germany\r\n    English\r\n\r\n"
       u"Do you agree with these changes ?",
       "5.1 -l4 -b2 -x2 -h1"},
      {"insert only, nothing missing", u"-li", {"401,0", "402,0", "405,0"}, "401,0\n", nullptr, nullptr},
      {"both, one missing", u"-la", {"401,0"}, "401,0\n413,0\n",
       u"Following will be changed :\r\n  Inserted languages :\r\n    Turkish\r\n\r\nDo you agree with these changes ?",
       "5.1 -l5 -b2 -x2 -h1"},
      {"both ways, lists reversed", u"-la", {"401,0", "403,0", "404,0"}, "402,0\n401,0\n410,0\n",
       u"Following will be changed :\r\n  Inserted languages :\r\n    French\r\n    English\r\n"
       u"  Deleted languages :\r\n    Polish\r\n    Slovak\r\n\r\nDo you agree with these changes ?",
       "5.1 -l5 -b2 -x2 -h1"},
      {"database without languages", u"-la", {}, "401,0\n", nullptr, nullptr},
      {"no target languages", u"-la", {"401,0", "402,0"}, "", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    StartCase();
    WriteLifter("5.1", kReach);
    SetStamp("5.1");
    SetLanguages(c.Installed);
    WriteFile("TargetLanguages.txt", c.Target);
    auto form = OpenConnected({c.Switch});
    dialogs.Answers = {true};

    form->UserClick(form->BAlterLangs);

    ExpectAskedAndRun(c.Question, c.Call);
    if (c.Question != nullptr) {
      EXPECT_EQ(form->MState.Lines.back(), u"Upgrade to version 5.1 (licence L-4711) finished successfully");
    }
    EXPECT_TRUE(form->FConnected);
  }
}

TEST_F(AlterLangsTest, CodeWithoutANameStopsBeforeTheQuestion) {
  WriteLifter("5.1", kReach);
  SetStamp("5.1");
  SetLanguages({"401,0"});
  WriteFile("TargetLanguages.txt", "414,0\n401,0\n");
  auto form = OpenConnected({u"-li"});
  dialogs.Answers = {true};
  form->UserClick(form->BAlterLangs);
  EXPECT_EQ(dialogs.Errors, std::vector<String>{u"Language \"414,0\" has no name"});
  EXPECT_TRUE(dialogs.Questions.empty());
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(Visibility.empty());

  EXPECT_EQ(LanguageName(u"412,0"), u"Portugese");
  EXPECT_THROW(LanguageName(u"401,00"), Exception);  // looked up by the canonical text
}

TEST_F(AlterLangsTest, AnsweringNoRunsNothing) {
  WriteLifter("5.1", kReach);
  SetStamp("5.1");
  SetLanguages({"401,0", "402,0"});
  WriteFile("TargetLanguages.txt", "401,0\n");
  auto form = OpenConnected({u"-ld"});
  dialogs.Answers = {false};
  form->UserClick(form->BAlterLangs);
  EXPECT_EQ(dialogs.Questions.size(), 1u);
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(Visibility.empty());
}

TEST_F(AlterLangsTest, FailuresAreReported) {
  SetStamp("5.1");
  SetLanguages({"401,0", "402,0"});
  WriteFile("TargetLanguages.txt", "401,0\n");
  // No program for the version: the runner's message, and the window back.
  auto form = OpenConnected({u"-ld"});
  dialogs.Answers = {true};
  form->UserClick(form->BAlterLangs);
  EXPECT_EQ(dialogs.Messages, std::vector<String>{u"Running Reinstall to version \"5.1\" in licence L-4711 failed. "
                                                  u"Probably corrupted or missing Lifter.Exe file."});
  EXPECT_EQ(Visibility, (std::vector<bool>{false, true}));

  // The language table cannot be read: its own message, nothing asked.
  dialogs = {};
  Sql("DROP TABLE dbo.a194u0");
  form->UserClick(form->BConnect);
  form->UserClick(form->BAlterLangs);
  EXPECT_EQ(dialogs.Errors,
            std::vector<String>{FromUtf8("Languages from database \"" + Database() + "\" cannot be returned")});
  EXPECT_TRUE(dialogs.Questions.empty());
}

// ---- Archive and external-database support ----------------------------------------

TEST_F(AlterSupportTest, EachDirectionWhenAllowed) {
  struct Case {
    const char* Name;
    const char16_t* Switch;
    bool Archive, ExtDB;       // what the database has before
    const char16_t* Question;  // nullptr: the click does nothing at all
    const char* Call;
    const char16_t* CaptionBefore;
    const char16_t* CaptionAfter;
  };
  const Case cases[] = {
      {"archive added", u"-aa", false, false,
       u"Archive support will be added.\r\nThis action may take several hours.\r\nDo you want to continue ?",
       "5.1 -l0 -b0 -x2 -h1", u"Add Archive", u"Del Archive"},
      {"archive removed", u"-aa", true, false,
       u"Archive support will be removed.\r\nThis action may take several hours.\r\nDo you want to continue ?",
       "5.1 -l0 -b1 -x2 -h1", u"Del Archive", u"Add Archive"},
      {"archive removal only, none there", u"-ad", false, false, nullptr, nullptr, u"Add Archive", u"Add Archive"},
      {"archive adding only, already there", u"-ai", true, false, nullptr, nullptr, u"Del Archive", u"Del Archive"},
      {"ext db added", u"-ei", false, false,
       u"External database support will be added.\r\nDo you want to continue ?", "5.1 -l0 -b2 -x0 -h1",
       u"Add ExtDB", u"Del ExtDB"},
      {"ext db removed", u"-ea", false, true, u"External database support will be removed.\r\nDo you want to continue ?",
       "5.1 -l0 -b2 -x1 -h1", u"Del ExtDB", u"Add ExtDB"},
      {"ext db adding only, already there", u"-ei", false, true, nullptr, nullptr, u"Del ExtDB", u"Del ExtDB"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    StartCase();
    WriteLifter("5.1", kAlterSupport);
    SetStamp("5.1", c.Archive, c.ExtDB);
    auto form = OpenConnected({c.Switch});
    TControl& button = String(c.Switch).starts_with(u"-a") ? form->BAlterArchive : form->BAlterExtDB;
    form->UserSetText(form->ENewDir, u"/srv/archive");
    if (&button == &form->BAlterExtDB) form->UserSetText(form->ENewName, u"Ext1");
    EXPECT_EQ(button.Text, c.CaptionBefore);
    ASSERT_TRUE(button.Enabled);
    dialogs.Answers = {true};

    form->UserClick(button);

    ExpectAskedAndRun(c.Question, c.Call);
    if (c.Question != nullptr) {
      const std::vector<std::string> args = ArgsOf("5.1");
      EXPECT_NE(std::find(args.begin(), args.end(), "-d/srv/archive"), args.end());
    }
    EXPECT_EQ(button.Text, c.CaptionAfter);
    EXPECT_TRUE(form->FConnected);
  }
}

TEST_F(AlterSupportTest, CancelledProgramLeavesStateAndCaption) {
  WriteLifter("5.1", kCancel);
  SetStamp("5.1", false, true);
  auto form = OpenConnected({u"-ea"});
  dialogs.Answers = {true};
  form->UserClick(form->BAlterExtDB);
  EXPECT_EQ(Calls().size(), 1u);
  EXPECT_TRUE(form->FExtDBSupport);
  EXPECT_EQ(form->BAlterExtDB.Text, u"Del ExtDB");
}

TEST_F(AlterSupportTest, StateThatCannotBeReadAfterwards) {
  // The program removes the column the state lives in: the message names
  // the database and the flag keeps the value read before.
  WriteLifter("5.1", "sql alter table dbo.a15830u10 drop column a2439u0");
  SetStamp("5.1", false, false);
  auto form = OpenConnected({u"-ai"});
  form->UserSetText(form->ENewDir, u"/srv/archive");
  dialogs.Answers = {true};
  form->UserClick(form->BAlterArchive);
  EXPECT_EQ(dialogs.Messages,
            std::vector<String>{FromUtf8("Archive state from database \"" + Database() + "\" cannot be returned")});
  EXPECT_FALSE(form->FArchiveSupport);
  EXPECT_EQ(form->BAlterArchive.Text, u"Add Archive");
  EXPECT_EQ(Visibility, (std::vector<bool>{false, true}));
}

}  // namespace
}  // namespace zo::testing
