#include "core/ServerType.h"

namespace zo {

TSQLServerType CurrentSQLServerType = stSQLServer;

String SQLServerTypeName(TSQLServerType Value) {
  switch (Value) {
    case stUnknown: return u"Unknown";
    case stSQLServer: return u"SQLServer";
    case stSybase: return u"Sybase";
    case stOracle: return u"Oracle";
    case stdBase: return u"dBase";
    case stXML: return u"XML";
    case stPostgreSQL: return u"PostgreSQL";
  }
  return u"Unknown";
}

}  // namespace zo
