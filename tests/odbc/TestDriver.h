// The test driver library (TestDriver.cpp): a driver of our own that browses,
// reports no transaction support and returns several diagnostic records.
//
// Connections can load it by path (DRIVER=<path>). Browsing needs a
// registered name, so RegisterTestDriver() points the driver manager at a
// private odbcinst.ini holding the current entries plus "ZO Test Driver".
//
// A Windows program under Wine uses the host's driver manager and drivers,
// which read ODBCSYSINI only as Wine starts: there scripts/test-windows.sh
// builds the library natively and registers it before, and passes its path
// as ZO_TEST_DRIVER_LIBRARY.
#pragma once

#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "core/String.h"
#include "platform/Utf.h"
#include "tests/ScratchDir.h"

namespace zo::test {

inline constexpr char16_t kTestDriverName[] = u"ZO Test Driver";

inline String TestDriverPath() {
#if defined(ZO_TEST_DRIVER_PATH)
  return FromUtf8(ZO_TEST_DRIVER_PATH);
#elif defined(_WIN32)
  const char* library = std::getenv("ZO_TEST_DRIVER_LIBRARY");
  return FromUtf8(library != nullptr ? library : "");
#else
  return String();
#endif
}

// Call before the first ODBC call of the program; true when registered.
inline bool RegisterTestDriver() {
#ifdef ZO_TEST_DRIVER_PATH
  namespace fs = std::filesystem;
  const char* current = std::getenv("ODBCSYSINI");
  const fs::path source = fs::path(current && *current ? current : "/etc") / "odbcinst.ini";
  std::stringstream entries;
  if (std::ifstream in(source); in) entries << in.rdbuf();

  // Lives as long as the program, which reads the file on every connection.
  static const ScratchDir dir("zo-odbcinst");
  std::ofstream out(dir.Path("odbcinst.ini"));
  out << entries.str() << "\n[" << ToUtf8(kTestDriverName) << "]\nDescription=zo test driver\nDriver="
      << ZO_TEST_DRIVER_PATH << "\n";
  out.close();
  ::setenv("ODBCSYSINI", dir.Dir().c_str(), 1);
  return true;
#elif defined(_WIN32)
  return !TestDriverPath().empty();
#else
  return false;
#endif
}

}  // namespace zo::test
