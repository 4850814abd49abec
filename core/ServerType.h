// The kinds of database server, and the one the whole process works with.
#pragma once

#include <cstdint>

#include "core/String.h"

namespace zo {

// Database server kinds.
enum class TSQLServerType : std::uint8_t {
  stUnknown = 0,
  stSQLServer = 1,
  stSybase = 2,
  stOracle = 3,
  stdBase = 4,
  stXML = 5,
  stPostgreSQL = 6,
};
using enum TSQLServerType;

// "Unknown", "SQLServer", "Sybase", "Oracle", "dBase", "XML", "PostgreSQL";
// "Unknown" for a value outside the enumeration.
String SQLServerTypeName(TSQLServerType Value);

// The server kind of the whole process; stSQLServer until changed. Written
// during start-up only (the upgrade tool's window sets it), read afterwards.
extern TSQLServerType CurrentSQLServerType;

}  // namespace zo
