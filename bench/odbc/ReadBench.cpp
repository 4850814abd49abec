// Reads every row of a query through TODBCStatement, converting every value
// to its typed form, and prints "rows checksum seconds".
//
//   read_bench CONNECTION_STRING SQL BUFFER_COUNT [forward] [raw]
//
// forward: a forward-only cursor instead of the default static one.
// raw: walks the rows without reading any value, which leaves the driver's
// own work (and the rowset bookkeeping) as a floor to compare with.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Exception.h"
#include "odbc/ODBCDatabase.h"
#include "odbc/ODBCStatement.h"
#include "platform/Utf.h"

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s CONNECTION_STRING SQL BUFFER_COUNT [forward] [raw]\n", argv[0]);
    return 2;
  }
  try {
    const auto start = std::chrono::steady_clock::now();
    zo::TODBCDatabase db;
    db.SetConnectionString(zo::FromUtf8(argv[1]));
    zo::TODBCStatement stmt;
    stmt.SetDatabase(&db);
    stmt.SetBufferCount(std::strtoull(argv[3], nullptr, 10));
    bool raw = false;
    for (int i = 4; i < argc; ++i) {
      const std::string option = argv[i];
      if (option == "forward") stmt.SetCursorType(SQL_CURSOR_FORWARD_ONLY);
      if (option == "raw") raw = true;
    }
    stmt.SetCommandText(zo::FromUtf8(argv[2]));
    stmt.Open();
    long long rows = 0;
    double checksum = 0;
    for (; !stmt.Eof(); stmt.Next()) {
      ++rows;
      if (raw) continue;
      checksum += stmt.IntegerValue(0);
      checksum += static_cast<double>(stmt.BigintValue(1) & 0xFF);
      checksum += stmt.FloatValue(2);
      checksum += static_cast<double>(stmt.StringValue(3).size());
      checksum += stmt.DatetimeValue(4);
    }
    stmt.Close();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%lld %.3f %.6f\n", rows, checksum, seconds);
    return 0;
  } catch (const zo::Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
