#include <array>
#include <map>
#include <set>

#include "ScriptedDialogs.h"

namespace zo::testing {
namespace {

using ArrangementTest = AppDirFixture;

struct Arrangement {
  std::vector<String> Args;
  int Width, Height;
  String Caption;
  std::set<String> Shown;  // the window's direct children that are visible
  std::map<String, std::array<int, 3>> Geometry;  // left, top, width in window coordinates
  std::map<String, String> Captions;
};

const std::set<String> kReinstallShown = {u"GBDatabase", u"GBVersion",  u"LCheckIntegrity", u"CCheckIntegrity",
                                          u"MState",     u"CBCheckChanges", u"CBShowChanges", u"BSave",
                                          u"BConnect",   u"BReinstall", u"BClose"};

std::set<String> With(std::set<String> names, std::initializer_list<String> more) {
  names.insert(more);
  return names;
}

TEST_F(ArrangementTest, EachModeWithAndWithoutBanner) {
  WriteVersions("5.0\r\n");
  const Arrangement cases[] = {
      {{},
       499, 360, u"Reinstall Database", kReinstallShown,
       {{u"GBDatabase", {8, 8, 257}}, {u"GBVersion", {8, 160, 257}}, {u"MState", {272, 8, 217}},
        {u"MChanges", {272, 8, 217}}, {u"CBCheckChanges", {272, 248, 113}}, {u"CBShowChanges", {400, 248, 105}},
        {u"LCheckIntegrity", {19, 282, 68}}, {u"CCheckIntegrity", {104, 277, 137}},
        {u"BSave", {176, 304, 75}}, {u"BConnect", {256, 304, 75}}, {u"BReinstall", {335, 304, 75}},
        {u"BClose", {416, 304, 75}}, {u"CServerName", {112, 28, 137}}, {u"EActualVersion", {112, 180, 137}}},
       {{u"BReinstall", u"Reinstall"}, {u"BConnect", u"Connect"}}},
      {{u"-n10;20"},
       499, 419, u"Reinstall Database", With(kReinstallShown, {u"Panel1", u"Bevel1"}),
       {{u"Panel1", {0, 0, 497}}, {u"Bevel1", {-3, 58, 499}}, {u"GBDatabase", {8, 66, 257}},
        {u"GBVersion", {8, 218, 257}}, {u"MState", {272, 66, 217}}, {u"MChanges", {272, 66, 217}},
        {u"CBCheckChanges", {272, 306, 113}}, {u"CBShowChanges", {400, 306, 105}},
        {u"LCheckIntegrity", {19, 340, 68}}, {u"CCheckIntegrity", {104, 335, 137}},
        {u"BSave", {176, 362, 75}}, {u"BConnect", {256, 362, 75}}, {u"BReinstall", {335, 362, 75}},
        {u"BClose", {416, 362, 75}}, {u"PageDescription", {40, 26, 389}}},
       {}},
      {{u"-li"},
       278, 248, u"Alter languages", {u"GBDatabase", u"BAlterLangs", u"BConnect", u"BClose"},
       {{u"GBDatabase", {8, 8, 257}}, {u"BConnect", {191, 190, 75}}, {u"BClose", {108, 190, 75}},
        {u"BAlterLangs", {25, 190, 75}}, {u"BAlterArchive", {25, 190, 75}}, {u"BAlterExtDB", {25, 190, 75}},
        {u"ENewDir", {88, 189, 153}}, {u"SBNewDir", {242, 188, 23}}, {u"CDatabaseName", {113, 124, 137}}},
       {{u"BAlterLangs", u"Alter Langs"}}},
      {{u"-aa"},
       278, 272, u"Alter archive", {u"GBDatabase", u"LNewDir", u"ENewDir", u"SBNewDir", u"BAlterArchive", u"BConnect", u"BClose"},
       {{u"LNewDir", {19, 194, 52}}, {u"ENewDir", {88, 189, 153}}, {u"SBNewDir", {242, 188, 23}},
        {u"BConnect", {191, 214, 75}}, {u"BClose", {108, 214, 75}}, {u"BAlterArchive", {25, 214, 75}}},
       {{u"LNewDir", u"Archive Dir :"}, {u"BAlterArchive", u"Add Archive"}}},
      {{u"-ed"},
       278, 296, u"Alter external db",
       {u"GBDatabase", u"LNewDir", u"ENewDir", u"SBNewDir", u"LNewName", u"ENewName", u"BAlterExtDB", u"BConnect",
        u"BClose"},
       {{u"LNewName", {23, 218, 52}}, {u"ENewName", {88, 213, 153}}, {u"LNewDir", {19, 194, 48}},
        {u"BConnect", {191, 238, 75}}, {u"BClose", {108, 238, 75}}, {u"BAlterExtDB", {25, 238, 75}}},
       {{u"LNewDir", u"Ext DB Dir :"}, {u"LNewName", u"Ext DB Name :"}, {u"BAlterExtDB", u"Add ExtDB"}}},
      {{u"-n100;200", u"-ea"},
       499, 395, u"Alter external db",
       {u"Panel1", u"Bevel1", u"GBDatabase", u"LNewDir", u"ENewDir", u"SBNewDir", u"LNewName", u"ENewName",
        u"BAlterExtDB", u"BConnect", u"BClose"},
       {{u"GBDatabase", {8, 66, 480}}, {u"CServerName", {112, 86, 360}}, {u"CBTrustedConnection", {24, 162, 448}},
        {u"LNewName", {23, 276, 52}}, {u"ENewName", {88, 271, 375}}, {u"LNewDir", {19, 252, 48}},
        {u"ENewDir", {88, 247, 375}}, {u"SBNewDir", {464, 246, 23}}, {u"BConnect", {412, 337, 75}},
        {u"BClose", {329, 337, 75}}, {u"BAlterExtDB", {246, 337, 75}}},
       {}},
      {{u"-ld", u"-n0;0"},
       499, 395, u"Alter languages", {u"Panel1", u"Bevel1", u"GBDatabase", u"BAlterLangs", u"BConnect", u"BClose"},
       {{u"GBDatabase", {8, 66, 480}}, {u"BConnect", {412, 337, 75}}, {u"BAlterLangs", {246, 337, 75}}},
       {}},
      {{u"-ai", u"-n0;0"},
       499, 395, u"Alter archive",
       {u"Panel1", u"Bevel1", u"GBDatabase", u"LNewDir", u"ENewDir", u"SBNewDir", u"BAlterArchive", u"BConnect",
        u"BClose"},
       {{u"ENewDir", {88, 247, 375}}, {u"SBNewDir", {464, 246, 23}}, {u"BAlterArchive", {246, 337, 75}}},
       {}},
  };
  for (const Arrangement& c : cases) {
    SCOPED_TRACE(ToUtf8(c.Caption + (c.Args.empty() ? u"" : u" " + c.Args[0])));
    auto form = Open(c.Args);
    ASSERT_FALSE(form->Terminated());
    // A font narrow enough for every caption to fit where it is designed.
    form->SetCaptionMeasure([](StringView Caption, bool) { return static_cast<int>(Caption.size()) * 4; });
    EXPECT_EQ(form->Width, c.Width);
    EXPECT_EQ(form->Height, c.Height);
    EXPECT_EQ(form->Caption, c.Caption);
    for (const TControl* control : form->Controls()) {
      if (control->Parent != nullptr) continue;
      EXPECT_EQ(control->Visible, c.Shown.count(control->Name) == 1) << ToUtf8(control->Name);
    }
    for (const auto& [name, geometry] : c.Geometry) {
      const TControl* control = form->FindControl(name);
      ASSERT_NE(control, nullptr) << ToUtf8(name);
      EXPECT_EQ((std::array<int, 3>{form->WindowLeft(*control), form->WindowTop(*control), control->Width}), geometry)
          << ToUtf8(name);
    }
    for (const auto& [name, caption] : c.Captions) EXPECT_EQ(form->FindControl(name)->Text, caption) << ToUtf8(name);
    EXPECT_TRUE(form->PageName.Bold);
  }
}

// Labels are as wide as their caption in the font, and a caption too wide
// for the room before its field ends just before that field, wherever the
// mode puts it; the fields themselves never move.
TEST_F(ArrangementTest, LabelsFitTheirCaptionsBeforeTheirFields) {
  WriteVersions("5.0\r\n");
  const auto measure = [](int PerChar) {
    return [PerChar](StringView Caption, bool Bold) { return static_cast<int>(Caption.size()) * (PerChar + Bold); };
  };
  struct Case {
    std::vector<String> Args;
    int PerChar;
    std::map<String, std::array<int, 2>> Labels;  // left and width in their container
  };
  const Case cases[] = {
      // "Ext DB Name :" needs 78 of the 65 pixels before ENewName (88).
      {{u"-ea", u"-n1;1"}, 6, {{u"LNewName", {8, 78}}, {u"LNewDir", {14, 72}}, {u"LServerName", {16, 78}},
                               {u"LDatabaseName", {13, 90}}, {u"PageName", {24, 77}}}},
      {{u"-ea"}, 5, {{u"LNewName", {21, 65}}, {u"LNewDir", {19, 60}}, {u"LDatabaseName", {16, 75}}}},
      {{}, 6, {{u"LCheckIntegrity", {0, 102}}, {u"Label1", {6, 96}}, {u"Label2", {6, 96}}}},
      {{}, 5, {{u"LCheckIntegrity", {17, 85}}, {u"Label1", {8, 80}}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.PerChar) + " per character" + (c.Args.empty() ? "" : " " + ToUtf8(c.Args[0])));
    auto form = Open(c.Args);
    form->SetCaptionMeasure(measure(c.PerChar));
    for (const auto& [name, geometry] : c.Labels) {
      const TControl* label = form->FindControl(name);
      EXPECT_EQ((std::array<int, 2>{label->Left, label->Width}), geometry) << ToUtf8(name);
    }
    EXPECT_EQ(form->ENewName.Left, 88);
    EXPECT_EQ(form->CCheckIntegrity.Left, 104);
    // A narrower font gives every label its designed place back.
    form->SetCaptionMeasure(measure(3));
    EXPECT_EQ(form->LNewName.Left, 23);
    EXPECT_EQ(form->LCheckIntegrity.Left, 19);
  }
}

// Message boxes, the directory picker and hiding during an action all make
// the window active again; only the first activation arranges it.
TEST_F(ArrangementTest, ActivatingAgainKeepsSizeAndPositions) {
  for (const std::vector<String>& args :
       {std::vector<String>{}, {u"-n1;2"}, {u"-la"}, {u"-ai", u"-n3;4"}, {u"-ea"}}) {
    auto form = Open(args);
    auto snapshot = [&] {
      std::vector<int> values = {form->Left, form->Top, form->Width, form->Height};
      for (const TControl* c : form->Controls())
        values.insert(values.end(), {c->Left, c->Top, c->Width, c->Height, c->Visible});
      return values;
    };
    const std::vector<int> first = snapshot();
    form->FormActivate();
    form->FormActivate();
    EXPECT_EQ(snapshot(), first);
  }
}

}  // namespace
}  // namespace zo::testing
