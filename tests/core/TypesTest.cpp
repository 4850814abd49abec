#include "core/Types.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "core/Exception.h"
#include "platform/Environment.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

TEST(Types, SQLServerTypeNames) {
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

TEST(Types, ActionSetIsOneByteMemberNAtBitN) {
  static_assert(sizeof(TMTSActionType) == 1);
  TMTSActionType set;
  EXPECT_TRUE(set.Empty());
  set.Include(mtaInsert);
  EXPECT_EQ(set.Byte(), 1);
  set.Include(mtaDelete);
  EXPECT_EQ(set.Byte(), 5);
  EXPECT_TRUE(set.Contains(mtaDelete));
  EXPECT_FALSE(set.Contains(mtaUpdate));
  set.Exclude(mtaInsert);
  EXPECT_EQ(set, TMTSActionType{mtaDelete});
  EXPECT_EQ((TMTSActionType{mtaInsert, mtaDelete} + TMTSActionType{mtaRead}).Byte(), 1 | 4 | 8);
  EXPECT_EQ((TMTSActionType{mtaInsert, mtaDelete} - TMTSActionType{mtaInsert}).Byte(), 4);
  EXPECT_EQ((TMTSActionType{mtaInsert, mtaDelete} * TMTSActionType{mtaDelete, mtatUnknown}).Byte(), 4);
  EXPECT_TRUE(TMTSActionType::FromByte(32).Contains(mtatUnknown));
}

TEST(Types, VersionTypeFromString) {
  const std::pair<String, int> cases[] = {
      {u"0", 0}, {u"1", 1}, {u"2", 2}, {u"255", 255}, {u"258", 2}, {u"-1", 255}, {u"+3", 3},
  };
  for (const auto& [text, value] : cases) {
    EXPECT_EQ(static_cast<int>(TCDBVersionTypeHelper::FromString(text)), value);
  }
  EXPECT_EQ(TCDBVersionTypeHelper::FromString(u"2"), cdbvtCorrupt);
  const std::pair<String, String> failures[] = {
      {u"", u"Internal error - empty value not allowed in TCDBVersionTypeHelper.FromString function"},
      {u"beta", u"'beta' is not a valid integer value"},
      {u"1 ", u"'1 ' is not a valid integer value"},
      {u"4294967298", u"'4294967298' is not a valid integer value"},
  };
  for (const auto& [text, message] : failures) {
    EXPECT_EQ(test::MessageOf([&] { TCDBVersionTypeHelper::FromString(text); }), message);
  }
}

TEST(Types, StartUpValues) {
  EXPECT_EQ(String(ProductPrefix), u"zo");
  EXPECT_EQ(DotFormatSettings.DecimalSeparator, u'.');
  // The computer name is read once, on first use: nothing else in this
  // program asks for it, so the variable set here is the one it sees.
  const String longName(60, u'N');
  setenv("ComputerName", "NNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNNN", 1);
  EXPECT_EQ(ComputerName(), longName.substr(0, 49));
  EXPECT_EQ(&ComputerName(), &ComputerName());
}

}  // namespace
}  // namespace zo
