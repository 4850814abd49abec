// What the parser makes of correct command lines. The messages for wrong ones
// are checked end to end, on the program's output (bundlet_cli_tests).
#include "bundlet/CommandLine.h"

#include <gtest/gtest.h>

#include <utility>

namespace zo {
namespace {

struct Parsed {
  String action, archive;
  std::vector<std::pair<String, String>> directories;
};

Parsed Parse(const std::vector<String>& args) {
  TBundletCommand command;
  ParseBundletArguments(args, command);
  CheckBundletCommand(command);
  Parsed p{command.Action, command.ArchivePath, {}};
  for (int i = 0; i < command.Directories.Count(); ++i) {
    p.directories.emplace_back(command.Directories.GetName(i), command.Directories.GetValue(i));
  }
  return p;
}

TEST(ParseBundletArgumentsTest, CorrectCommandLines) {
  struct Case {
    const char* what;
    std::vector<String> args;
    String action, archive;
    std::vector<std::pair<String, String>> directories;
  } cases[] = {
      {"pack all", {u"-Aza", u"-DC:\\data", u"-ZC:\\out\\data.zip"}, u"za", u"C:\\out\\data.zip", {{u"C:\\data", u""}}},
      {"archive first", {u"-Z/a.zip", u"-Aua", u"-D/restore"}, u"ua", u"/a.zip", {{u"/restore", u""}}},
      {"parts split at the first double backslash",
       {u"-Azp", u"-D/data\\\\sub\\x.txt", u"-DC:\\d\\\\dir\\\\more", u"-Dx\\\\", u"-Z/a.zip"},
       u"zp",
       u"/a.zip",
       {{u"/data", u"sub\\x.txt"}, {u"C:\\d", u"dir\\\\more"}, {u"x", u""}}},
      {"later -Z and -A replace, the list stays",
       {u"-Aza", u"-D/one", u"-Z/first.zip", u"-Azp", u"-D/b\\\\p", u"-Z/second.zip"},
       u"zp",
       u"/second.zip",
       {{u"/one", u""}, {u"/b", u"p"}}},
      {"blanks and non-ASCII are kept", {u"-Aua", u"-D/tmp/a b/\u00e4\u00f6", u"-Z/x y.zip"}, u"ua", u"/x y.zip",
       {{u"/tmp/a b/\u00e4\u00f6", u""}}},
  };
  for (const Case& c : cases) {
    const Parsed p = Parse(c.args);
    EXPECT_EQ(p.action, c.action) << c.what;
    EXPECT_EQ(p.archive, c.archive) << c.what;
    EXPECT_EQ(p.directories, c.directories) << c.what;
  }
}

}  // namespace
}  // namespace zo
