#include "bundlet/ProgressLine.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace zo {
namespace {

TEST(ProgressLineTest, TellsDoneTotalRateAndTimeLeftWithinTheTerminal) {
  const struct {
    TZEWorkProgress progress;
    double seconds;
    int columns;
    const char* expected;
  } cases[] = {
      {{50'000'000, 200'000'000, 10, 40}, 2.0, 120,
       "Packing 25%  50.0 of 200.0 MB  10 of 40 files  25.0 MB/s  0:06 left"},
      {{0, 0, 0, 0}, 0.5, 120, "Packing 0%  0.0 of 0.0 MB  0 of 0 files"},
      {{7'200'000'000, 14'400'000'000, 1, 2}, 3600.0, 120,
       "Packing 50%  7200.0 of 14400.0 MB  1 of 2 files  2.0 MB/s  1:00:00 left"},
      // A total that grew (a file that grew) never shows more than 100%.
      {{300, 200, 3, 2}, 1.0, 120, "Packing 100%  0.0 of 0.0 MB  3 of 3 files  0.0 MB/s  0:00 left"},
      {{50'000'000, 200'000'000, 10, 40}, 2.0, 30, "Packing 25%  50.0 of 200.0 MB"},
      // The sizes an archive declares may be absurd: counts near their top
      // neither overflow nor show an endless time.
      {{INT64_MAX / 2, INT64_MAX, 1, 3}, 1.0, 200,
       "Packing 50%  4611686018427.4 of 9223372036854.8 MB  1 of 3 files  4611686018427.4 MB/s  0:01 left"},
      {{1'000'000, INT64_MAX, 1, 3}, 1.0, 120, "Packing 0%  1.0 of 9223372036854.8 MB  1 of 3 files  1.0 MB/s  9999:00:00 left"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TProgressLine::Format("Packing", c.progress, c.seconds, c.columns), c.expected);
  }
}

}  // namespace
}  // namespace zo
