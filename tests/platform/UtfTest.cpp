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

}  // namespace
}  // namespace zo
