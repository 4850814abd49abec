// One printf-like formatter over String, for the system's messages.
//
// Supported: %s (String or integer), %d and %u (integers), %x and %X
// (hexadecimal), %f, %e and %g (floating point), %c (one character), %%.
// Flags '-' and '0', a width and a precision ("%.2f", "%5d", "%-10s", "%08X")
// work as in printf. A missing argument or one of the wrong kind raises
// EFormatError, so a broken message never goes out silently.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <variant>

#include "core/String.h"

namespace zo {

class FormatArg {
 public:
  FormatArg(const String& v) : FValue(v) {}
  FormatArg(StringView v) : FValue(String(v)) {}
  FormatArg(const char16_t* v) : FValue(String(v)) {}
  FormatArg(char16_t v) : FValue(String(1, v)) {}
  FormatArg(int v) : FValue(static_cast<std::int64_t>(v)) {}
  FormatArg(long v) : FValue(static_cast<std::int64_t>(v)) {}
  FormatArg(long long v) : FValue(static_cast<std::int64_t>(v)) {}
  FormatArg(unsigned v) : FValue(static_cast<std::uint64_t>(v)) {}
  FormatArg(unsigned long v) : FValue(static_cast<std::uint64_t>(v)) {}
  FormatArg(unsigned long long v) : FValue(static_cast<std::uint64_t>(v)) {}
  FormatArg(double v) : FValue(v) {}

  using TValue = std::variant<String, std::int64_t, std::uint64_t, double>;
  const TValue& Value() const { return FValue; }

 private:
  TValue FValue;
};

String Format(StringView format, std::initializer_list<FormatArg> args);

}  // namespace zo
