// The process-wide values fixed at start-up: the number format of the
// floating-point text conversions, the product prefix and the computer's
// name, both used when naming database connections.
#pragma once

#include "core/String.h"

namespace zo {

// Number-format settings used by the floating-point text conversions: '.' as
// the decimal point, no thousands separator in output.
struct TFormatSettings {
  char16_t DecimalSeparator;
  char16_t ThousandSeparator;
};
inline constexpr TFormatSettings DotFormatSettings{u'.', u','};

// The two-letter product prefix used when naming database connections.
inline constexpr char16_t ProductPrefix[] = u"zo";

// The computer's name: the environment variable ComputerName when set, else
// the host name; at most 49 characters. Read once, on first use.
const String& ComputerName();

}  // namespace zo
