#include "core/Format.h"

#include <gtest/gtest.h>

#include "core/Exception.h"

namespace zo {
namespace {

TEST(Format, Conversions) {
  struct Case {
    String format;
    std::initializer_list<FormatArg> args;
    String expected;
  };
  const std::vector<std::pair<String, String>> cases = {
      {Format(u"'%s' is not a valid integer value", {u"12a"}), u"'12a' is not a valid integer value"},
      {Format(u"List index out of bounds (%d)", {-1}), u"List index out of bounds (-1)"},
      {Format(u"%s=%d%%", {String(u"x"), 42}), u"x=42%"},
      {Format(u"%08X", {0x1A2B}), u"00001A2B"},
      {Format(u"%.8X", {-2}), u"FFFFFFFE"},
      {Format(u"%5d|%-5s|", {7, u"ab"}), u"    7|ab   |"},
      {Format(u"%.2f", {2.345}), u"2.35"},
      {Format(u"%s", {std::uint64_t{18446744073709551615ull}}), u"18446744073709551615"},
      {Format(u"ü%sü", {String(u"\U0001F600")}), u"ü\U0001F600ü"},
  };
  for (const auto& [actual, expected] : cases) EXPECT_EQ(actual, expected);
}

TEST(Format, BrokenFormatsRaise) {
  EXPECT_THROW(Format(u"%s %s", {u"one"}), EFormatError);
  EXPECT_THROW(Format(u"%d", {u"text"}), EFormatError);
  EXPECT_THROW(Format(u"100%", {}), EFormatError);
  EXPECT_THROW(Format(u"%q", {1}), EFormatError);
}

TEST(Exception, WhatIsUtf8OfMessage) {
  const Exception e(u"Cannot open file \"%s\". %s", {u"/tmp/ä", SystemErrorText(2)});
  EXPECT_STREQ(e.what(), "Cannot open file \"/tmp/ä\". No such file or directory");
}

}  // namespace
}  // namespace zo
