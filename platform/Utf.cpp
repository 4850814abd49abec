#include "platform/Utf.h"

#include <cstdint>

namespace zo {

namespace {

constexpr char32_t kReplacement = 0xFFFD;
// The lone surrogates that stand for bytes of a file name that are not UTF-8.
constexpr char16_t kEscapeBase = 0xDC80;

void AppendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void AppendUtf16(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 | (cp >> 10));
    out += static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
  }
}

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

// Both directions share one walk; escapeBytes chooses what becomes of bytes
// (and lone surrogates) that have no place in well-formed text.
std::string EncodeUtf8(std::u16string_view text, bool escapeBytes) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (IsHighSurrogate(c) && i + 1 < text.size() && IsLowSurrogate(text[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (escapeBytes && EscapedByte(text[i]) >= 0) {
      out += static_cast<char>(EscapedByte(text[i]));
      continue;
    } else if (IsHighSurrogate(c) || IsLowSurrogate(c)) {
      c = kReplacement;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string DecodeUtf8(std::string_view text, bool escapeBytes) {
  std::u16string out;
  out.reserve(text.size());
  const auto* p = reinterpret_cast<const std::uint8_t*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  auto badByte = [&] {
    if (escapeBytes) out += static_cast<char16_t>(kEscapeBase + (p[i] - 0x80));
    else AppendUtf16(out, kReplacement);
    ++i;
  };
  while (i < n) {
    const std::uint8_t lead = p[i];
    size_t len;
    char32_t cp;
    char32_t min;
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      len = 2; cp = lead & 0x1F; min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      len = 3; cp = lead & 0x0F; min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      len = 4; cp = lead & 0x07; min = 0x10000;
    } else {
      badByte();
      continue;
    }
    bool ok = i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) ok = false;
      else cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    if (!ok || cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      badByte();
      continue;
    }
    AppendUtf16(out, cp);
    i += len;
  }
  return out;
}

}  // namespace

std::string ToUtf8(std::u16string_view text) { return EncodeUtf8(text, false); }
std::u16string FromUtf8(std::string_view text) { return DecodeUtf8(text, false); }
std::string ToOsPath(std::u16string_view path) { return EncodeUtf8(path, true); }
std::u16string FromOsPath(std::string_view path) { return DecodeUtf8(path, true); }

int EscapedByte(char16_t unit) {
  // Bytes below 0x80 are always well-formed, so only 0x80..0xFF are escaped.
  return unit >= kEscapeBase && unit <= kEscapeBase + 0x7F ? 0x80 + (unit - kEscapeBase) : -1;
}

bool HasEscapedBytes(std::u16string_view text) {
  for (char16_t c : text) {
    if (EscapedByte(c) >= 0) return true;
  }
  return false;
}

}  // namespace zo
