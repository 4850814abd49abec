// Conversions between UTF-16 text and the single-byte code pages that ZIP
// entry names use.
//
// This platform has no "system ANSI/OEM code page", so the pair is fixed:
// ANSI is Windows-1252 and OEM is CP437 (the tables come from iconv). UTF-8
// is there for completeness. Bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D, which
// Windows-1252 leaves undefined, read as U+0081 etc., as Windows reads them.
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
