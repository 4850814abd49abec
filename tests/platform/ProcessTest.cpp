#include "platform/Process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/Utf.h"
#include "tests/ScratchDir.h"

namespace zo {
namespace {

namespace fs = std::filesystem;

TEST(SplitCommandLine, WindowsRules) {
  const struct {
    std::u16string line;
    std::vector<std::u16string> args;
  } cases[] = {
      {u"", {}},
      {u"   ", {}},
      {u"prog", {u"prog"}},
      {u"prog a  b\tc", {u"prog", u"a", u"b", u"c"}},
      {u"\"C:\\my dir\\Lifter.exe\" -x", {u"C:\\my dir\\Lifter.exe", u"-x"}},
      {u"C:\\dir\\p.exe \"-SA B\" -D", {u"C:\\dir\\p.exe", u"-SA B", u"-D"}},
      {u"p \"-iC:\\Data\\IVersion_5.1\\\" -u", {u"p", u"-iC:\\Data\\IVersion_5.1\" -u"}},
      {u"p a\\\\\"b c\" d", {u"p", u"a\\b c", u"d"}},
      {u"p a\\\\\\\"b", {u"p", u"a\\\"b"}},
      {u"p a\\\\b", {u"p", u"a\\\\b"}},
      {u"p \"\"", {u"p", u""}},
      {u"p \"a\"\"b\"", {u"p", u"a\"b"}},
      {u"p \"unterminated arg", {u"p", u"unterminated arg"}},
      {u"\"unterminated prog", {u"unterminated prog"}},
      {u"p \"-n10;20\"", {u"p", u"-n10;20"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitCommandLine(c.line), c.args) << ToUtf8(c.line);
}

TEST(SplitProgramCommandLine, AQuoteOnlyTogglesAndABackslashIsPlain) {
  const struct {
    std::u16string line;
    std::vector<std::u16string> args;
  } cases[] = {
      {u"", {}},
      {u"  p  a\tb ", {u"p", u"a", u"b"}},
      {u"C:\\app\\Lifter_5.1\\Lifter.exe \"-iC:\\app\\IVersion_5.1\\\" \"-rC:\\app\\Lifter_5.1\\\" -l0",
       {u"C:\\app\\Lifter_5.1\\Lifter.exe", u"-iC:\\app\\IVersion_5.1\\", u"-rC:\\app\\Lifter_5.1\\", u"-l0"}},
      {u"\"C:\\my app\\Lifter.exe\" \"-SA B\"", {u"C:\\my app\\Lifter.exe", u"-SA B"}},
      {u"p \"-d\" -x", {u"p", u"-d", u"-x"}},
      {u"p \"\"", {u"p", u""}},
      {u"p a\\\\b -n\"1;2\"", {u"p", u"a\\\\b", u"-n1;2"}},
      {u"p \"unterminated arg", {u"p", u"unterminated arg"}},
  };
  for (const auto& c : cases) EXPECT_EQ(SplitProgramCommandLine(c.line), c.args) << ToUtf8(c.line);
}

// What the upgrade tool quotes arrives whole at a program that reads its
// command line by this system's rule: trailing backslashes, blanks, an
// empty value.
TEST(QuoteCommandLineItem, ReadsBackAsOneItem) {
  std::vector<std::u16string> values = {u"-iC:\\app\\IVersion_5.1\\", u"-d/data/My Archive\\", u"-SA B", u"-d",
                                        u"-x\\\\", u"-e/tmp/tmpAB12"};
#ifndef _WIN32
  // A quote travels only where the line is read by the escaping rules.
  values.push_back(u"-pa\"b\\\"c");
#endif
  for (const std::u16string& value : values) {
    const std::u16string line = u"p " + QuoteCommandLineItem(value) + u" " + QuoteCommandLineItem(value) + u" -h0";
#ifdef _WIN32
    const std::vector<std::u16string> read = SplitProgramCommandLine(line);
#else
    const std::vector<std::u16string> read = SplitCommandLine(line);
#endif
    EXPECT_EQ(read, (std::vector<std::u16string>{u"p", value, value, u"-h0"})) << ToUtf8(line);
  }
}

class StartProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef _WIN32
    GTEST_SKIP() << "the child programs here are shell scripts, which Windows does not start";
#endif
    fs::create_directories(FScratch.Path("with space"));
  }

  // A program that writes its arguments, one per line, next to itself.
  fs::path WriteRecorder(const fs::path& where) {
    std::ofstream(where) << "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$(dirname \"$0\")/args.txt\"\nexit 3\n";
    fs::permissions(where, fs::perms::owner_all);
    return where;
  }
  std::string RecordedArgs(const fs::path& where) {
    std::ifstream in(where.parent_path() / "args.txt");
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  test::ScratchDir FScratch{"zo-process"};
};

TEST_F(StartProcessTest, QuotedItemArrivesAsOneArgument) {
  const fs::path prog = WriteRecorder(FScratch.Path("Lifter.exe"));
  auto child = StartProcess(FromUtf8(prog.string()) + u" -TSQLSERVER \"-SA B\" -p\u00E4 \"-d\"");
  ASSERT_TRUE(child.has_value());
  EXPECT_EQ(child->Wait(), 3);
  EXPECT_EQ(RecordedArgs(prog), "-TSQLSERVER\n-SA B\n-p\xC3\xA4\n-d\n");
}

TEST_F(StartProcessTest, UnquotedProgramPathWithBlanks) {
  const fs::path prog = WriteRecorder(FScratch.Path("with space/Lifter.exe"));
  auto child = StartProcess(FromUtf8(prog.string()) + u" -x");
  ASSERT_TRUE(child.has_value());
  EXPECT_EQ(child->Wait(), 3);
  EXPECT_EQ(RecordedArgs(prog), "-x\n");
}

TEST_F(StartProcessTest, MissingOrNotExecutableProgramFails) {
  int error = 0;
  EXPECT_FALSE(StartProcess(FScratch.UFile("nothing.exe") + u" -x", &error).has_value());
  EXPECT_EQ(error, ENOENT);
  std::ofstream(FScratch.Path("plain.txt")) << "x";
  EXPECT_FALSE(StartProcess(FScratch.UFile("plain.txt"), &error).has_value());
  EXPECT_EQ(error, EACCES);
  EXPECT_FALSE(StartProcess(u"", &error).has_value());
}

TEST_F(StartProcessTest, SignalEndsTheWait) {
  const fs::path prog = FScratch.Path("killer.sh");
  std::ofstream(prog) << "#!/bin/sh\nkill -9 $$\n";
  fs::permissions(prog, fs::perms::owner_all);
  auto child = StartProcess(FromUtf8(prog.string()));
  ASSERT_TRUE(child.has_value());
  EXPECT_EQ(child->Wait(), 128 + 9);
}

}  // namespace
}  // namespace zo
