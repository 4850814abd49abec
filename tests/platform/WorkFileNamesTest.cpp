// The names of our own work files: each one made is recognised, a user's
// file that only looks alike is not, and a part file is removed only once
// its writer is gone.
#include "platform/WorkFileNames.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/FileStream.h"
#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"
#include "platform/Utf.h"
#include "tests/ScratchDir.h"

namespace zo {
namespace {

TEST(WorkFileNamesTest, EveryNameMadeIsRecognisedAndNoLookalike) {
  std::uint64_t state = 42;
  for (int i = 0; i < 50; ++i) {
    EXPECT_TRUE(IsWorkFileName(StandInPrefix(u"a.zip") + UniqueLetters(state, kStandInUniqueLength)));
    EXPECT_TRUE(IsWorkFileName(PartFileName(UniqueLetters(state, kPartUniqueLength))));
    EXPECT_TRUE(IsWorkFileName(JournalFileName(state)));
  }
  EXPECT_TRUE(IsWorkFileName(StandInPrefix(std::u16string(300, u'n')) + u"AbC1x9"));   // a long name, cut
  EXPECT_TRUE(IsWorkFileName(u".a.zip.partial-XyZ019"));                               // the system's letters
  const char16_t* users[] = {
      u"a.zip",          u".a.zip.partial-abc12",   u".a.zip.partial-abc1234", u"a.zip.partial-abc123",
      u"..partial-abc123", u".a.zip.partial-abc_12", u".zo-abcdefghij.par",  u".zo-abcdefghi.part",
      u"zo-abcdefghij.part", u".zo-ABCDEFGHIJ.part", u".zo-0123456789abcdef.jrnl", u".zo-0123456789abcdeg.journal",
      u".zo-0123456789abcde.journal", u"",
  };
  for (const char16_t* name : users) EXPECT_FALSE(IsWorkFileName(name)) << ToUtf8(name);
}

class WorkFilesOnDisk : public ::testing::Test {
 protected:
  test::ScratchDir FScratch{"zo-work"};
};

TEST_F(WorkFilesOnDisk, RealStandInsAndPartFilesCarryOurNames) {
  TReplacementFile replacement;
  ASSERT_EQ(replacement.Begin(FScratch.UFile("a.zip")), 0);
  EXPECT_TRUE(IsWorkFileName(ExtractFileName(replacement.WritePath())));
  TDirHandle dir;
  ASSERT_EQ(dir.Open(FScratch.UDir()), 0);
  std::u16string name;
  TFileHandle file;
  ASSERT_EQ(dir.CreateUniqueFile(name, file), 0);
  EXPECT_TRUE(IsPartFileName(name));
  EXPECT_TRUE(IsWorkFileName(name));
}

// A part file is removed only when no living writer holds it; other files
// stay whatever they are called.
TEST_F(WorkFilesOnDisk, LeftoverPartFilesGoOnlyWhenTheirWriterIsGone) {
  TDirHandle dir;
  ASSERT_EQ(dir.Open(FScratch.UDir()), 0);
  std::u16string live, dead;
  TFileHandle liveFile, deadFile;
  ASSERT_EQ(dir.CreateUniqueFile(live, liveFile), 0);
  ASSERT_EQ(dir.CreateUniqueFile(dead, deadFile), 0);
  ASSERT_EQ(deadFile.SetAttr(faReadOnly), 0);   // as a killed writer may have left it
  ASSERT_EQ(deadFile.Close(), 0);
  std::ofstream(FScratch.Path("zo-abcdefghij.part")) << "the user's";
  dir.RemoveLeftoverPartFiles();
  EXPECT_EQ(dir.Stat(live).Kind, ekFile);
  EXPECT_EQ(dir.Stat(dead).Kind, ekNone);
  EXPECT_EQ(dir.Stat(u"zo-abcdefghij.part").Kind, ekFile);
  ASSERT_EQ(liveFile.Close(), 0);
  dir.RemoveLeftoverPartFiles();
  EXPECT_EQ(dir.Stat(live).Kind, ekNone);
}

}  // namespace
}  // namespace zo
