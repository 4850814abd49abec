#include "platform/NumberText.h"

#include <locale.h>
#include <stdio.h>

namespace zo {

int FormatDoubleC(char* buffer, std::size_t size, const char* pattern, double value) {
  // The C runtime's formatting with a locale object of its own, which leaves
  // the process's locale alone.
  static const _locale_t cLocale = _create_locale(LC_NUMERIC, "C");
  // Exponents with two digits at least ("1.5e+00"), as C99 and POSIX write
  // them; the older runtime writes three.
  static const unsigned int twoDigits = _set_output_format(_TWO_DIGIT_EXPONENT);
  (void)twoDigits;
  if (size == 0) return -1;
  const int n = cLocale ? _snprintf_l(buffer, size, pattern, cLocale, value) : snprintf(buffer, size, pattern, value);
  // _snprintf_l neither ends a cut text with a zero nor says how long the
  // whole would be: a full buffer counts as too long.
  if (n < 0 || static_cast<std::size_t>(n) >= size) {
    buffer[size - 1] = '\0';
    return static_cast<int>(size);
  }
  return n;
}

}  // namespace zo
