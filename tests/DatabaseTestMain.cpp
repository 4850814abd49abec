// The main of every test program that needs the test server: the program's
// tests run as usual, and when some were skipped for want of a server and
// none failed, the program ends with the code CTest reports as "Skipped".
#include <gtest/gtest.h>

#include <cstdio>

#include "tests/DatabaseSuite.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  const int result = RUN_ALL_TESTS();
  const int skipped = zo::test::TestsSkippedWithoutServer();
  if (result == 0 && skipped > 0) {
    std::printf("%d test(s) need the test server and did not run: the suite counts as skipped\n", skipped);
    return zo::test::kSkipReturnCode;
  }
  return result;
}
