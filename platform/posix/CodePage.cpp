// platform/CodePage.h on POSIX. This system has no ANSI and OEM code page of
// its own: the pair is fixed, Windows-1252 and CP437, and the tables come
// from iconv. Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D, which Windows-1252 leaves
// undefined, read as U+0081 etc., as Windows reads them.
#include "platform/SystemCodePage.h"

#include <iconv.h>

#include <array>
#include <unordered_map>

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

std::string EncodeSystemCodePage(std::u16string_view text, TCodePage codePage, bool& exact) {
  const SingleByteTable& table = TableOf(codePage);
  std::string result;
  result.reserve(text.size());
  exact = true;
  for (char16_t unit : text) {
    const auto found = table.fromUnicode.find(unit);
    if (found == table.fromUnicode.end()) {
      result += '?';
      exact = false;
    } else {
      result += static_cast<char>(found->second);
    }
  }
  return result;
}

std::u16string DecodeSystemCodePage(std::string_view bytes, TCodePage codePage) {
  const SingleByteTable& table = TableOf(codePage);
  std::u16string result;
  result.reserve(bytes.size());
  for (char c : bytes) result += table.toUnicode[static_cast<std::uint8_t>(c)];
  return result;
}

}  // namespace zo
