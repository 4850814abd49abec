// Values in the buffers the driver reads and fills: rows and parameters are
// packed byte blocks with no alignment of their own, so values are copied in
// and out, never referenced in place. Shared by statements and parameters.
#pragma once

#include "odbc/ODBCHeaders.h"

#include <cstdint>
#include <cstring>
#include <string>

#include "core/DateTime.h"
#include "core/String.h"
#include "core/StringUtils.h"

namespace zo {

template <typename T>
T ReadAt(const void* Address) {
  T value;
  std::memcpy(&value, Address, sizeof(value));
  return value;
}

template <typename T>
void WriteAt(std::uint8_t* Address, T Value) {
  std::memcpy(Address, &Value, sizeof(Value));
}

// Characters from Text up to the first NUL, at most MaxChars of them.
inline String ReadText(const std::uint8_t* Text, std::size_t MaxChars) {
  String result(MaxChars, u'\0');
  if (MaxChars > 0) std::memcpy(result.data(), Text, MaxChars * sizeof(char16_t));
  result.resize(std::char_traits<char16_t>::length(result.c_str()));
  return result;
}

inline TDateTime TimestampDate(const SQL_TIMESTAMP_STRUCT& ts) { return EncodeDate(ts.year, ts.month, ts.day); }
inline TDateTime TimestampTime(const SQL_TIMESTAMP_STRUCT& ts) {
  return EncodeTime(ts.hour, ts.minute, ts.second, static_cast<int>(ts.fraction / 1000000));
}
inline TDateTime TimestampToDateTime(const SQL_TIMESTAMP_STRUCT& ts) {
  return CombineDateAndTime(TimestampDate(ts), TimestampTime(ts));
}
// The text form of a timestamp; a zero date or time half is left out.
inline String TimestampToText(const SQL_TIMESTAMP_STRUCT& ts) {
  return DateAndTimeToText(TimestampDate(ts), TimestampTime(ts), true);
}

}  // namespace zo
