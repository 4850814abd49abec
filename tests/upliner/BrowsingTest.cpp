#include "ScriptedDialogs.h"

namespace zo::testing {
namespace {

using BrowsingTest = AppDirFixture;

TEST_F(BrowsingTest, SaveFollowsTheVisibleReport) {
  WriteVersions("5.0\r\n");
  auto form = Open();
  EXPECT_FALSE(form->BSave.Enabled);
  form->AddLine(form->MState, u"");
  EXPECT_TRUE(form->BSave.Enabled);

  // Show Changes is enabled after a sequence run with Check Changes.
  form->CBShowChanges.Enabled = true;
  form->UserClick(form->CBShowChanges);
  EXPECT_TRUE(form->CBShowChanges.Checked);
  EXPECT_FALSE(form->BSave.Enabled);  // MChanges is empty
  EXPECT_FALSE(form->MState.Visible);
  EXPECT_TRUE(form->MChanges.Visible);

  form->AddLine(form->MChanges, u"change");
  EXPECT_TRUE(form->BSave.Enabled);
  form->ClearLines(form->MState);
  EXPECT_TRUE(form->BSave.Enabled);

  form->UserClick(form->CBShowChanges);
  EXPECT_FALSE(form->BSave.Enabled);
  EXPECT_TRUE(form->MState.Visible);
  EXPECT_FALSE(form->MChanges.Visible);
}

TEST_F(BrowsingTest, SavesTheVisibleReportWithCrLfInUtf8ReplacingTheFile) {
  WriteVersions("5.0\r\n");
  auto form = Open();
  form->SetLines(form->MState, {u"", u"Upgrade to version 5.1 finished", u"Přehled"});
  form->SetLines(form->MChanges, {u"changed a", u"changed b"});
  const String target = AppDir() + u"/report.txt";
  WriteFile("report.txt", "old content that is longer than the report\r\n");

  dialogs.SaveNames = {target};
  form->UserClick(form->BSave);
  EXPECT_TRUE(dialogs.Errors.empty());
  EXPECT_TRUE(dialogs.Questions.empty());
  EXPECT_EQ(dialogs.SaveRequests, std::vector<String>{u"txt|*.txt|*.txt"});
  EXPECT_EQ(ReadFile(Path("report.txt")), "\r\nUpgrade to version 5.1 finished\r\nP\xC5\x99" "ehled\r\n");

  form->CBShowChanges.Enabled = true;
  form->UserSetChecked(form->CBShowChanges, true);
  dialogs.SaveNames = {target};
  form->UserClick(form->BSave);
  EXPECT_EQ(ReadFile(Path("report.txt")), "changed a\r\nchanged b\r\n");

  // Cancelling the dialog writes nothing.
  dialogs.SaveNames = {std::nullopt};
  form->AddLine(form->MChanges, u"more");
  form->UserClick(form->BSave);
  EXPECT_EQ(ReadFile(Path("report.txt")), "changed a\r\nchanged b\r\n");
}

TEST_F(BrowsingTest, SaveFailureIsShownAndTheWindowStaysUsable) {
  WriteVersions("5.0\r\n");
  auto form = Open();
  form->AddLine(form->MState, u"line");
  const String target = AppDir() + u"/missing-dir/report.txt";
  dialogs.SaveNames = {target};
  form->UserClick(form->BSave);
  EXPECT_EQ(dialogs.Errors,
            std::vector<String>{u"Cannot create file \"" + target + u"\". No such file or directory"});
  EXPECT_TRUE(form->BSave.Enabled);
}

TEST_F(BrowsingTest, DirectoryPickerFillsNewDirOnlyWhenConfirmed) {
  auto form = Open({u"-ai"});
  form->UserSetText(form->ENewDir, u"/var");
  dialogs.Directories = {std::nullopt, String(u"/srv/archive")};
  form->UserClick(form->SBNewDir);
  EXPECT_EQ(form->ENewDir.Text, u"/var");
  form->UserClick(form->SBNewDir);
  EXPECT_EQ(form->ENewDir.Text, u"/srv/archive");
  EXPECT_EQ(dialogs.DirectoryRequests, (std::vector<String>{u"/var", u"/var"}));
}

TEST_F(BrowsingTest, DatabaseListNeedsAServerName) {
  WriteVersions("5.0\r\n");
  auto form = Open();
  form->CDatabaseName.Items = {u"stale"};
  form->UserDropDown(form->CDatabaseName);
  EXPECT_EQ(dialogs.Errors, std::vector<String>{u"You must choose Server Name first."});
  EXPECT_TRUE(form->CDatabaseName.Items.empty());
}

TEST_F(BrowsingTest, CloseEndsTheWindow) {
  WriteVersions("5.0\r\n");
  auto form = Open();
  bool told = false;
  form->OnClose = [&] { told = true; };
  form->UserClick(form->BClose);
  EXPECT_TRUE(form->Closed());
  EXPECT_TRUE(told);
}

}  // namespace
}  // namespace zo::testing
