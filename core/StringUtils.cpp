#include "core/StringUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>

#include "core/Exception.h"
#include "core/StartupValues.h"

namespace zo {

// ---- Delimited text -------------------------------------------------------

namespace {

// Index of the first Delimiter in Text, or npos; an empty Delimiter never
// occurs.
size_t FirstDelimiter(StringView Text, StringView Delimiter) {
  if (Delimiter.empty()) return StringView::npos;
  return Text.find(Delimiter);
}

}  // namespace

String TextBefore(StringView Text, StringView Delimiter) {
  const size_t at = FirstDelimiter(Text, Delimiter);
  return String(at == StringView::npos ? Text : Text.substr(0, at));
}

String TextAfter(StringView Text, StringView Delimiter) {
  const size_t at = FirstDelimiter(Text, Delimiter);
  return at == StringView::npos ? String() : String(Text.substr(at + Delimiter.size()));
}

String TextBeforeComma(StringView Text) { return TextBefore(Text, u","); }
String TextAfterComma(StringView Text) { return TextAfter(Text, u","); }

bool FindCharFrom(char16_t Ch, StringView Text, int Start, int& Position) {
  if (Start < 1 || static_cast<size_t>(Start) > Text.size()) return false;
  const size_t at = Text.find(Ch, static_cast<size_t>(Start) - 1);
  if (at == StringView::npos) return false;
  Position = static_cast<int>(at) + 1;
  return true;
}

bool FindTextFrom(StringView SubText, StringView Text, int Start, int& Position) {
  if (Start < 1 || SubText.empty()) return false;
  if (static_cast<size_t>(Start) - 1 + SubText.size() > Text.size()) return false;
  const size_t at = Text.find(SubText, static_cast<size_t>(Start) - 1);
  if (at == StringView::npos) return false;
  Position = static_cast<int>(at) + 1;
  return true;
}

void SplitToList(StringView Text, char16_t Delimiter, std::vector<String>& List) {
  List.clear();
  if (Text.empty()) return;
  size_t begin = 0;
  for (size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == Delimiter) {
      List.emplace_back(Text.substr(begin, i - begin));
      begin = i + 1;
    }
  }
  List.emplace_back(Text.substr(begin));
}

String JoinList(const std::vector<String>& List, StringView Separator) {
  if (List.empty()) return String();
  size_t total = Separator.size() * (List.size() - 1);
  for (const String& item : List) total += item.size();
  String result;
  result.reserve(total);
  for (size_t i = 0; i < List.size(); ++i) {
    if (i > 0) result.append(Separator);
    result.append(List[i]);
  }
  return result;
}

std::vector<String> SplitLines(StringView Text) {
  std::vector<String> lines;
  size_t start = 0;
  size_t i = 0;
  while (i < Text.size()) {
    const char16_t c = Text[i];
    if (c == u'\r' || c == u'\n') {
      lines.emplace_back(Text.substr(start, i - start));
      if (c == u'\r' && i + 1 < Text.size() && Text[i + 1] == u'\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < Text.size()) lines.emplace_back(Text.substr(start));
  return lines;
}

// ---- Letter case and blanks -----------------------------------------------

bool SameTextAscii(StringView A, StringView B) {
  const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [&](char16_t a, char16_t b) {
           return lower(a) == lower(b);
         });
}

String TrimBlanks(StringView Text) {
  const auto blank = [](char16_t c) { return c == u' ' || c == u'\t'; };
  size_t first = 0, last = Text.size();
  while (first < last && blank(Text[first])) ++first;
  while (last > first && blank(Text[last - 1])) --last;
  return String(Text.substr(first, last - first));
}

// ---- UTF-16 little-endian bytes ---------------------------------------------

Bytes Utf16LEBytes(StringView Text) {
  Bytes bytes(Text.size() * 2);
  for (size_t i = 0; i < Text.size(); ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(Text[i] & 0xFF);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(Text[i] >> 8);
  }
  return bytes;
}

String Utf16LEText(std::span<const std::uint8_t> Data) {
  String text(Data.size() / 2, u'\0');
  for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char16_t>(Data[2 * i] | (Data[2 * i + 1] << 8));
  return text;
}

// ---- Integers --------------------------------------------------------------

namespace {

// An optional sign and at least one ASCII digit, within [Min, Max].
bool ParseDecimal(StringView Text, std::int64_t Min, std::int64_t Max, std::int64_t& Value) {
  size_t i = 0;
  bool negative = false;
  if (i < Text.size() && (Text[i] == u'+' || Text[i] == u'-')) negative = Text[i++] == u'-';
  if (i == Text.size()) return false;
  // Accumulate as a negative number so that the minimum fits.
  std::int64_t acc = 0;
  const std::int64_t limit = negative ? Min : -Max;
  for (; i < Text.size(); ++i) {
    const char16_t c = Text[i];
    if (c < u'0' || c > u'9') return false;
    const int digit = c - u'0';
    if (acc < (limit + digit) / 10) return false;
    acc = acc * 10 - digit;
    if (acc < limit) return false;
  }
  Value = negative ? acc : -acc;
  return true;
}

[[noreturn]] void ThrowInvalidInteger(StringView Text) { throw EConvertError(kSInvalidInteger, {Text}); }

}  // namespace

bool TryStrToInt(StringView Text, std::int32_t& Value) {
  std::int64_t v = 0;
  if (!ParseDecimal(Text, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max(), v))
    return false;
  Value = static_cast<std::int32_t>(v);
  return true;
}

bool TryStrToInt64(StringView Text, std::int64_t& Value) {
  return ParseDecimal(Text, std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max(),
                      Value);
}

std::int32_t StrToInt(StringView Text) {
  std::int32_t v = 0;
  if (!TryStrToInt(Text, v)) ThrowInvalidInteger(Text);
  return v;
}

std::int64_t StrToInt64(StringView Text) {
  std::int64_t v = 0;
  if (!TryStrToInt64(Text, v)) ThrowInvalidInteger(Text);
  return v;
}

String IntToStr(std::int64_t Value) {
  char buf[24];
  const auto r = std::to_chars(buf, buf + sizeof buf, Value);
  return AsciiToString(std::string_view(buf, static_cast<size_t>(r.ptr - buf)));
}

// ---- Floating point --------------------------------------------------------

String FloatToPlainText(double Value) {
  if (std::isnan(Value)) return u"NAN";
  if (std::isinf(Value)) return Value > 0 ? u"INF" : u"-INF";
  if (Value == 0) return u"0";

  // 15 significant digits, correctly rounded, in scientific form
  // "d.dddddddddddddde+XXX": at most 22 characters.
  char sci[32];
  const auto r = std::to_chars(sci, sci + sizeof sci, std::fabs(Value), std::chars_format::scientific, 14);
  const std::string_view text(sci, static_cast<size_t>(r.ptr - sci));
  const size_t e = text.find('e');
  std::string digits;
  digits += text[0];
  if (e > 2) digits.append(text.substr(2, e - 2));
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  int exponent = 0;
  std::string_view expText = text.substr(e + 1);
  if (!expText.empty() && expText[0] == '+') expText.remove_prefix(1);
  std::from_chars(expText.data(), expText.data() + expText.size(), exponent);

  // The plain positional form, in a buffer that grows as needed, so values of
  // any magnitude are written in full.
  std::string plain;
  if (Value < 0) plain += '-';
  if (exponent < 0) {
    plain += "0";
    plain += static_cast<char>(DotFormatSettings.DecimalSeparator);
    plain.append(static_cast<size_t>(-exponent - 1), '0');
    plain += digits;
  } else {
    const size_t integerDigits = static_cast<size_t>(exponent) + 1;
    if (digits.size() <= integerDigits) {
      plain += digits;
      plain.append(integerDigits - digits.size(), '0');
    } else {
      plain.append(digits, 0, integerDigits);
      plain += static_cast<char>(DotFormatSettings.DecimalSeparator);
      plain.append(digits, integerDigits);
    }
  }
  return AsciiToString(plain);
}

namespace {

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const char x = (a[i] >= 'a' && a[i] <= 'z') ? static_cast<char>(a[i] - 32) : a[i];
    if (x != b[i]) return false;
  }
  return true;
}

bool TryPlainTextToFloat(StringView Text, double& Value) {
  std::string ascii;
  ascii.reserve(Text.size());
  for (char16_t c : Text) {
    if (c > 0x7F) return false;
    ascii += static_cast<char>(c);
  }
  std::string_view body = ascii;
  bool negative = false;
  if (!body.empty() && (body[0] == '+' || body[0] == '-')) {
    negative = body[0] == '-';
    body.remove_prefix(1);
  }
  if (EqualsIgnoreCase(body, "INF")) {
    Value = negative ? -std::numeric_limits<double>::infinity() : std::numeric_limits<double>::infinity();
    return true;
  }
  if (EqualsIgnoreCase(body, "NAN")) {
    Value = std::numeric_limits<double>::quiet_NaN();
    return true;
  }

  // digits [ '.' digits ] [ ('e'|'E') [sign] digits ], at least one mantissa
  // digit. Counted on the way: integer digits from the first significant one,
  // and zeros after the point before it, to tell underflow from overflow.
  const char point = static_cast<char>(DotFormatSettings.DecimalSeparator);
  size_t i = 0;
  int mantissaDigits = 0;
  int significantIntegerDigits = 0;
  int fractionLeadingZeros = 0;
  bool significant = false;
  for (; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i, ++mantissaDigits) {
    if (significant || body[i] != '0') {
      significant = true;
      ++significantIntegerDigits;
    }
  }
  if (i < body.size() && body[i] == point) {
    for (++i; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i, ++mantissaDigits) {
      if (significant) continue;
      if (body[i] == '0') ++fractionLeadingZeros;
      else significant = true;
    }
  }
  if (mantissaDigits == 0) return false;
  long exponent = 0;
  if (i < body.size()) {
    if (body[i] != 'e' && body[i] != 'E') return false;
    ++i;
    bool negativeExponent = false;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) negativeExponent = body[i++] == '-';
    if (i == body.size()) return false;
    for (; i < body.size(); ++i) {
      if (body[i] < '0' || body[i] > '9') return false;
      // Saturate: beyond this only the sign matters.
      if (exponent < 1000000) exponent = exponent * 10 + (body[i] - '0');
    }
    if (negativeExponent) exponent = -exponent;
  }
  if (!significant) {
    Value = negative ? -0.0 : 0.0;
    return true;
  }

  double parsed = 0;
  const auto r = std::from_chars(body.data(), body.data() + body.size(), parsed, std::chars_format::general);
  if (r.ec == std::errc::result_out_of_range) {
    // Below the smallest double reads as zero; above the largest is rejected.
    const long magnitude =
        exponent + (significantIntegerDigits > 0 ? significantIntegerDigits - 1 : -(fractionLeadingZeros + 1));
    if (magnitude >= 0) return false;
    Value = negative ? -0.0 : 0.0;
    return true;
  }
  if (r.ec != std::errc() || r.ptr != body.data() + body.size()) return false;
  Value = negative ? -parsed : parsed;
  return true;
}

}  // namespace

double PlainTextToFloat(StringView Text) {
  double v = 0;
  if (!TryPlainTextToFloat(Text, v)) throw EConvertError(kSInvalidFloat, {Text});
  return v;
}

// ---- Bits ------------------------------------------------------------------

void SetBitState(std::int32_t& Value, int Index, bool State) {
  if (Index < 0 || Index > 31) {
    throw Exception(u"Incorrect input parameter Index \"%d\" ( only 0..31 allowed ) in SetBitState", {Index});
  }
  if (Value < 0) {
    throw Exception(u"Incorrect input parameter Value \"%d\" ( only positive value allowed ) in SetBitState",
                    {Value});
  }
  const std::uint32_t bit = 1u << Index;
  const std::uint32_t bits = static_cast<std::uint32_t>(Value);
  Value = static_cast<std::int32_t>(State ? bits | bit : bits & ~bit);
}

// ---- Dates and times -------------------------------------------------------

namespace {

void AppendDigits(std::string& out, int value, int width) {
  char buf[16];
  const auto r = std::to_chars(buf, buf + sizeof buf, value);
  const int n = static_cast<int>(r.ptr - buf);
  out.append(static_cast<size_t>(width > n ? width - n : 0), '0');
  out.append(buf, static_cast<size_t>(n));
}

enum class Pattern { Full, DateOnly, TimeOnly };

String FormatDateTime(TDateTime Value, Pattern pattern) {
  int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
  DecodeDateTime(Value, y, m, d, h, n, s, ms);
  std::string out;
  if (pattern != Pattern::TimeOnly) {
    AppendDigits(out, y, 4);
    out += '-';
    AppendDigits(out, m, 2);
    out += '-';
    AppendDigits(out, d, 2);
  }
  if (pattern == Pattern::Full) out += ' ';
  if (pattern != Pattern::DateOnly) {
    AppendDigits(out, h, 2);
    out += ':';
    AppendDigits(out, n, 2);
    out += ':';
    AppendDigits(out, s, 2);
    out += '.';
    AppendDigits(out, ms, 3);
  }
  return AsciiToString(out);
}

// Runs a parsing step and replaces whatever it raises by Message with Text.
template <typename Step>
TDateTime ParseOrFail(StringView Text, const char16_t* Message, Step step) {
  try {
    return step();
  } catch (const std::exception&) {
    throw Exception(Message, {Text});
  }
}

constexpr char16_t kSInvalidDate[] = u"Invalid Date format \"%s\"";
constexpr char16_t kSInvalidTime[] = u"Invalid Time format \"%s\"";
constexpr char16_t kSInvalidDateTime[] = u"Invalid DateTime format \"%s\"";

// The text between 1-based positions From and To, both inclusive.
StringView Slice(StringView Text, int From, int To) {
  if (To < From) return StringView();
  return Text.substr(static_cast<size_t>(From) - 1, static_cast<size_t>(To - From + 1));
}

TDateTime ParseDate(StringView Text) {
  int first = 0, second = 0;
  if (!FindCharFrom(u'-', Text, 1, first)) throw Exception(u"no '-'");
  if (!FindCharFrom(u'-', Text, first + 1, second)) throw Exception(u"no second '-'");
  const int year = StrToInt(Slice(Text, 1, first - 1));
  const int month = StrToInt(Slice(Text, first + 1, second - 1));
  const int day = StrToInt(Slice(Text, second + 1, static_cast<int>(Text.size())));
  return EncodeDate(year, month, day);
}

TDateTime ParseTime(StringView Text) {
  int first = 0, second = 0, point = 0;
  if (!FindCharFrom(u':', Text, 1, first)) throw Exception(u"no ':'");
  if (!FindCharFrom(u':', Text, first + 1, second)) throw Exception(u"no second ':'");
  const int hour = StrToInt(Slice(Text, 1, first - 1));
  const int minute = StrToInt(Slice(Text, first + 1, second - 1));
  const int length = static_cast<int>(Text.size());
  int sec = 0, msec = 0;
  if (FindCharFrom(u'.', Text, second + 1, point)) {
    sec = StrToInt(Slice(Text, second + 1, point - 1));
    // The fraction is a whole number of milliseconds, of at most 3 digits.
    const int last = point + 3 < length ? point + 3 : length;
    msec = StrToInt(Slice(Text, point + 1, last));
  } else {
    sec = StrToInt(Slice(Text, second + 1, length));
  }
  return EncodeTime(hour, minute, sec, msec);
}

}  // namespace

String DateAndTimeToText(TDateTime Date, TDateTime Time, bool OmitZeroPart) {
  const TDateTime combined = CombineDateAndTime(Date, Time);
  if (!OmitZeroPart || (Date == 0 && Time == 0)) return FormatDateTime(combined, Pattern::Full);
  if (Date != 0 && Time != 0) return FormatDateTime(combined, Pattern::Full);
  if (Date != 0) return FormatDateTime(Date, Pattern::DateOnly);
  return FormatDateTime(Time, Pattern::TimeOnly);
}

String DateTimeToText(TDateTime Value, bool OmitZeroPart) {
  if (!OmitZeroPart || Value == 0) return FormatDateTime(Value, Pattern::Full);
  if (Value == std::trunc(Value)) return FormatDateTime(Value, Pattern::DateOnly);
  if (std::trunc(Value) == 0) return FormatDateTime(Value, Pattern::TimeOnly);
  return FormatDateTime(Value, Pattern::Full);
}

TDateTime TextToDate(StringView Text) {
  return ParseOrFail(Text, kSInvalidDate, [&] { return ParseDate(Text); });
}

TDateTime TextToTime(StringView Text) {
  return ParseOrFail(Text, kSInvalidTime, [&] { return ParseTime(Text); });
}

TDateTime TextToDateTime(StringView Text) {
  return ParseOrFail(Text, kSInvalidDateTime, [&] {
    int space = 0;
    if (FindCharFrom(u' ', Text, 1, space)) {
      const TDateTime date = TextToDate(Text.substr(0, static_cast<size_t>(space) - 1));
      const TDateTime time = TextToTime(Text.substr(static_cast<size_t>(space)));
      return CombineDateAndTime(date, time);
    }
    int dash = 0;
    if (FindCharFrom(u'-', Text, 1, dash)) return TextToDate(Text);
    return TextToTime(Text);
  });
}

// ---- Binary text -----------------------------------------------------------

namespace {

constexpr int kMaxBinaryBytes = 536870900;

[[noreturn]] void ThrowBinaryFormat(StringView Text) {
  throw Exception(u"Invalid binary format (begin with \"%s\")", {Text.substr(0, 2)});
}

int HexValue(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  return -1;
}

}  // namespace

int BinaryTextLength(StringView Text) {
  if (Text.empty()) return 0;
  const size_t length = Text.size();
  if (length < 3 || Text[0] != u'0' || Text[1] != u'x' || length % 2 != 0) ThrowBinaryFormat(Text);
  const size_t bytes = length / 2 - 1;
  if (bytes > static_cast<size_t>(std::numeric_limits<int>::max())) ThrowBinaryFormat(Text);
  return static_cast<int>(bytes);
}

void BinaryTextToBuffer(StringView Text, std::uint8_t* Buffer, int Count) {
  int converted = 0;
  // The prefix is not looked at here: BinaryTextLength has checked it.
  for (size_t i = 2; converted < Count && i + 1 < Text.size(); i += 2) {
    const int high = HexValue(Text[i]);
    const int low = HexValue(Text[i + 1]);
    if (high < 0 || low < 0) break;
    Buffer[converted++] = static_cast<std::uint8_t>(high << 4 | low);
  }
  if (converted < Count) ThrowBinaryFormat(Text);
}

String BinBufferToANSIStr(const std::uint8_t* Buffer, int Count) {
  if (Count <= 0) return String();
  if (Count > kMaxBinaryBytes) throw Exception(u"BinBufferToANSIStr: Maximum length of binary data is 536870900.");
  static constexpr char16_t kDigits[] = u"0123456789ABCDEF";
  String text(2 + 2 * static_cast<size_t>(Count), u'0');
  text[1] = u'x';
  for (int i = 0; i < Count; ++i) {
    text[2 + 2 * static_cast<size_t>(i)] = kDigits[Buffer[i] >> 4];
    text[3 + 2 * static_cast<size_t>(i)] = kDigits[Buffer[i] & 0x0F];
  }
  return text;
}

Bytes BinaryTextToBytes(StringView Text) {
  Bytes bytes(static_cast<size_t>(BinaryTextLength(Text)));
  BinaryTextToBuffer(Text, bytes.data(), static_cast<int>(bytes.size()));
  return bytes;
}

String BytesToBinaryText(const Bytes& Value) {
  if (Value.size() > static_cast<size_t>(kMaxBinaryBytes)) {
    throw Exception(u"BinBufferToANSIStr: Maximum length of binary data is 536870900.");
  }
  return BinBufferToANSIStr(Value.data(), static_cast<int>(Value.size()));
}

}  // namespace zo
