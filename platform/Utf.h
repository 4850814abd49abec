// UTF-8 <-> UTF-16, and file names between the system's own form and ours.
//
// Inside the system all text is UTF-16 (zo::String). Where the other side
// speaks UTF-8 (file names, the console, the environment and process
// arguments on POSIX; UTF-8 text files and output everywhere) every crossing
// goes through these functions.
#pragma once

#include <string>
#include <string_view>

namespace zo {

// Ill-formed UTF-16 (a lone surrogate) becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Ill-formed UTF-8 (bad lead byte, truncated or overlong sequence, encoded
// surrogate, value above U+10FFFF) becomes one U+FFFD per bad byte.
std::u16string FromUtf8(std::string_view text);

// File names may be bytes that need not be UTF-8 (POSIX). These two keep
// such a name whole on its way through the system: each byte that is not
// part of well-formed UTF-8 becomes the lone surrogate U+DC80 + byte, and
// such a surrogate becomes that byte again, so a name read from a directory
// opens the same file when given back. Everything else is as above.
std::string ToOsPath(std::u16string_view path);
std::u16string FromOsPath(std::string_view path);

// True when the text holds bytes of a file name that were not UTF-8 (see
// FromOsPath).
bool HasEscapedBytes(std::u16string_view text);
// The byte an escaped unit stands for, or -1 for any other unit.
int EscapedByte(char16_t unit);

}  // namespace zo
