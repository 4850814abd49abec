#include "core/ServerType.h"

#include <gtest/gtest.h>

namespace zo {
namespace {

TEST(ServerType, NamesAndTheProcessWideKind) {
  const std::pair<TSQLServerType, String> cases[] = {
      {stUnknown, u"Unknown"}, {stSQLServer, u"SQLServer"}, {stSybase, u"Sybase"},
      {stOracle, u"Oracle"},   {stdBase, u"dBase"},         {stXML, u"XML"},
      {stPostgreSQL, u"PostgreSQL"},
  };
  for (const auto& [type, name] : cases) EXPECT_EQ(SQLServerTypeName(type), name);
  EXPECT_EQ(static_cast<int>(stPostgreSQL), 6);
  EXPECT_EQ(SQLServerTypeName(static_cast<TSQLServerType>(7)), u"Unknown");
  EXPECT_EQ(CurrentSQLServerType, stSQLServer);
}

}  // namespace
}  // namespace zo
