#include "core/DateTime.h"

#include <cmath>
#include <ctime>

#include "core/Exception.h"
#include "core/StringUtils.h"
#include "platform/FileSystem.h"

namespace zo {

namespace {

constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;
constexpr std::int64_t kMinDay = -693593;   // 0001-01-01
constexpr std::int64_t kMaxDay = 2958465;   // 9999-12-31

// Days from 1970-01-01 to a proleptic Gregorian date (valid for all years
// used here); the classic era-based civil-calendar arithmetic.
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& Year, int& Month, int& Day) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  Year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
  Month = static_cast<int>(m);
  Day = static_cast<int>(d);
}

// 1899-12-30 counted from 1970-01-01.
constexpr std::int64_t kDateDelta = DaysFromCivil(1899, 12, 30);

[[noreturn]] void ThrowOutOfRange(TDateTime Value) {
  throw EConvertError(u"Date-time value %s is outside 0001-01-01 to 9999-12-31", {FloatToPlainText(Value)});
}

// Splits a value into whole days and milliseconds since midnight after
// rounding to the millisecond; rejects values outside 0001-01-01..9999-12-31.
void SplitValue(TDateTime Value, std::int64_t& Days, std::int64_t& MSecs) {
  if (!(Value > static_cast<double>(kMinDay - 1) && Value < static_cast<double>(kMaxDay + 1))) {
    ThrowOutOfRange(Value);
  }
  const std::int64_t total = std::llround(Value * static_cast<double>(kMSecsPerDay));
  Days = total / kMSecsPerDay;
  MSecs = (total < 0 ? -total : total) % kMSecsPerDay;
  if (Days < kMinDay || Days > kMaxDay) ThrowOutOfRange(Value);
}

}  // namespace

bool IsLeapYear(int Year) { return Year % 4 == 0 && (Year % 100 != 0 || Year % 400 == 0); }

bool IsValidDate(int Year, int Month, int Day) {
  static constexpr int kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Year < kMinYear || Year > kMaxYear || Month < 1 || Month > 12 || Day < 1) return false;
  const int last = kDaysInMonth[Month - 1] + (Month == 2 && IsLeapYear(Year) ? 1 : 0);
  return Day <= last;
}

bool IsValidTime(int Hour, int Min, int Sec, int MSec) {
  return Hour >= 0 && Hour <= 23 && Min >= 0 && Min <= 59 && Sec >= 0 && Sec <= 59 && MSec >= 0 && MSec <= 999;
}

TDateTime EncodeDate(int Year, int Month, int Day) {
  if (!IsValidDate(Year, Month, Day)) {
    throw EConvertError(u"Invalid date: year %d, month %d, day %d", {Year, Month, Day});
  }
  return static_cast<double>(DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day)) -
                             kDateDelta);
}

TDateTime EncodeTime(int Hour, int Min, int Sec, int MSec) {
  if (!IsValidTime(Hour, Min, Sec, MSec)) {
    throw EConvertError(u"Invalid time: hour %d, minute %d, second %d, millisecond %d", {Hour, Min, Sec, MSec});
  }
  const std::int64_t msecs = ((static_cast<std::int64_t>(Hour) * 60 + Min) * 60 + Sec) * 1000 + MSec;
  return static_cast<double>(msecs) / static_cast<double>(kMSecsPerDay);
}

TDateTime EncodeDateTime(int Year, int Month, int Day, int Hour, int Min, int Sec, int MSec) {
  return CombineDateAndTime(EncodeDate(Year, Month, Day), EncodeTime(Hour, Min, Sec, MSec));
}

TDateTime CombineDateAndTime(TDateTime Date, TDateTime Time) { return Date >= 0 ? Date + Time : Date - Time; }

void DecodeDate(TDateTime Value, int& Year, int& Month, int& Day) {
  std::int64_t days = 0, msecs = 0;
  SplitValue(Value, days, msecs);
  CivilFromDays(days + kDateDelta, Year, Month, Day);
}

void DecodeTime(TDateTime Value, int& Hour, int& Min, int& Sec, int& MSec) {
  std::int64_t days = 0, msecs = 0;
  SplitValue(Value, days, msecs);
  MSec = static_cast<int>(msecs % 1000);
  Sec = static_cast<int>(msecs / 1000 % 60);
  Min = static_cast<int>(msecs / 60000 % 60);
  Hour = static_cast<int>(msecs / 3600000);
}

void DecodeDateTime(TDateTime Value, int& Year, int& Month, int& Day, int& Hour, int& Min, int& Sec,
                    int& MSec) {
  DecodeDate(Value, Year, Month, Day);
  DecodeTime(Value, Hour, Min, Sec, MSec);
}

TDateTime Now() {
  const TLocalTime now = NowLocalTime();
  return EncodeDateTime(now.Year, now.Month, now.Day, now.Hour, now.Minute, now.Second > 59 ? 59 : now.Second,
                        now.Millisecond);
}

TDateTime UnixToDateTime(std::time_t Value) {
  const std::optional<TLocalTime> local = LocalTimeOfUnixTime(Value);
  if (!local) {
    throw EConvertError(u"Time value %d cannot be converted to local time", {static_cast<long long>(Value)});
  }
  return EncodeDateTime(local->Year, local->Month, local->Day, local->Hour, local->Minute,
                        local->Second > 59 ? 59 : local->Second, 0);
}

std::time_t DateTimeToUnix(TDateTime Value) {
  int y = 0, m = 0, d = 0, h = 0, n = 0, s = 0, ms = 0;
  DecodeDateTime(Value, y, m, d, h, n, s, ms);
  // The same zone rules as UnixToDateTime, the system's.
  const std::optional<TFileTime> time = FileTimeOf(TLocalTime{y, m, d, h, n, s, 0});
  return time ? static_cast<std::time_t>(time->Seconds) : static_cast<std::time_t>(-1);
}

}  // namespace zo
