#include "tests/ScopedEnv.h"
#include "core/DateTime.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string>

#include "core/Exception.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

TEST(DateTime, EncodeAndDecodeDates) {
  struct Case {
    int y, m, d;
    double days;
  };
  const Case cases[] = {
      {1899, 12, 30, 0},   {1899, 12, 29, -1},   {1900, 1, 1, 2},        {1970, 1, 1, 25569},
      {2023, 3, 15, 45000}, {2000, 2, 29, 36585}, {1, 1, 1, -693593},     {9999, 12, 31, 2958465},
      {1600, 2, 29, -109512},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeDate(c.y, c.m, c.d), c.days) << c.y << "-" << c.m << "-" << c.d;
    int y = 0, m = 0, d = 0;
    DecodeDate(c.days, y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d) << c.days;
  }
}

TEST(DateTime, InvalidPartsAreRejected) {
  struct Case {
    int y, m, d;
  };
  for (const Case& c : {Case{2023, 2, 29}, Case{1900, 2, 29}, Case{0, 1, 1}, Case{10000, 1, 1}, Case{2023, 13, 1},
                        Case{2023, 0, 1}, Case{2023, 4, 31}, Case{2023, 1, 0}}) {
    EXPECT_THROW(EncodeDate(c.y, c.m, c.d), EConvertError) << c.y << "-" << c.m << "-" << c.d;
  }
  EXPECT_EQ(test::MessageOf<EConvertError>([&] { EncodeTime(24, 0, 0, 0); }),
            u"Invalid time: hour 24, minute 0, second 0, millisecond 0");
  EXPECT_EQ(test::MessageOf<EConvertError>([&] { EncodeDate(2023, 2, 29); }),
            u"Invalid date: year 2023, month 2, day 29");
  for (int bad : {-1, 1000}) EXPECT_THROW(EncodeTime(0, 0, 0, bad), EConvertError);
  EXPECT_THROW(EncodeTime(0, 60, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(0, 0, 60, 0), EConvertError);
  int y, m, d;
  for (double bad : {2958466.0, -693594.0, 1e300, std::nan("")}) EXPECT_THROW(DecodeDate(bad, y, m, d), EConvertError);
}

TEST(DateTime, TimesAndNegativeDates) {
  EXPECT_DOUBLE_EQ(EncodeTime(18, 0, 0, 0), 0.75);
  EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);  // D - T before 1899-12-30
  EXPECT_DOUBLE_EQ(CombineDateAndTime(2, 0.5), 2.5);
  EXPECT_DOUBLE_EQ(CombineDateAndTime(-2, 0.5), -2.5);

  int y, m, d, h, n, s, ms;
  DecodeDateTime(-1.25, y, m, d, h, n, s, ms);
  EXPECT_EQ((std::to_string(y) + "-" + std::to_string(m) + "-" + std::to_string(d) + " " + std::to_string(h)),
            "1899-12-29 6");
  DecodeDateTime(EncodeDateTime(2024, 2, 29, 23, 59, 59, 999), y, m, d, h, n, s, ms);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20240229);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 235959999);
  // Half a millisecond before midnight rounds into the next day.
  DecodeDateTime(45000 + (86400000 - 0.4) / 86400000.0, y, m, d, h, n, s, ms);
  EXPECT_EQ(y * 10000 + m * 100 + d, 20230316);
  EXPECT_EQ(h + n + s + ms, 0);
}

// Sets TZ for the lifetime of the object.
class TimeZone {
 public:
  explicit TimeZone(const char* tz) {
    if (const char* old = std::getenv("TZ")) FSaved = old, FHadTZ = true;
    zo::test::SetEnv("TZ", tz);
    tzset();
  }
  ~TimeZone() {
    if (FHadTZ) zo::test::SetEnv("TZ", FSaved.c_str());
    else zo::test::UnsetEnv("TZ");
    tzset();
  }

 private:
  std::string FSaved;
  bool FHadTZ = false;
};

TEST(DateTime, UnixTimesAreLocal) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows takes the time zone from its settings, not from TZ";
#endif
  {
    TimeZone utc("UTC0");
    EXPECT_DOUBLE_EQ(UnixToDateTime(0), 25569);
    EXPECT_EQ(DateTimeToUnix(25569.5), 43200);
  }
  {
    // Central European time without relying on installed zone files.
    TimeZone cet("CET-1CEST,M3.5.0,M10.5.0/3");
    EXPECT_DOUBLE_EQ(UnixToDateTime(0), EncodeDateTime(1970, 1, 1, 1, 0, 0, 0));
    const std::time_t summer = 1688212800;  // 2023-07-01 12:00 UTC
    EXPECT_DOUBLE_EQ(UnixToDateTime(summer), EncodeDateTime(2023, 7, 1, 14, 0, 0, 0));
    EXPECT_EQ(DateTimeToUnix(EncodeDateTime(2023, 7, 1, 14, 0, 0, 0)), summer);
    for (std::time_t t : {std::time_t{0}, std::time_t{1700000000}, summer, std::time_t{4102444800}}) {
      EXPECT_EQ(DateTimeToUnix(UnixToDateTime(t)), t) << t;
    }
  }
}

TEST(DateTime, NowIsTheLocalClock) {
  // std::time reads a coarse clock, which may lag the precise one that Now
  // reads by a tick: a second either side absorbs it.
  const double before = UnixToDateTime(std::time(nullptr) - 1);
  const double now = Now();
  const double after = UnixToDateTime(std::time(nullptr) + 2);
  EXPECT_LE(before, now);
  EXPECT_LE(now, after);
}

}  // namespace
}  // namespace zo
