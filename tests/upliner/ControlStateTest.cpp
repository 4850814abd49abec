#include "ScriptedDialogs.h"

namespace zo::testing {
namespace {

using ControlStateTest = AppDirFixture;

// A window that has passed inspection: what a successful Connect leaves.
void Connect(TReinstallForm& form, bool archiveSupport = false, bool extDBSupport = false) {
  form.FArchiveSupport = archiveSupport;
  form.FExtDBSupport = extDBSupport;
  form.FConnected = true;
  form.UpdateControls();
}

TEST_F(ControlStateTest, StartsWithOnlyCloseUsable) {
  WriteVersions("5.0\r\n5.1\r\n");
  auto form = Open();
  EXPECT_FALSE(form->FConnected);
  EXPECT_FALSE(form->BConnect.Enabled);
  EXPECT_FALSE(form->BReinstall.Enabled);
  EXPECT_FALSE(form->BSave.Enabled);
  EXPECT_FALSE(form->CBShowChanges.Enabled);
  EXPECT_FALSE(form->EActualVersion.Enabled);
  EXPECT_TRUE(form->BClose.Enabled);
  EXPECT_TRUE(form->EPassword.Password);
  EXPECT_EQ(form->CCheckIntegrity.Items,
            (std::vector<String>{u"Only last version", u"Always", u"Never"}));
  EXPECT_EQ(form->CCheckIntegrity.ItemIndex, 0);
  EXPECT_EQ(form->FDriverName, u"SQL Server");
}

TEST_F(ControlStateTest, ConnectNeedsServerAndDatabaseOnly) {
  WriteVersions("5.0\r\n");
  auto form = Open();
  form->UserSetText(form->CServerName, u"srv");
  EXPECT_FALSE(form->BConnect.Enabled);
  form->UserSetChecked(form->CBTrustedConnection, true);
  form->UserSetText(form->CDatabaseName, u" ");  // a space counts as filled
  EXPECT_TRUE(form->BConnect.Enabled);
  EXPECT_TRUE(form->EUserName.Text.empty());
  form->UserSetText(form->CServerName, u"");
  EXPECT_FALSE(form->BConnect.Enabled);
}

TEST_F(ControlStateTest, EditingAFieldAfterConnect) {
  WriteVersions("5.0\r\n5.1\r\n5.3\r\n");
  struct Edit {
    const char* Name;
    std::function<void(TReinstallForm&)> Change;
    bool StaysConnected;
  };
  const Edit edits[] = {
      {"server", [](TReinstallForm& f) { f.UserSetText(f.CServerName, u"srv2"); }, false},
      {"user", [](TReinstallForm& f) { f.UserSetText(f.EUserName, u"u"); }, false},
      {"password", [](TReinstallForm& f) { f.UserSetText(f.EPassword, u"x"); }, false},
      {"database", [](TReinstallForm& f) { f.UserSetText(f.CDatabaseName, u"db2"); }, false},
      {"integrity item", [](TReinstallForm& f) { f.UserSelectItem(f.CCheckIntegrity, 1); }, false},
      {"integrity text", [](TReinstallForm& f) { f.UserSetText(f.CCheckIntegrity, u"Nev"); }, false},
      {"trusted", [](TReinstallForm& f) { f.UserSetChecked(f.CBTrustedConnection, true); }, true},
      {"check changes", [](TReinstallForm& f) { f.UserSetChecked(f.CBCheckChanges, true); }, true},
      {"target", [](TReinstallForm& f) { f.UserSetText(f.ETargetVersion, u"5.1"); }, true},
      {"directory", [](TReinstallForm& f) { f.SetText(f.ENewDir, u"/tmp"); }, true},
      {"name", [](TReinstallForm& f) { f.SetText(f.ENewName, u"ext"); }, true},
      {"actual", [](TReinstallForm& f) { f.SetText(f.EActualVersion, u"5.1"); }, true},
  };
  for (const Edit& e : edits) {
    SCOPED_TRACE(e.Name);
    auto form = Open();
    form->SetText(form->CServerName, u"srv");
    form->SetText(form->CDatabaseName, u"db");
    form->SetText(form->EActualVersion, u"5.0");
    Connect(*form);
    ASSERT_TRUE(form->BReinstall.Enabled);
    ASSERT_FALSE(form->BConnect.Enabled);
    e.Change(*form);
    EXPECT_EQ(form->FConnected, e.StaysConnected);
    EXPECT_EQ(form->BReinstall.Enabled, e.StaysConnected);
    EXPECT_EQ(form->BAlterLangs.Enabled, e.StaysConnected);
    EXPECT_EQ(form->BConnect.Enabled, !e.StaysConnected);
  }
}

TEST_F(ControlStateTest, ReinstallNeedsBothVersions) {
  WriteVersions("");
  auto form = Open();
  EXPECT_TRUE(form->ETargetVersion.Text.empty());
  Connect(*form);
  EXPECT_FALSE(form->BReinstall.Enabled);
  form->SetText(form->EActualVersion, u"5.0");
  EXPECT_FALSE(form->BReinstall.Enabled);
  form->UserSetText(form->ETargetVersion, u"5.1");
  EXPECT_TRUE(form->BReinstall.Enabled);
  form->UserSetText(form->ETargetVersion, u"");
  EXPECT_FALSE(form->BReinstall.Enabled);
  EXPECT_TRUE(form->FConnected);
}

TEST_F(ControlStateTest, AlterArchiveButton) {
  struct Case {
    bool Connected, Support;
    String Dir;
    bool Enabled;
    String Caption;
  };
  const Case cases[] = {
      {false, false, u"/data", false, u"Add Archive"}, {false, true, u"", false, u"Del Archive"},
      {true, false, u"", false, u"Add Archive"},       {true, false, u"/data", true, u"Add Archive"},
      {true, true, u"", true, u"Del Archive"},
  };
  for (const Case& c : cases) {
    auto form = Open({u"-aa"});
    form->SetText(form->ENewDir, c.Dir);
    form->FArchiveSupport = c.Support;
    if (c.Connected) Connect(*form, c.Support);
    form->UpdateControls();
    EXPECT_EQ(form->BAlterArchive.Enabled, c.Enabled) << c.Connected << c.Support << ToUtf8(c.Dir);
    EXPECT_EQ(form->BAlterArchive.Text, c.Caption);
  }
}

TEST_F(ControlStateTest, AlterExtDBButton) {
  struct Case {
    bool Connected, Support;
    String Dir, Name;
    bool Enabled;
    String Caption;
  };
  const Case cases[] = {
      {false, false, u"/d", u"n", false, u"Add ExtDB"}, {true, false, u"/d", u"", false, u"Add ExtDB"},
      {true, false, u"", u"n", false, u"Add ExtDB"},    {true, false, u"/d", u"n", true, u"Add ExtDB"},
      {true, true, u"", u"", true, u"Del ExtDB"},
  };
  for (const Case& c : cases) {
    auto form = Open({u"-ea"});
    form->SetText(form->ENewDir, c.Dir);
    form->SetText(form->ENewName, c.Name);
    form->FExtDBSupport = c.Support;
    if (c.Connected) Connect(*form, false, c.Support);
    form->UpdateControls();
    EXPECT_EQ(form->BAlterExtDB.Enabled, c.Enabled) << c.Connected << c.Support << ToUtf8(c.Dir + c.Name);
    EXPECT_EQ(form->BAlterExtDB.Text, c.Caption);
  }
}

// Typing into the directory or name field of a connected window re-applies
// the rules at once.
TEST_F(ControlStateTest, FillingTheNewDirectoryEnablesAdding) {
  auto form = Open({u"-ai"});
  Connect(*form);
  EXPECT_FALSE(form->BAlterArchive.Enabled);
  form->UserSetText(form->ENewDir, u"/archive");
  EXPECT_TRUE(form->BAlterArchive.Enabled);
  EXPECT_TRUE(form->FConnected);
}

// The hidden and disabled controls cannot be used.
TEST_F(ControlStateTest, HiddenOrDisabledControlsIgnoreTheUser) {
  auto form = Open({u"-li"});
  form->UserSetText(form->ETargetVersion, u"9.9");  // GBVersion is hidden in this mode
  EXPECT_TRUE(form->ETargetVersion.Text.empty());
  form->UserSetText(form->EActualVersion, u"9.9");  // read-only
  EXPECT_TRUE(form->EActualVersion.Text.empty());
  form->UserClick(form->BClose);
  EXPECT_TRUE(form->Closed());
}

}  // namespace
}  // namespace zo::testing
