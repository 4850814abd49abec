// Reads every row of a query through TODBCStatement, converting every value
// to its typed form, and prints "rows checksum seconds".
//
//   read_bench CONNECTION_STRING SQL BUFFER_COUNT [forward]
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
    std::fprintf(stderr, "usage: %s CONNECTION_STRING SQL BUFFER_COUNT [forward]\n", argv[0]);
    return 2;
  }
  try {
    const auto start = std::chrono::steady_clock::now();
    zo::TODBCDatabase db;
    db.SetConnectionString(zo::FromUtf8(argv[1]));
    zo::TODBCStatement stmt;
    stmt.SetDatabase(&db);
    stmt.SetBufferCount(std::strtoull(argv[3], nullptr, 10));
    if (argc > 4 && std::string(argv[4]) == "forward") stmt.SetCursorType(SQL_CURSOR_FORWARD_ONLY);
    stmt.SetCommandText(zo::FromUtf8(argv[2]));
    stmt.Open();
    long long rows = 0;
    double checksum = 0;
    for (; !stmt.Eof(); stmt.Next()) {
      checksum += stmt.IntegerValue(0);
      checksum += static_cast<double>(stmt.BigintValue(1) & 0xFF);
      checksum += stmt.FloatValue(2);
      checksum += static_cast<double>(stmt.StringValue(3).size());
      checksum += stmt.DatetimeValue(4);
      ++rows;
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
