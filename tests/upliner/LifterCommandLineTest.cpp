// The command line the upgrade program is started with: every switch in the
// order the program reads them, each typed value back whole as one argument.
#include "upliner/UpgradeStep.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/Process.h"

namespace zo {
namespace {

TLifterCall SampleCall() {
  TLifterCall call;
  call.AppDir = u"/opt/app";
  call.Version = u"5.1";
  call.ServerName = u"db host;Port=5432";
  call.DatabaseName = u"Shop";
  call.UserName = u"admin";
  call.Password = u"se cret";
  call.ErrorsFile = u"/tmp/errors";
  call.LangActions = TMTSActionType{mtaInsert, mtaDelete};
  call.ArchiveAction = saAdd;
  call.ExtDBAction = saRemove;
  call.NewDir = u"/srv/new dir";
  call.NewName = u"Shop2";
  return call;
}

TEST(LifterCommandLineTest, EverySwitchInTheProgramsOrder) {
  const std::vector<String> expected = {
      u"/opt/app/Lifter_5.1/Lifter.exe", u"-TSQLSERVER", u"-Sdb host;Port=5432", u"-DShop", u"-uadmin",
      u"-pse cret", u"-m0", u"-e/tmp/errors", u"-i/opt/app/IVersion_5.1/", u"-r/opt/app/Lifter_5.1/", u"-l5",
      u"-b0", u"-d/srv/new dir", u"-x1", u"-NShop2", u"-h0",
  };
  EXPECT_EQ(SplitCommandLine(LifterCommandLine(SampleCall())), expected);
}

TEST(LifterCommandLineTest, OptionalPartsComeLast) {
  TLifterCall call = SampleCall();
  call.TrustedConnection = true;
  call.ChangesFile = u"/tmp/changes";
  call.CheckIntegrity = true;
  call.WindowAt = TLifterCall::TWindowAt{120, 80};
  const std::vector<String> items = SplitCommandLine(LifterCommandLine(call));
  ASSERT_EQ(items.size(), 18u);
  EXPECT_EQ(items[6], u"-m1");
  EXPECT_EQ(std::vector<String>(items.end() - 3, items.end()),
            (std::vector<String>{u"-c/tmp/changes", u"-h1", u"-n120;80"}));
}

// A plain value goes as it is; quotes appear only where a blank would split it.
TEST(LifterCommandLineTest, PlainValuesAreQuotedOnlyWhenTheyHoldABlank) {
  const String line = LifterCommandLine(SampleCall());
  EXPECT_NE(line.find(u" -uadmin "), String::npos);
  EXPECT_NE(line.find(u" -NShop2 "), String::npos);
  EXPECT_NE(line.find(QuoteCommandLineItem(u"-pse cret")), String::npos);
}

}  // namespace
}  // namespace zo
