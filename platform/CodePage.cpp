#include "platform/CodePage.h"

#include "platform/SystemCodePage.h"
#include "platform/Utf.h"

namespace zo {

std::string EncodeCodePage(std::u16string_view text, TCodePage codePage, bool* exact) {
  bool all = true;
  std::string result;
  if (codePage == cpUtf8) {
    result = ToUtf8(text);
    all = FromUtf8(result) == text;
  } else {
    result = EncodeSystemCodePage(text, codePage, all);
  }
  if (exact != nullptr) *exact = all;
  return result;
}

std::u16string DecodeCodePage(std::string_view bytes, TCodePage codePage) {
  if (codePage == cpUtf8) return FromUtf8(bytes);
  return DecodeSystemCodePage(bytes, codePage);
}

std::u16string ReadableFileName(std::u16string_view name) {
  std::u16string result(name);
  for (char16_t& c : result) {
    const int byte = EscapedByte(c);
    if (byte < 0) continue;
    const std::u16string read = DecodeCodePage(std::string(1, static_cast<char>(byte)), cpAnsi);
    if (read.size() == 1) c = read[0];
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
