// UTF-8 <-> UTF-16 at the operating system's edges.
//
// Inside the system all text is UTF-16 (zo::String); the POSIX side (file
// names, the console, the environment, process arguments) speaks UTF-8.
// Every crossing goes through these two functions.
#pragma once

#include <string>
#include <string_view>

namespace zo {

// Ill-formed UTF-16 (a lone surrogate) becomes U+FFFD.
std::string ToUtf8(std::u16string_view text);

// Ill-formed UTF-8 (bad lead byte, truncated or overlong sequence, encoded
// surrogate, value above U+10FFFF) becomes one U+FFFD per bad byte.
std::u16string FromUtf8(std::string_view text);

}  // namespace zo
