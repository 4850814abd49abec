#include "platform/NumberText.h"

#include <locale.h>

#include <cstdio>

namespace zo {

int FormatDoubleC(char* buffer, std::size_t size, const char* pattern, double value) {
  // The "C" numeric rules on this thread only, for this one call.
  static const locale_t cLocale = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  const locale_t previous = cLocale ? uselocale(cLocale) : static_cast<locale_t>(0);
  const int n = std::snprintf(buffer, size, pattern, value);
  if (cLocale) uselocale(previous);
  return n;
}

}  // namespace zo
