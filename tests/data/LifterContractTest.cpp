// The facts the upgrade tool and the upgrade program share: what one writes
// the other must read back the same.
#include "data/LifterContract.h"

#include <gtest/gtest.h>

#include "core/Exception.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

TEST(LifterContract, VersionsIgnoreLetterCaseAndTheFirstMatchCounts) {
  const std::vector<String> versions = {u"5.0", u"5.2A", u"5.2a", u"", u"6.0\u00E9"};
  EXPECT_EQ(IndexOfVersion(versions, u"5.2a"), 1);
  EXPECT_EQ(IndexOfVersion(versions, u"5.2A"), 1);
  EXPECT_EQ(IndexOfVersion(versions, u""), 3);
  EXPECT_EQ(IndexOfVersion(versions, u"5.3"), -1);
  EXPECT_EQ(IndexOfVersion(versions, u"5.0 "), -1);
  // Latin-1 letters fold too; the multiplication and division signs are no
  // letters, and nothing beyond Latin-1 is folded.
  EXPECT_EQ(IndexOfVersion(versions, u"6.0\u00C9"), 4);
  EXPECT_FALSE(SameVersion(u"\u00D7", u"\u00F7"));
  EXPECT_FALSE(SameVersion(u"\u0100", u"\u0101"));
  EXPECT_FALSE(SameVersion(u"5.2", u"5.20"));
}

TEST(LifterContract, StampTextReadsBackWhatIsWritten) {
  EXPECT_EQ(StampText(u"5.1", cdbvtRelease), u"5.1,0");
  EXPECT_EQ(StampText(u"5.1", cdbvtCorrupt), u"5.1,2");
  for (const TCDBVersionType type : {cdbvtRelease, cdbvtBeta, cdbvtCorrupt}) {
    const TStampText stamp = ParseStampText(StampText(u"6.0 beta", type));
    EXPECT_EQ(stamp.Version, u"6.0 beta");
    EXPECT_EQ(stamp.VersionType, type);
  }
  // Only the first comma separates; the type must be a number.
  EXPECT_EQ(test::MessageOf([] { ParseStampText(u"5.2"); }),
            u"Internal error - empty value not allowed in TCDBVersionTypeHelper.FromString function");
  EXPECT_EQ(test::MessageOf([] { ParseStampText(u"5.2,1,7"); }), u"'1,7' is not a valid integer value");
}

TEST(LifterContract, FolderNamesCarryTheVersion) {
  EXPECT_EQ(ProgramFolderName(u"5.1"), u"Lifter_5.1");
  EXPECT_EQ(DataFolderName(u"5.1"), u"IVersion_5.1");
  EXPECT_EQ(VersionOfProgramFolder(u"Lifter_5.1"), u"5.1");
  for (const char16_t* name : {u"Lifter_", u"Lifter", u"lifter_5.1", u"IVersion_5.1", u""})
    EXPECT_EQ(VersionOfProgramFolder(name), std::nullopt) << ToUtf8(name);
  EXPECT_EQ(ToolFilePath(u"/opt/app", kVersionsFileName), u"/opt/app/Versions.sl");
  EXPECT_EQ(ToolFilePath(u"/opt/app/", kLicenceFileName), u"/opt/app/LicenceNumber.txt");
}

TEST(LifterContract, StampCipherRoundTrip) {
  const String text = StampText(u"5.2\u00E9", cdbvtBeta);
  EXPECT_EQ(DecipherStamp(EncipherStamp(text)), text);
}

}  // namespace
}  // namespace zo
