// The date-time value: days since 1899-12-30 00:00 in the integer part and the
// time of day as a fraction of a day in the fractional part.
//
// For a date before 1899-12-30 the integer part is negative and the fraction
// still counts forward from midnight, so -1.25 is 1899-12-29 06:00. A date part
// D and a time part T therefore combine to D + T when D >= 0 and to D - T when
// D < 0 (CombineDateAndTime).
//
// Valid dates run from 0001-01-01 to 9999-12-31. Encoding an invalid part and
// decoding a value outside that range raise EConvertError.
#pragma once

#include <cstdint>
#include <ctime>

namespace zo {

using TDateTime = double;

inline constexpr std::int64_t kMSecsPerDay = 86400000;
// 0001-01-01 and the first moment after 9999-12-31.
inline constexpr double kMinDateTime = -693593.0;
inline constexpr double kMaxDateTimeEnd = 2958466.0;

bool IsLeapYear(int Year);
bool IsValidDate(int Year, int Month, int Day);
bool IsValidTime(int Hour, int Min, int Sec, int MSec);

// Whole days for a date; Year 1..9999, Month 1..12, Day within the month.
TDateTime EncodeDate(int Year, int Month, int Day);
// Fraction of a day; Hour 0..23, Min and Sec 0..59, MSec 0..999.
TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec);
TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec);

// D + T, or D - T when the date part D is negative.
TDateTime CombineDateAndTime(TDateTime Date, TDateTime Time);

// Decoding rounds the value to the nearest millisecond first, so a time a hair
// below midnight decodes as the next day's 00:00:00.000.
void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day);
void DecodeTime(TDateTime Value, int& Hour, int& Min, int& Sec, int& MSec);
void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec,
                    int& MSec);

// The current local time, to the millisecond.
TDateTime Now();

// A POSIX time (seconds since the epoch, UTC) as local date-time, and back.
// File times are local time throughout the system.
TDateTime UnixToDateTime(std::time_t Value);
// Milliseconds are dropped; a local time that does not exist (a skipped
// daylight-saving hour) is resolved as the C library's mktime does.
std::time_t DateTimeToUnix(TDateTime Value);

}  // namespace zo
