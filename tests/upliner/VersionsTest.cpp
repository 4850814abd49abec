#include "ScriptedDialogs.h"

namespace zo::testing {
namespace {

using VersionsTest = AppDirFixture;

TEST_F(VersionsTest, TargetIsTheLastLineInEveryEncodingAndLineEnd) {
  struct Case {
    const char* Name;
    std::string Bytes;
    std::vector<String> Lines;
  };
  const Case cases[] = {
      {"crlf", "5.0\r\n5.1\r\n5.2\r\n", {u"5.0", u"5.1", u"5.2"}},
      {"lf, no final break", "5.0\n5.1", {u"5.0", u"5.1"}},
      {"cr", "5.0\r5.1\r", {u"5.0", u"5.1"}},
      {"inner empty line", "5.0\r\n\r\n5.2\r\n", {u"5.0", u"", u"5.2"}},
      {"empty last line", "5.0\r\n\r\n", {u"5.0", u""}},
      {"utf-8 without mark", "5.0\r\n6.0-\xC5\xBE\r\n", {u"5.0", u"6.0-\u017E"}},
      {"utf-8 mark", "\xEF\xBB\xBF" "5.0\r\n5.1\r\n", {u"5.0", u"5.1"}},
      {"utf-16le mark", std::string("\xFF\xFE" "5\0.\0" "0\0\r\0\n\0" "7\0", 14), {u"5.0", u"7"}},
      {"utf-16be mark", std::string("\xFE\xFF\0" "5\0.\0" "1\0\n\x01\x7E", 12), {u"5.1", u"\u017E"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    dialogs = {};
    WriteVersions(c.Bytes);
    auto form = Open();
    EXPECT_TRUE(dialogs.Errors.empty());
    EXPECT_EQ(form->FVersionSL, c.Lines);
    EXPECT_EQ(form->ETargetVersion.Text, c.Lines.back());
    EXPECT_TRUE(form->EActualVersion.Text.empty());
  }
}

TEST_F(VersionsTest, EmptyFileLeavesTheTargetEmptyWithoutError) {
  WriteVersions("");
  auto form = Open();
  EXPECT_TRUE(dialogs.Errors.empty());
  EXPECT_TRUE(form->FVersionSL.empty());
  EXPECT_TRUE(form->ETargetVersion.Text.empty());
}

TEST_F(VersionsTest, MissingFileIsReportedAndTheWindowStillOpens) {
  auto form = Open();
  EXPECT_FALSE(form->Terminated());
  EXPECT_EQ(dialogs.Errors, std::vector<String>{u"Cannot open file \"" + AppDir() +
                                                u"/Versions.sl\". No such file or directory"});
  EXPECT_TRUE(form->FVersionSL.empty());
  EXPECT_TRUE(form->ETargetVersion.Text.empty());
  EXPECT_EQ(form->Caption, u"Reinstall Database");
}

TEST_F(VersionsTest, OnlyTheReinstallModeReadsTheList) {
  WriteVersions("5.0\r\n");
  auto form = Open({u"-ea"});
  EXPECT_TRUE(form->FVersionSL.empty());
  std::filesystem::remove(Path("Versions.sl"));
  auto other = Open({u"-li"});
  EXPECT_TRUE(dialogs.Errors.empty());
}

}  // namespace
}  // namespace zo::testing
