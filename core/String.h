// The system's two kinds of character data.
//
// String: UTF-16 text, as positions, lengths and hashes count in UTF-16 code
// units; ODBC's SQLWCHAR and Qt's QString are UTF-16 too.
// Bytes: length-counted 8-bit data (keys, cipher texts, binary column values,
// archive bytes); never a text type.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zo {

using String = std::u16string;
using StringView = std::u16string_view;
using Bytes = std::vector<std::uint8_t>;

// ASCII text as a String; for literals and messages built from ASCII parts.
inline String AsciiToString(std::string_view ascii) { return String(ascii.begin(), ascii.end()); }

}  // namespace zo
