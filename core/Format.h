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
  FormatArg(const String& v) : value_(v) {}
  FormatArg(StringView v) : value_(String(v)) {}
  FormatArg(const char16_t* v) : value_(String(v)) {}
  FormatArg(char16_t v) : value_(String(1, v)) {}
  FormatArg(int v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(long v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(long long v) : value_(static_cast<std::int64_t>(v)) {}
  FormatArg(unsigned v) : value_(static_cast<std::uint64_t>(v)) {}
  FormatArg(unsigned long v) : value_(static_cast<std::uint64_t>(v)) {}
  FormatArg(unsigned long long v) : value_(static_cast<std::uint64_t>(v)) {}
  FormatArg(double v) : value_(v) {}

  using Value = std::variant<String, std::int64_t, std::uint64_t, double>;
  const Value& value() const { return value_; }

 private:
  Value value_;
};

String Format(StringView format, std::initializer_list<FormatArg> args);

}  // namespace zo
