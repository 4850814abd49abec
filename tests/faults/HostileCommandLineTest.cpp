// The upgrade tool's command line given arguments no installer should pass:
// very long ones, empty ones, only quotes or separators, bytes that are not
// UTF-8. Each arrives as the program receives it (argv bytes read as UTF-8)
// and ends in the message the user is meant to see, in one message box,
// with the program ending before its window.
#include <string>

#include "platform/Utf.h"
#include "tests/upliner/ScriptedDialogs.h"
#include "upliner/ReinstallForm.h"

namespace zo::testing {
namespace {

class HostileCommandLine : public AppDirFixture {};

String Incorrect(const String& Arg) { return u"Incorrect input parameter \"" + Arg + u"\""; }
String NotInteger(const String& Text) { return u"'" + Text + u"' is not a valid integer value"; }

TEST_F(HostileCommandLine, EachEndsInItsMessage) {
  const std::string digits(100000, '7');
  const std::string letters(100000, 'x');
  const String fffd(1, char16_t(0xFFFD));
  struct Case {
    std::vector<std::string> Argv;  // raw bytes
    String Message;
  };
  const Case cases[] = {
      {{""}, Incorrect(u"")},
      {{"", "", ""}, Incorrect(u"")},
      {{"\""}, Incorrect(u"\"")},
      {{"\"\"\"\""}, Incorrect(u"\"\"\"\"")},
      {{";;;"}, Incorrect(u";;;")},
      {{"   "}, Incorrect(u"   ")},
      {{"\\\\\\"}, Incorrect(u"\\\\\\")},
      {{"-n;"}, Incorrect(u"-n;")},  // three characters: read as an action switch
      {{"-n;;"}, NotInteger(u"")},
      {{"-n1;;"}, NotInteger(u"")},
      {{"-n\"1\";2"}, NotInteger(u"\"1\"")},
      {{"-n 1;2"}, NotInteger(u" 1")},
      {{"-n2147483648;0"}, NotInteger(u"2147483648")},
      {{"-n" + digits + ";1"}, NotInteger(FromUtf8(digits))},
      {{"-" + letters}, Incorrect(FromUtf8("-" + letters))},
      {{"-li", "-n1;" + digits}, NotInteger(FromUtf8(digits))},
      {{"-l\xff"}, Incorrect(u"-l" + fffd)},
      {{"-\xc3\xa9i"}, Incorrect(u"-\u00e9i")},
      {{"-l\xf0\x9f\x98\x80"}, Incorrect(u"-l\U0001F600")},
      {{"-n\xff;1"}, NotInteger(fffd)},
      {{"-n1;\xed\xa0\x80"}, NotInteger(fffd + fffd + fffd)},
      {{"\xc0\xaf"}, Incorrect(fffd + fffd)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.Message).substr(0, 60));
    std::vector<String> args;
    for (const std::string& raw : c.Argv) args.push_back(FromUtf8(raw));
    dialogs = {};
    TReinstallForm form(dialogs, AppDir());
    form.FormCreate(args);
    EXPECT_TRUE(form.Terminated());
    EXPECT_EQ(dialogs.Messages, std::vector<String>{c.Message});
    EXPECT_TRUE(dialogs.Errors.empty());
  }
}

}  // namespace
}  // namespace zo::testing
