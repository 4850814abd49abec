// Conversions between UTF-16 text and the code pages that ZIP entry names
// use: the system's ANSI and OEM code pages, and UTF-8.
//
// Which code pages cpAnsi and cpOem are is the system's fact, and each
// body (posix/CodePage.cpp, win32/CodePage.cpp) says at its top where it
// takes them from. UTF-8 is the same everywhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zo {

enum class TCodePage : std::uint8_t { cpAnsi, cpOem, cpUtf8 };
using enum TCodePage;

// Text in the code page. A character the code page cannot hold becomes '?'
// and *exact (when given) is set to false; otherwise *exact is true.
std::string EncodeCodePage(std::u16string_view text, TCodePage codePage, bool* exact = nullptr);
std::u16string DecodeCodePage(std::string_view bytes, TCodePage codePage);
// Bytes of one code page in another, through UTF-16 ('?' for what is lost).
std::string ConvertCodePage(std::string_view bytes, TCodePage from, TCodePage to);

// A file name as a person reads it: the bytes that were not UTF-8 (kept by
// FromOsPath as escapes) are read as Windows-1252, the code page such names
// were usually written in. Everything else is unchanged.
std::u16string ReadableFileName(std::u16string_view name);

// True when bytes are well-formed UTF-8 (no overlong forms, surrogates or
// values above U+10FFFF).
bool IsValidUtf8(std::string_view bytes);

}  // namespace zo
