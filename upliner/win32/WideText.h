// The model's UTF-16 text and the Windows API's wide characters are the
// same code units on Windows; these only change the type.
#pragma once

#include <string>

#include "core/String.h"

namespace zo {

inline std::wstring ToWide(StringView Text) { return std::wstring(Text.begin(), Text.end()); }
inline String FromWide(std::wstring_view Text) { return String(Text.begin(), Text.end()); }

}  // namespace zo
