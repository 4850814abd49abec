// What a database suite does without its test server.
//
// A run promises a server by setting ZO_TEST_PGPORT (scripts/test.sh does,
// and so does the env file of scripts/testdb.sh). Then a server that cannot
// be reached or used fails the tests loudly. A run without the promise skips
// every test that needs the server, and the program (DatabaseTestMain.cpp)
// ends with kSkipReturnCode when it skipped any and nothing failed, which
// CTest reports as "Skipped" (SKIP_RETURN_CODE), never as passed.
//
//   TEST_F(X, Y) {
//     ZO_SKIP_WITHOUT_TEST_SERVER();   // first thing: the test needs a server
//     ...
//   }
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>

namespace zo::test {

inline constexpr int kSkipReturnCode = 77;

// ZO_TEST_PGPORT is set: the run promises a test server.
inline bool TestServerPromised() {
  const char* port = std::getenv("ZO_TEST_PGPORT");
  return port != nullptr && *port != '\0';
}

// Tests of this program skipped for want of a server.
inline int& TestsSkippedWithoutServer() {
  static int count = 0;
  return count;
}

}  // namespace zo::test

#define ZO_SKIP_WITHOUT_TEST_SERVER()                                                                      \
  do {                                                                                                     \
    if (!::zo::test::TestServerPromised()) {                                                               \
      ++::zo::test::TestsSkippedWithoutServer();                                                           \
      GTEST_SKIP() << "no test server: ZO_TEST_PGPORT is not set (run scripts/test.sh, or source the env " \
                      "file of scripts/testdb.sh)";                                                         \
    }                                                                                                      \
  } while (0)
