// Field data types, system column types, action masks and isolation levels.
#include <gtest/gtest.h>

#include "core/ActionSet.h"
#include "core/Exception.h"
#include "core/ServerType.h"
#include "data/DataTypes.h"
#include "data/IsolationLevel.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

TEST(DataTypes, DisplayNames) {
  const std::pair<ToDataType, const char16_t*> cases[] = {
      {odtUnknown, u"Unknown"}, {odtTinyint, u"Tinyint"},   {odtSmallint, u"Smallint"}, {odtInteger, u"Integer"},
      {odtBigint, u"Bigint"},   {odtFloat, u"Float"},       {odtDateTime, u"DateTime"}, {odtNVarchar, u"NVarchar"},
      {odtNClob, u"NClob"},     {odtBlob, u"Blob"}};
  for (auto [type, name] : cases) EXPECT_EQ(DataTypeName(type), name);
}

TEST(DataTypes, SystemFieldTypesCompareNamesExactly) {
  const std::pair<const char16_t*, ToDataType> cases[] = {
      {u"ic", odtBigint},         {u"ic_a", odtBigint},     {u"ic_b", odtBigint},      {u"useric", odtBigint},
      {u"u", odtInteger},         {u"u_a", odtInteger},     {u"u_b", odtInteger},      {u"useru", odtInteger},
      {u"state", odtInteger},     {u"langstate", odtInteger}, {u"sstate", odtInteger}, {u"sstate_a", odtInteger},
      {u"sstate_b", odtInteger},  {u"remotekey", odtNVarchar},
      // Anything else, letter case included, is a date-time column.
      {u"IC", odtDateTime},       {u"U", odtDateTime},      {u"RemoteKey", odtDateTime}, {u"created", odtDateTime},
      {u"", odtDateTime},         {u"ic ", odtDateTime}};
  for (auto [name, type] : cases) EXPECT_EQ(SystemFieldType(name), type) << String(name).size();
}

TEST(DataTypes, ActionSetToIntegerKeepsTheFourDataActions) {
  EXPECT_EQ(ActionSetToInteger({}), 0);
  EXPECT_EQ(ActionSetToInteger({mtaInsert, mtaRead, mtaIUpdate}), 9);
  EXPECT_EQ(ActionSetToInteger({mtaInsert, mtaUpdate, mtaDelete, mtaRead}), 15);
  EXPECT_EQ(ActionSetToInteger({mtaDelete}), 4);
  EXPECT_EQ(ActionSetToInteger({mtaIUpdate, mtatUnknown}), 0);
  EXPECT_EQ(ActionSetToInteger(TMTSActionType::FromByte(0xFF)), 15);

  // And back: the upgrade program reads its -l this way.
  for (std::int32_t value = 0; value < 16; ++value) EXPECT_EQ(ActionSetToInteger(IntegerToActionSet(value)), value);
  EXPECT_EQ(IntegerToActionSet(5), (TMTSActionType{mtaInsert, mtaDelete}));
  EXPECT_EQ(IntegerToActionSet(0xF0), TMTSActionType{});
}

TEST(IsolationLevel, HelperTexts) {
  EXPECT_EQ(TCIsolationLevelHelper::ToString(ilReadCommitted), u"0");
  EXPECT_EQ(TCIsolationLevelHelper::ToString(ilSerializable), u"1");
  EXPECT_EQ(TCIsolationLevelHelper::ToDisplayString(ilReadCommitted), u"Read committed");
  EXPECT_EQ(TCIsolationLevelHelper::ToDisplayString(ilSerializable), u"Serializable");
}

TEST(IsolationLevel, HelperFromIntegerAndStringKeepTheLowByte) {
  TCIsolationLevel level = ilReadCommitted;
  TCIsolationLevelHelper::FromInteger(level, 257);
  EXPECT_EQ(level, ilSerializable);
  TCIsolationLevelHelper::FromInteger(level, 256);
  EXPECT_EQ(level, ilReadCommitted);
  TCIsolationLevelHelper::FromString(level, u"257");
  EXPECT_EQ(level, ilSerializable);
  TCIsolationLevelHelper::FromString(level, u"0");
  EXPECT_EQ(level, ilReadCommitted);

  level = ilSerializable;
  EXPECT_EQ(test::MessageOf([&] { TCIsolationLevelHelper::FromString(level, u""); }),
            u"Internal error - empty value not allowed in TCIsolationLevelHelper.FromString function");
  EXPECT_EQ(test::MessageOf<EConvertError>([&] { TCIsolationLevelHelper::FromString(level, u"x1"); }),
            u"'x1' is not a valid integer value");
  EXPECT_EQ(level, ilSerializable);
}

TEST(IsolationLevel, NullableLevel) {
  TNCIsolationLevel fromText = TNCIsolationLevel::Create(u"1");
  EXPECT_FALSE(fromText.FNull);
  EXPECT_EQ(fromText.FValue, ilSerializable);
  EXPECT_EQ(fromText.ToString(), u"1");
  EXPECT_EQ(fromText.ToDisplayString(), u"Serializable");

  TNCIsolationLevel empty = TNCIsolationLevel::Create(u"");
  EXPECT_TRUE(empty.FNull);
  EXPECT_EQ(empty.FValue, ilReadCommitted);
  EXPECT_EQ(empty.ToString(), u"");
  EXPECT_EQ(empty.ToDisplayString(), u"");

  // Null is not the default level, although both carry the value 0.
  EXPECT_NE(empty, TNCIsolationLevel(ilReadCommitted));
  EXPECT_EQ(empty, TNCIsolationLevel());
  EXPECT_EQ(TNCIsolationLevel(ilSerializable), fromText);

  TNCIsolationLevel level;
  level.FromInteger(NInteger::Of(513));
  EXPECT_FALSE(level.FNull);
  EXPECT_EQ(level.FValue, ilSerializable);
  level.FromInteger(NInteger::Null());
  EXPECT_TRUE(level.FNull);
  EXPECT_EQ(level.FValue, ilReadCommitted);
  level.FromString(u"0");
  EXPECT_EQ(level, TNCIsolationLevel(ilReadCommitted));
  EXPECT_THROW(level.FromString(u"one"), EConvertError);
}

class IsolationText : public ::testing::Test {
 protected:
  void TearDown() override { CurrentSQLServerType = stSQLServer; }
};

TEST_F(IsolationText, ByCurrentServerType) {
  struct Case {
    TSQLServerType type;
    const char16_t* readCommitted;
    const char16_t* serializable;
  };
  const Case cases[] = {
      {stSQLServer, u"set transaction isolation level read committed", u"set transaction isolation level snapshot"},
      {stOracle, u"alter session set isolation_level = read committed",
       u"alter session set isolation_level = serializable"},
      // A session-wide level: "set transaction" before "begin" would not take.
      {stPostgreSQL, u"set session characteristics as transaction isolation level read committed",
       u"set session characteristics as transaction isolation level serializable"},
  };
  for (const Case& c : cases) {
    CurrentSQLServerType = c.type;
    EXPECT_EQ(GetIsolationLevelText(ilReadCommitted), c.readCommitted);
    EXPECT_EQ(GetIsolationLevelText(ilSerializable), c.serializable);
  }
}

TEST_F(IsolationText, OtherServerTypesFailWithTheirName) {
  const std::pair<TSQLServerType, const char16_t*> cases[] = {
      {stSybase, u"Not supported SQL server type \"Sybase\" in function GetIsolationLevelText"},
      {stUnknown, u"Not supported SQL server type \"Unknown\" in function GetIsolationLevelText"},
      {stdBase, u"Not supported SQL server type \"dBase\" in function GetIsolationLevelText"},
      {stXML, u"Not supported SQL server type \"XML\" in function GetIsolationLevelText"}};
  for (auto [type, message] : cases) {
    CurrentSQLServerType = type;
    for (TCIsolationLevel level : {ilReadCommitted, ilSerializable}) {
      EXPECT_EQ(test::MessageOf([&] { GetIsolationLevelText(level); }), message);
    }
  }
}

}  // namespace
}  // namespace zo
