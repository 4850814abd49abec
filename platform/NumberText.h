// Numbers as text under the "C" rules whatever the process's locale: the
// decimal point is '.' even where a window toolkit adopted the user's locale
// at start-up. Each system sets the rules for one call in its own way.
#pragma once

#include <cstddef>

namespace zo {

// snprintf of one double with pattern (one %f, %e or %g conversion).
int FormatDoubleC(char* buffer, std::size_t size, const char* pattern, double value);

}  // namespace zo
