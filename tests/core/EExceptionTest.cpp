#include "core/EException.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>

#include "tests/MessageOf.h"

namespace zo {
namespace {

TEST(ComposeExceptionMessage, Table) {
  struct Case {
    const char* name;
    EException error;
    String expected;
  };
  const Case cases[] = {
      {"main only", EException(pDefault, u"", u"Main", u""), u"Main\r\n"},
      {"detail only", EException(u"a"), u"a\r\n"},
      {"nothing", EException(u""), u""},
      {"detail lines split at CR, LF and CRLF", EException(u"a\rb\nc\r\nd"), u"a\r\nb\r\nc\r\nd\r\n"},
      {"cipher wrap", EException(pDefault, u"", u"AES decryption failed.", u"bad block"),
       u"  Main message :\r\nAES decryption failed.\r\n  Detail message :\r\nbad block\r\n"},
      {"identifier, main and two details", EException(pDefault, u"ID7", u"Main", u"one\r\ntwo"),
       u"  MessageID : ID7\r\n  Main message :\r\nMain\r\n  Detail message :\r\none\r\ntwo\r\n"},
      {"identifier and detail", EException(pDefault, u"ID7", u"", u"d"),
       u"  MessageID : ID7\r\n  Detail message :\r\nd\r\n"},
      {"identifier only", EException(pDefault, u"ID7", u"", u""), u"ID7\r\n"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ComposeExceptionMessage(c.error), c.expected) << c.name;
    EXPECT_EQ(c.error.GetMessage(), c.expected) << c.name;
  }
}

TEST(ComposeExceptionMessage, ForeignErrors) {
  EXPECT_EQ(ComposeExceptionMessage(Exception(u"x")), u"  Original message :\r\nx\r\n");
  EXPECT_EQ(ComposeExceptionMessage(std::runtime_error("y")), u"  Original message :\r\ny\r\n");
  EXPECT_EQ(ComposeExceptionMessage(Exception(u"")), u"  Original message :\r\n\r\n");
}

TEST(EException, CreateFmtFormatsTheDetail) {
  EXPECT_EQ(EException::CreateFmt(u"%s: %d", {u"n", 5}).GetMessage(), u"n: 5\r\n");
}

TEST(EException, SetMsgProps) {
  EException e(u"detail");
  e.SetMsgProps(pReadOnly, u"ID", u"Main");
  EXPECT_EQ(e.Prefix(), pReadOnly);
  EXPECT_EQ(e.MsgID(), u"ID");
  EXPECT_EQ(e.MainMSG(), u"Main");

  const std::optional<EException> refused = test::ErrorOf<EException>([&] { e.SetMsgProps(pDefault, u"X", u"Y"); });
  ASSERT_TRUE(refused) << "read-only error accepted new properties";
  EXPECT_EQ(refused->Prefix(), pReadOnly);
  EXPECT_EQ(refused->GetMessage(), u"Can not modify properties in this exception.\r\nID: Main\r\ndetail\r\n");
  EXPECT_EQ(e.Prefix(), pReadOnly);
  EXPECT_EQ(e.MsgID(), u"ID");
  EXPECT_EQ(e.MainMSG(), u"Main");
  EXPECT_EQ(e.DetailMSG(), std::vector<String>{u"detail"});
}

}  // namespace
}  // namespace zo
