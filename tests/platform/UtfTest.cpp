#include "platform/Utf.h"

#include <gtest/gtest.h>

namespace zo {
namespace {

TEST(Utf, RoundTripsEveryPlane) {
  const std::u16string text = u"a\u00E4\u20AC\U0001F600z";
  EXPECT_EQ(ToUtf8(text), "a\xC3\xA4\xE2\x82\xAC\xF0\x9F\x98\x80z");
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
}

TEST(Utf, IllFormedInputBecomesReplacementCharacters) {
  const struct {
    std::string utf8;
    std::u16string expected;
  } cases[] = {
      {"\xFF", u"\uFFFD"},
      {"a\xC3", u"a\uFFFD"},                 // truncated sequence
      {"\xC0\xAF", u"\uFFFD\uFFFD"},         // overlong '/'
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(FromUtf8(c.utf8), c.expected);
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}

// File names are bytes: any of them travels through the system and back
// unchanged, while well-formed names read exactly as FromUtf8 reads them.
TEST(Utf, FileNamesOfAnyBytesSurviveTheRoundTrip) {
  const std::string cases[] = {
      "plain.txt", "caf\xC3\xA9.txt", "caf\xE9.txt", "\xFF\xFE", "a\xC3", "\xED\xA0\x80", "\xC0\xAF",
      "\xF4\x90\x80\x80", "\xE2\x82", "mixed \xE9 and \xC3\xA9",
  };
  for (const std::string& name : cases) {
    EXPECT_EQ(ToOsPath(FromOsPath(name)), name) << name;
    EXPECT_EQ(HasEscapedBytes(FromOsPath(name)), FromUtf8(name) != FromOsPath(name)) << name;
  }
  std::string every;
  for (int b = 1; b < 256; ++b) every += static_cast<char>(b);
  EXPECT_EQ(ToOsPath(FromOsPath(every)), every);
  EXPECT_EQ(FromOsPath("caf\xC3\xA9"), u"caf\u00E9");
  EXPECT_EQ(FromOsPath("caf\xE9"), u"caf\xDCE9");
  EXPECT_EQ(EscapedByte(u'\xDCE9'), 0xE9);
  EXPECT_EQ(EscapedByte(u'\xDC7F'), -1);
  // Outside file names an escape is just an ill-formed unit.
  EXPECT_EQ(ToUtf8(u"\xDCE9"), "\xEF\xBF\xBD");
}

}  // namespace
}  // namespace zo
