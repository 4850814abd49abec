#include "tests/ScopedEnv.h"
#include "core/StringUtils.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <limits>
#include <string>
#include <system_error>

#include <unistd.h>

#include "core/Exception.h"
#include "core/Format.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

using test::MessageOf;

std::string U8(const String& s) { return ToUtf8(s); }

// ---- Delimited text -------------------------------------------------------

TEST(StringUtils, TextBeforeAndAfter) {
  struct Case {
    String text, delimiter, before, after;
  };
  const Case cases[] = {
      {u"12,3,4", u",", u"12", u"3,4"}, {u"abc", u",", u"abc", u""}, {u",", u",", u"", u""},
      {u"a,", u",", u"a", u""},         {u",b", u",", u"", u"b"},     {u"", u",", u"", u""},
      {u"h:m:s", u":", u"h", u"m:s"},   {u"a::b", u"::", u"a", u"b"}, {u"abc", u"", u"abc", u""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(TextBefore(c.text, c.delimiter), c.before) << U8(c.text);
    EXPECT_EQ(TextAfter(c.text, c.delimiter), c.after) << U8(c.text);
    if (c.delimiter == u",") {
      EXPECT_EQ(TextBeforeComma(c.text), c.before) << U8(c.text);
      EXPECT_EQ(TextAfterComma(c.text), c.after) << U8(c.text);
    }
  }
}

TEST(StringUtils, FindCharAndTextFrom) {
  struct Case {
    String sub, text;
    int start;
    int expected;  // 0: not found
  };
  const Case chars[] = {
      {u"b", u"abcb", 1, 2}, {u"b", u"abcb", 3, 4}, {u"b", u"abcb", 4, 4},  // start at the last character
      {u"b", u"abcb", 5, 0},                                                // one beyond the end
      {u"b", u"abcb", 0, 0}, {u"b", u"abcb", -1, 0}, {u"x", u"abcb", 1, 0}, {u"a", u"", 1, 0},
  };
  for (const Case& c : chars) {
    int position = -7;
    const bool found = FindCharFrom(c.sub[0], c.text, c.start, position);
    EXPECT_EQ(found, c.expected != 0) << U8(c.text) << " from " << c.start;
    EXPECT_EQ(position, found ? c.expected : -7) << U8(c.text) << " from " << c.start;
  }
  const Case texts[] = {
      {u"bc", u"abcabc", 1, 2}, {u"bc", u"abcabc", 3, 5}, {u"bc", u"abcabc", 5, 5}, {u"bc", u"abcabc", 6, 0},
      {u"", u"abc", 1, 0},      {u"bc", u"abcabc", 0, 0}, {u"abcd", u"abc", 1, 0},   {u"abc", u"abc", 1, 1},
      {u"x", u"abc", 1, 0},
  };
  for (const Case& c : texts) {
    int position = -7;
    const bool found = FindTextFrom(c.sub, c.text, c.start, position);
    EXPECT_EQ(found, c.expected != 0) << U8(c.sub) << " in " << U8(c.text) << " from " << c.start;
    EXPECT_EQ(position, found ? c.expected : -7) << U8(c.sub) << " in " << U8(c.text);
  }
}

TEST(StringUtils, SplitToListKeepsEveryPiece) {
  struct Case {
    String text;
    char16_t delimiter;
    std::vector<String> items;
  };
  const Case cases[] = {
      {u"", u',', {}},
      {u",", u',', {u"", u""}},
      {u"a,b", u',', {u"a", u"b"}},
      {u"a;;b", u';', {u"a", u"", u"b"}},
      {u";", u';', {u"", u""}},
      {u"a;", u';', {u"a", u""}},
      {u" a , b ", u',', {u" a ", u" b "}},
      {u"a,b", u';', {u"a,b"}},
  };
  for (const Case& c : cases) {
    std::vector<String> list = {u"left over"};
    SplitToList(c.text, c.delimiter, list);
    EXPECT_EQ(list, c.items) << U8(c.text);
  }
}

TEST(StringUtils, JoinList) {
  EXPECT_EQ(JoinList({}, u","), u"");
  EXPECT_EQ(JoinList({u"only"}, u"\r\n"), u"only");
  EXPECT_EQ(JoinList({u"a", u"", u"c"}, u"\r\n"), u"a\r\n\r\nc");
  EXPECT_EQ(JoinList({u"a", u"b"}, u""), u"ab");
  std::vector<String> pieces;
  SplitToList(u"x;;y;", u';', pieces);
  EXPECT_EQ(JoinList(pieces, u";"), u"x;;y;");
}

// ---- Numbers ---------------------------------------------------------------

TEST(StringUtils, Utf16LEBytesRoundTrip) {
  // A surrogate pair and a unit whose high byte is set travel low byte first.
  EXPECT_EQ(Utf16LEBytes(u"A\u20AC\U0001F600"), (Bytes{0x41, 0x00, 0xAC, 0x20, 0x3D, 0xD8, 0x00, 0xDE}));
  EXPECT_TRUE(Utf16LEBytes(u"").empty());
  EXPECT_EQ(Utf16LEText(Bytes{0x41, 0x00, 0xAC, 0x20}), u"A\u20AC");
  EXPECT_EQ(Utf16LEText(Bytes{0x41, 0x00, 0x42}), u"A");  // an odd last byte is dropped
  EXPECT_EQ(Utf16LEText(Bytes{}), u"");
}

TEST(StringUtils, IntegerConversions) {
  struct Case {
    String text;
    bool ok32, ok64;
    std::int64_t value;
  };
  const Case cases[] = {
      {u"0", true, true, 0},
      {u"-17", true, true, -17},
      {u"+5", true, true, 5},
      {u"007", true, true, 7},
      {u"2147483647", true, true, 2147483647},
      {u"-2147483648", true, true, -2147483648LL},
      {u"2147483648", false, true, 2147483648LL},
      {u"-2147483649", false, true, -2147483649LL},
      {u"9223372036854775807", false, true, std::numeric_limits<std::int64_t>::max()},
      {u"-9223372036854775808", false, true, std::numeric_limits<std::int64_t>::min()},
      {u"9223372036854775808", false, false, 0},
      {u"", false, false, 0},
      {u"-", false, false, 0},
      {u"12a", false, false, 0},
      {u" 1", false, false, 0},
      {u"1 ", false, false, 0},
      {u"1.0", false, false, 0},
      {u"$10", false, false, 0},
      {u"\uFF11", false, false, 0},  // a full-width digit is not a decimal digit here
  };
  for (const Case& c : cases) {
    const String invalid = u"'" + c.text + u"' is not a valid integer value";
    if (c.ok32) EXPECT_EQ(StrToInt(c.text), c.value) << U8(c.text);
    else EXPECT_EQ(MessageOf([&] { StrToInt(c.text); }), invalid) << U8(c.text);
    if (c.ok64) EXPECT_EQ(StrToInt64(c.text), c.value) << U8(c.text);
    else EXPECT_EQ(MessageOf([&] { StrToInt64(c.text); }), invalid) << U8(c.text);
  }
  EXPECT_EQ(IntToStr(-9223372036854775807LL - 1), u"-9223372036854775808");
  EXPECT_THROW(StrToInt(u"x"), EConvertError);
}

// Switches the process to a locale whose decimal separator is a comma, for
// the lifetime of the object. Such a locale is built into a private
// directory when the system has none installed.
class CommaLocale {
 public:
  CommaLocale() {
    const char* saved = std::setlocale(LC_ALL, nullptr);
    FSaved = saved ? saved : "C";
    if (TrySet()) return;
    // Built once per machine and shared; a private directory renamed into
    // place keeps concurrent runs from reading a half-written locale.
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / "zo-core-locales";
    if (!fs::exists(dir / "de_DE.UTF-8" / "LC_NUMERIC")) {
      const fs::path fresh = fs::temp_directory_path() / ("zo-core-locales-" + std::to_string(getpid()));
      fs::create_directories(fresh);
      const std::string command =
          "localedef -i de_DE -f UTF-8 '" + (fresh / "de_DE.UTF-8").string() + "' >/dev/null 2>&1";
      std::error_code ec;
      if (std::system(command.c_str()) == 0) fs::rename(fresh, dir, ec);
      fs::remove_all(fresh, ec);
    }
    zo::test::SetEnv("LOCPATH", dir.string().c_str());
    FSetLocPath = true;
    TrySet();
  }
  ~CommaLocale() {
    std::setlocale(LC_ALL, FSaved.c_str());
    if (FSetLocPath) zo::test::UnsetEnv("LOCPATH");
  }
  bool active() const { return FActive; }

 private:
  bool TrySet() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8"}) {
      if (std::setlocale(LC_ALL, name) != nullptr && std::string(std::localeconv()->decimal_point) == ",") {
        FActive = true;
        return true;
      }
    }
    return false;
  }
  std::string FSaved;
  bool FActive = false;
  bool FSetLocPath = false;
};

struct FloatCase {
  double value;
  String text;
};

const FloatCase kFloatCases[] = {
    {0.5, u"0.5"},
    {1e-7, u"0.0000001"},
    {-2.5e-6, u"-0.0000025"},
    {-1.5e20, u"-150000000000000000000"},
    {1.5e20, u"150000000000000000000"},
    {123456789012345678.0, u"123456789012346000"},
    {3.25, u"3.25"},
    {0, u"0"},
    {100, u"100"},
    {-42, u"-42"},
    {0.1, u"0.1"},
    {1.0 / 3, u"0.333333333333333"},
    {2.0 / 3, u"0.666666666666667"},
    {123456.789, u"123456.789"},
    {0.00001, u"0.00001"},
    {999999999999999.0, u"999999999999999"},
    {9999999999999999.0, u"10000000000000000"},
    {1e-60, u"0." + String(59, u'0') + u"1"},
    {1e60, u"1" + String(60, u'0')},
};

void CheckFloatConversions() {
  for (const FloatCase& c : kFloatCases) {
    EXPECT_EQ(FloatToPlainText(c.value), c.text) << c.value;
  }
  // Beyond 64 characters: rendered in full, never cut or overrun.
  EXPECT_EQ(FloatToPlainText(1e308), u"1" + String(308, u'0'));
  EXPECT_EQ(FloatToPlainText(-1.7976931348623157e308).size(), 310u);
  const String tiny = FloatToPlainText(5e-324);
  EXPECT_EQ(tiny, u"0." + String(323, u'0') + u"494065645841247");
  EXPECT_EQ(FloatToPlainText(std::numeric_limits<double>::infinity()), u"INF");
  EXPECT_EQ(FloatToPlainText(-std::numeric_limits<double>::infinity()), u"-INF");
  EXPECT_EQ(FloatToPlainText(std::numeric_limits<double>::quiet_NaN()), u"NAN");

  struct ParseCase {
    String text;
    double value;
  };
  const ParseCase parsed[] = {
      {u"3.25", 3.25},   {u"-3.25", -3.25}, {u"+3.25", 3.25}, {u"1E-7", 1e-7}, {u"2.5e+3", 2500},
      {u".5", 0.5},      {u"5.", 5},        {u"0", 0},        {u"1e-400", 0},  {u"-0.000", 0},
      {u"150000000000000000000", 1.5e20},   {u"INF", std::numeric_limits<double>::infinity()},
  };
  for (const ParseCase& c : parsed) {
    EXPECT_EQ(PlainTextToFloat(c.text), c.value) << U8(c.text);
  }
  EXPECT_TRUE(std::isnan(PlainTextToFloat(u"NAN")));
  for (const String text : {u"", u"3,25", u"1e400", u"abc", u"1.2.3", u" 1", u"1 ", u"e5", u"1e", u"1e+", u".",
                            u"+", u"0x10", u"1,000.5", u"1e5.5", u"--1", u"INFINITY"}) {
    EXPECT_EQ(MessageOf([&] { PlainTextToFloat(text); }), u"'" + text + u"' is not a valid floating point value")
        << U8(text);
  }
  // Every value written reads back exactly to its 15-digit form.
  for (double v : {0.1, 1234.5678, -9.87654321e-5, 6.02214076e23, 1.0 / 7}) {
    const String text = FloatToPlainText(v);
    EXPECT_EQ(FloatToPlainText(PlainTextToFloat(text)), text);
  }
}

TEST(StringUtils, FloatConversions) { CheckFloatConversions(); }

TEST(StringUtils, FloatConversionsIgnoreACommaLocale) {
  CommaLocale locale;
  if (!locale.active()) GTEST_SKIP() << "no locale with a decimal comma could be set up";
  CheckFloatConversions();
  EXPECT_EQ(DateTimeToText(45000.5, false), u"2023-03-15 12:00:00.000");
  EXPECT_EQ(Format(u"%.2f %g %e", {2.345, 0.5, 1.5}), u"2.35 0.5 1.500000e+00");
}

TEST(StringUtils, SetBitState) {
  struct Case {
    std::int32_t value;
    int index;
    bool state;
    std::int32_t result;
  };
  const Case cases[] = {
      {0, 0, true, 1},        {0, 2, true, 4},   {5, 2, false, 1},   {5, 1, false, 5},
      {1, 0, true, 1},        {0, 30, true, 1 << 30},
      {0, 31, true, std::numeric_limits<std::int32_t>::min()},  // sets the sign bit
      {0x7FFFFFFF, 31, false, 0x7FFFFFFF},
  };
  for (const Case& c : cases) {
    std::int32_t v = c.value;
    SetBitState(v, c.index, c.state);
    EXPECT_EQ(v, c.result) << c.value << " bit " << c.index;
  }
  struct Failure {
    std::int32_t value;
    int index;
    String message;
  };
  const Failure failures[] = {
      {-1, 32, u"Incorrect input parameter Index \"32\" ( only 0..31 allowed ) in SetBitState"},
      {5, -1, u"Incorrect input parameter Index \"-1\" ( only 0..31 allowed ) in SetBitState"},
      {-8, 3, u"Incorrect input parameter Value \"-8\" ( only positive value allowed ) in SetBitState"},
  };
  for (const Failure& f : failures) {
    std::int32_t v = f.value;
    EXPECT_EQ(MessageOf([&] { SetBitState(v, f.index, true); }), f.message);
    EXPECT_EQ(v, f.value) << "unchanged after a rejection";
  }
  std::int32_t signBit = 0;
  SetBitState(signBit, 31, true);
  EXPECT_EQ(MessageOf([&] { SetBitState(signBit, 0, true); }),
            u"Incorrect input parameter Value \"-2147483648\" ( only positive value allowed ) in SetBitState");
}

// ---- Dates and times -------------------------------------------------------

TEST(StringUtils, DateTimeToText) {
  struct Case {
    double value;
    bool omit;
    String text;
  };
  const Case cases[] = {
      {0, true, u"1899-12-30 00:00:00.000"},
      {0, false, u"1899-12-30 00:00:00.000"},
      {45000, true, u"2023-03-15"},
      {45000, false, u"2023-03-15 00:00:00.000"},
      {0.75, true, u"18:00:00.000"},
      {0.75, false, u"1899-12-30 18:00:00.000"},
      {45000.5, true, u"2023-03-15 12:00:00.000"},
      {-1, true, u"1899-12-29"},
      {-1.25, true, u"1899-12-29 06:00:00.000"},
      {-0.25, true, u"06:00:00.000"},
      {1.0 / 86400000, true, u"00:00:00.001"},
      {45000 + 0.99999999999, true, u"2023-03-16 00:00:00.000"},  // rounds to the next midnight
      {-693593, true, u"0001-01-01"},
      {2958465 + 86399999.0 / 86400000, true, u"9999-12-31 23:59:59.999"},
  };
  for (const Case& c : cases) EXPECT_EQ(DateTimeToText(c.value, c.omit), c.text) << c.value;
  EXPECT_THROW(DateTimeToText(2958466, false), EConvertError);
  EXPECT_THROW(DateTimeToText(-693594, false), EConvertError);
  EXPECT_THROW(DateTimeToText(std::nan(""), false), EConvertError);
}

TEST(StringUtils, DateAndTimeToText) {
  struct Case {
    double date, time;
    bool omit;
    String text;
  };
  const Case cases[] = {
      {0, 0, true, u"1899-12-30 00:00:00.000"},   {45000, 0.5, true, u"2023-03-15 12:00:00.000"},
      {45000, 0, true, u"2023-03-15"},            {45000, 0, false, u"2023-03-15 00:00:00.000"},
      {0, 0.75, true, u"18:00:00.000"},           {0, 0.75, false, u"1899-12-30 18:00:00.000"},
      {-1, 0.25, true, u"1899-12-29 06:00:00.000"},  // a negative date part: D - T
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DateAndTimeToText(c.date, c.time, c.omit), c.text) << c.date << " " << c.time;
  }
}

TEST(StringUtils, TextToDateTimeReadsEveryForm) {
  struct Case {
    String text;
    double value;
  };
  const Case cases[] = {
      {u"2023-03-15 12:00:00.000", 45000.5},
      {u"2023-03-15", 45000},
      {u"18:00:00.000", 0.75},
      {u"1899-12-30 00:00:00.000", 0},
      {u"1899-12-29 06:00:00.000", -1.25},
      {u"2024-2-29 1:2:3", EncodeDateTime(2024, 2, 29, 1, 2, 3, 0)},
      {u"23:59:59", EncodeTime(23, 59, 59, 0)},
      {u"12:00:00.5", EncodeTime(12, 0, 0, 5)},  // 5 ms, not 500
      {u"12:00:00.050", EncodeTime(12, 0, 0, 50)},
      {u"12:00:00.1234", EncodeTime(12, 0, 0, 123)},
      {u"0001-01-01", -693593},
      {u"9999-12-31 23:59:59.999", 2958465 + 86399999.0 / 86400000},
  };
  for (const Case& c : cases) EXPECT_DOUBLE_EQ(TextToDateTime(c.text), c.value) << U8(c.text);
  EXPECT_DOUBLE_EQ(TextToDate(u"2023-03-15"), 45000);
  EXPECT_DOUBLE_EQ(TextToTime(u"06:00:00.000"), 0.25);

  // Everything written reads back to the same millisecond.
  for (double v : {45000.123456, -1.5, -700.999, 0.0, 0.5, 2958465.25, -693593.0}) {
    for (bool omit : {false, true}) {
      const String text = DateTimeToText(v, omit);
      EXPECT_EQ(DateTimeToText(TextToDateTime(text), false), DateTimeToText(v, false)) << U8(text);
    }
  }
}

TEST(StringUtils, DateTimeParsersReportTheWholeInput) {
  struct Case {
    String text;
    TDateTime (*parser)(StringView);
    String message;
  };
  const Case cases[] = {
      {u"2024-02-30 10:00:00", TextToDateTime, u"Invalid DateTime format \"2024-02-30 10:00:00\""},
      {u"2024-01-01 24:00:00", TextToDateTime, u"Invalid DateTime format \"2024-01-01 24:00:00\""},
      {u"2024-01-01 ", TextToDateTime, u"Invalid DateTime format \"2024-01-01 \""},
      {u"", TextToDateTime, u"Invalid DateTime format \"\""},
      {u"garbage", TextToDateTime, u"Invalid DateTime format \"garbage\""},
      {u"-2020-01-01", TextToDate, u"Invalid Date format \"-2020-01-01\""},
      {u"2020-01", TextToDate, u"Invalid Date format \"2020-01\""},
      {u"2020-13-01", TextToDate, u"Invalid Date format \"2020-13-01\""},
      {u"2023-02-29", TextToDate, u"Invalid Date format \"2023-02-29\""},
      {u"0000-01-01", TextToDate, u"Invalid Date format \"0000-01-01\""},
      {u"10000-01-01", TextToDate, u"Invalid Date format \"10000-01-01\""},
      {u"2020-01-01-5", TextToDate, u"Invalid Date format \"2020-01-01-5\""},
      {u"2020-01-x", TextToDate, u"Invalid Date format \"2020-01-x\""},
      {u"24:00:00", TextToTime, u"Invalid Time format \"24:00:00\""},
      {u"12:60:00", TextToTime, u"Invalid Time format \"12:60:00\""},
      {u"12:00", TextToTime, u"Invalid Time format \"12:00\""},
      {u"12:00:00.", TextToTime, u"Invalid Time format \"12:00:00.\""},
      {u"12:00:00.-5", TextToTime, u"Invalid Time format \"12:00:00.-5\""},
      {u"12:00:00.12x4", TextToTime, u"Invalid Time format \"12:00:00.12x4\""},
      {u"-1:00:00", TextToTime, u"Invalid Time format \"-1:00:00\""},
  };
  for (const Case& c : cases) EXPECT_EQ(MessageOf([&] { c.parser(c.text); }), c.message) << U8(c.text);
}

// ---- Binary text -----------------------------------------------------------

TEST(StringUtils, BinaryTextLength) {
  struct Case {
    String text;
    int length;  // -1: rejected
    String begin;
  };
  const Case cases[] = {
      {u"", 0, u""},        {u"0xAB12", 2, u""},  {u"0xab", 1, u""},     {u"0x", -1, u"0x"},
      {u"0x0", -1, u"0x"},  {u"0X00", -1, u"0X"}, {u"1x00", -1, u"1x"},  {u"x", -1, u"x"},
      {u"0xABC", -1, u"0x"}, {u"AB12", -1, u"AB"},
  };
  for (const Case& c : cases) {
    if (c.length >= 0) EXPECT_EQ(BinaryTextLength(c.text), c.length) << U8(c.text);
    else
      EXPECT_EQ(MessageOf([&] { BinaryTextLength(c.text); }), u"Invalid binary format (begin with \"" + c.begin + u"\")")
          << U8(c.text);
  }
}

TEST(StringUtils, BinaryTextToBuffer) {
  std::uint8_t buffer[4] = {};
  BinaryTextToBuffer(u"0x0aFf", buffer, 2);
  EXPECT_EQ(buffer[0], 0x0A);
  EXPECT_EQ(buffer[1], 0xFF);
  struct Case {
    String text;
    int count;
  };
  // Fewer valid pairs than Count: rejected, never read past the text.
  const Case failures[] = {{u"0xzz", 1}, {u"0xA", 1}, {u"0x12", 2}, {u"0x12G4", 2}, {u"", 1}, {u"0", 1}};
  for (const Case& c : failures) {
    EXPECT_EQ(MessageOf([&] { BinaryTextToBuffer(c.text, buffer, c.count); }),
              u"Invalid binary format (begin with \"" + String(StringView(c.text).substr(0, 2)) + u"\")")
        << U8(c.text);
  }
  BinaryTextToBuffer(u"0x12zz", buffer, 1);  // stops after Count bytes
  EXPECT_EQ(buffer[0], 0x12);
}

TEST(StringUtils, BinBufferToANSIStr) {
  const std::uint8_t bytes[] = {0x0A, 0xFF};
  EXPECT_EQ(BinBufferToANSIStr(bytes, 2), u"0x0AFF");
  EXPECT_EQ(BinBufferToANSIStr(bytes, 0), u"");
  EXPECT_EQ(BinBufferToANSIStr(bytes, -3), u"");
  EXPECT_EQ(MessageOf([&] { BinBufferToANSIStr(bytes, 536870901); }),
            u"BinBufferToANSIStr: Maximum length of binary data is 536870900.");

  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<std::uint8_t>(i);
  const String text = BytesToBinaryText(all);
  EXPECT_EQ(text.size(), 2u + 512u);
  EXPECT_EQ(text.substr(0, 8), u"0x000102");
  EXPECT_EQ(text.substr(text.size() - 4), u"FEFF");
  EXPECT_EQ(BinaryTextToBytes(text), all);
  EXPECT_EQ(BytesToBinaryText({}), u"");
  EXPECT_EQ(BinaryTextToBytes(u""), Bytes{});
}

}  // namespace
}  // namespace zo
