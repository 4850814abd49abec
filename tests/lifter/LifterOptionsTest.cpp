// The reference upgrade program's command line, read on its own and given
// to the real program.
#include "lifter/LifterOptions.h"

#include "lifter/Lifter.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "core/Exception.h"
#include "platform/Process.h"
#include "platform/Utf.h"
#include "tests/FileContents.h"
#include "tests/MessageOf.h"
#include "tests/ScratchDir.h"

namespace zo {
namespace {

using test::ReadAll;

TEST(LifterOptionsTest, ReadsTheToolsCommandLine) {
  const TLifterOptions o = ParseLifterOptions(
      {u"-TSQLSERVER", u"-S127.0.0.1;Port=5", u"-DSales Db", u"-usa", u"-p", u"-m1", u"-e/tmp/tmpA", u"-i/a/IVersion_5.1/",
       u"-r/a/Lifter_5.1/", u"-l5", u"-b0", u"-d/srv/arch dir", u"-x1", u"-NExt", u"-c/tmp/tmpB", u"-h1", u"-n120;-80"});
  EXPECT_EQ(o.ServerName, u"127.0.0.1;Port=5");
  EXPECT_EQ(o.DatabaseName, u"Sales Db");
  EXPECT_EQ(o.UserName, u"sa");
  EXPECT_EQ(o.Password, u"");
  EXPECT_TRUE(o.TrustedConnection);
  EXPECT_EQ(o.ErrorsFile, u"/tmp/tmpA");
  EXPECT_EQ(o.DataFolder, u"/a/IVersion_5.1/");
  EXPECT_EQ(o.ProgramFolder, u"/a/Lifter_5.1/");
  EXPECT_EQ(o.LangActions, (TMTSActionType{mtaInsert, mtaDelete}));
  EXPECT_EQ(o.ArchiveAction, saAdd);
  EXPECT_EQ(o.Directory, u"/srv/arch dir");
  EXPECT_EQ(o.ExtDBAction, saRemove);
  EXPECT_EQ(o.ExtDBName, u"Ext");
  EXPECT_EQ(o.ChangesFile, u"/tmp/tmpB");
  EXPECT_TRUE(o.CheckIntegrity);
  EXPECT_EQ(o.WindowPosition, std::make_pair(120, -80));

  const TLifterOptions minimal = ParseLifterOptions({u"-Ss", u"-Dd"});
  EXPECT_EQ(minimal.ArchiveAction, saKeep);
  EXPECT_EQ(minimal.ExtDBAction, saKeep);
  EXPECT_FALSE(minimal.CheckIntegrity);
}

TEST(LifterOptionsTest, RefusesWhatItCannotHonour) {
  struct Case {
    std::vector<String> Args;
    const char16_t* Message;
  };
  const Case cases[] = {
      {{u"-Ss", u"-Dd", u"plain"}, u"Unknown argument \"plain\""},
      {{u"-Ss", u"-Dd", u"-q"}, u"Unknown argument \"-q\""},
      {{u"-Ss", u"-Dd", u"-"}, u"Unknown argument \"-\""},
      {{u"-TORACLE", u"-Ss", u"-Dd"}, u"Database type \"ORACLE\" is not supported"},
      {{u"-Ss", u"-Dd", u"-x3"}, u"Incorrect value in argument \"-x3\""},
      {{u"-Ss", u"-Dd", u"-b"}, u"Incorrect value in argument \"-b\""},
      {{u"-Ss", u"-Dd", u"-h2"}, u"Incorrect value in argument \"-h2\""},
      {{u"-Ss", u"-Dd", u"-n5"}, u"Incorrect value in argument \"-n5\""},
      {{u"-Ss", u"-Dd", u"-c"}, u"Incorrect value in argument \"-c\""},
      {{u"-Ss", u"-Dd", u"-b1", u"-b2"}, u"Argument \"-b2\" is given twice"},
      {{u"-Dd"}, u"The server name (-S) is missing"},
      {{u"-Ss"}, u"The database name (-D) is missing"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.Message));
    EXPECT_EQ(test::MessageOf([&] { ParseLifterOptions(c.Args); }), c.Message);
  }
}

// A command line the program cannot read is still reported where the tool
// looks for errors.
TEST(LifterProgramTest, BadCommandLineGoesToTheErrorsFile) {
  const test::ScratchDir scratch("lifter-bad-args");
  const std::string errors = scratch.File("errors.txt");
  std::optional<ChildProcess> child =
      StartProcess(FromUtf8(std::string(ZO_LIFTER_PATH) + " -Ss -Dd \"-e" + errors + "\" -q"));
  ASSERT_TRUE(child);
  EXPECT_EQ(child->Wait(), 1);
  EXPECT_EQ(ReadAll(errors), "Unknown argument \"-q\"\r\n");
}

// The scripts of a folder are listed or the listing fails with the folder's
// name: a folder that cannot be read never passes for one without scripts.
TEST(LifterScriptsTest, AFolderThatCannotBeListedIsAnErrorNeverNoScripts) {
  const test::ScratchDir scratch("lifter-scripts");
  for (const char* name : {"b.sql", "a.sql", "notes.txt", "c.SQL.bak"}) std::ofstream(scratch.File(name)) << "x";
  std::ofstream(scratch.File("file")) << "not a folder";
  const String folder = FromUtf8(scratch.File(""));
  EXPECT_EQ(ScriptsIn(folder, false), (std::vector<String>{u"a.sql", u"b.sql"}));

  const String missing = folder + u"missing/";
  EXPECT_TRUE(ScriptsIn(missing, true).empty());
  // The system's reason follows the folder; its words are the system's.
  for (const auto& [path, missingIsEmpty] : {std::pair{missing, false}, std::pair{folder + u"file/", false},
                                             std::pair{folder + u"file/", true}}) {
    const std::string message = ToUtf8(test::MessageOf<Exception>([&] { ScriptsIn(path, missingIsEmpty); }));
    const std::string start = "The scripts in the folder \"" + ToUtf8(path) + "\" cannot be listed: ";
    EXPECT_EQ(message.rfind(start, 0), 0u) << message << " for " << ToUtf8(path) << (missingIsEmpty ? " (missing is empty)" : "");
    EXPECT_GT(message.size(), start.size()) << message;
  }
}

}  // namespace
}  // namespace zo
