#include "platform/CodePage.h"

#include <iconv.h>

#include <array>
#include <unordered_map>

#include "platform/Utf.h"

namespace zo {

namespace {

// One single-byte code page: byte -> UTF-16 unit and back.
struct SingleByteTable {
  std::array<char16_t, 256> toUnicode{};
  std::unordered_map<char16_t, std::uint8_t> fromUnicode;
};

SingleByteTable BuildTable(const char* iconvName) {
  SingleByteTable table;
  iconv_t cd = ::iconv_open("UTF-16LE", iconvName);
  for (int b = 0; b < 256; ++b) {
    char16_t unit = static_cast<char16_t>(b);   // undefined bytes keep their value
    if (cd != reinterpret_cast<iconv_t>(-1)) {
      char in = static_cast<char>(b);
      unsigned char out[8];
      char* inPtr = &in;
      char* outPtr = reinterpret_cast<char*>(out);
      std::size_t inLeft = 1, outLeft = sizeof out;
      ::iconv(cd, nullptr, nullptr, nullptr, nullptr);
      if (::iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1) &&
          sizeof out - outLeft == 2) {
        unit = static_cast<char16_t>(out[0] | (out[1] << 8));
      }
    }
    table.toUnicode[static_cast<std::size_t>(b)] = unit;
  }
  if (cd != reinterpret_cast<iconv_t>(-1)) ::iconv_close(cd);
  // The first byte for a unit wins, so the table reads back what it wrote.
  for (int b = 255; b >= 0; --b) table.fromUnicode[table.toUnicode[static_cast<std::size_t>(b)]] =
      static_cast<std::uint8_t>(b);
  return table;
}

const SingleByteTable& TableOf(TCodePage codePage) {
  static const SingleByteTable ansi = BuildTable("CP1252");
  static const SingleByteTable oem = BuildTable("CP437");
  return codePage == cpAnsi ? ansi : oem;
}

}  // namespace

std::string EncodeCodePage(std::u16string_view text, TCodePage codePage, bool* exact) {
  if (codePage == cpUtf8) {
    std::string result = ToUtf8(text);
    if (exact != nullptr) *exact = FromUtf8(result) == text;
    return result;
  }
  const SingleByteTable& table = TableOf(codePage);
  std::string result;
  result.reserve(text.size());
  bool all = true;
  for (char16_t unit : text) {
    const auto found = table.fromUnicode.find(unit);
    if (found == table.fromUnicode.end()) {
      result += '?';
      all = false;
    } else {
      result += static_cast<char>(found->second);
    }
  }
  if (exact != nullptr) *exact = all;
  return result;
}

std::u16string DecodeCodePage(std::string_view bytes, TCodePage codePage) {
  if (codePage == cpUtf8) return FromUtf8(bytes);
  const SingleByteTable& table = TableOf(codePage);
  std::u16string result;
  result.reserve(bytes.size());
  for (char c : bytes) result += table.toUnicode[static_cast<std::uint8_t>(c)];
  return result;
}

std::u16string ReadableFileName(std::u16string_view name) {
  const SingleByteTable& ansi = TableOf(cpAnsi);
  std::u16string result(name);
  for (char16_t& c : result) {
    const int byte = EscapedByte(c);
    if (byte >= 0) c = ansi.toUnicode[byte];
  }
  return result;
}

std::string ConvertCodePage(std::string_view bytes, TCodePage from, TCodePage to) {
  return EncodeCodePage(DecodeCodePage(bytes, from), to);
}

bool IsValidUtf8(std::string_view bytes) {
  std::size_t i = 0;
  const std::size_t n = bytes.size();
  while (i < n) {
    const auto b = static_cast<std::uint8_t>(bytes[i]);
    if (b < 0x80) {
      ++i;
      continue;
    }
    int length;
    char32_t cp;
    if (b >= 0xC2 && b <= 0xDF) { length = 2; cp = b & 0x1F; }
    else if (b >= 0xE0 && b <= 0xEF) { length = 3; cp = b & 0x0F; }
    else if (b >= 0xF0 && b <= 0xF4) { length = 4; cp = b & 0x07; }
    else return false;
    if (i + static_cast<std::size_t>(length) > n) return false;
    for (int k = 1; k < length; ++k) {
      const auto c = static_cast<std::uint8_t>(bytes[i + static_cast<std::size_t>(k)]);
      if ((c & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (c & 0x3F);
    }
    if ((length == 3 && cp < 0x800) || (length == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += static_cast<std::size_t>(length);
  }
  return true;
}

}  // namespace zo
