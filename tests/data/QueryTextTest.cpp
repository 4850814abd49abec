// Query settings that need no server: cursor choice by server kind,
// parameter filling, and the laid-out SQL text with its values.
#include <gtest/gtest.h>

#include "DataTestSupport.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

using test::RecordingConnection;

TEST(CursorProps, ByServerKind) {
  struct Case {
    TSQLServerType kind;
    bool withBlobs, smallBuffer;
    SQLULEN cursor;
    std::uint64_t buffer;
  };
  const Case cases[] = {
      {stSQLServer, false, true, SQL_CURSOR_FORWARD_ONLY, 1},
      {stSQLServer, true, false, SQL_CURSOR_STATIC, 30},
      {stSQLServer, false, false, SQL_CURSOR_FORWARD_ONLY, 30},
      {stSQLServer, true, true, SQL_CURSOR_FORWARD_ONLY, 1},
      {stOracle, true, false, SQL_CURSOR_STATIC, 30},
      {stPostgreSQL, true, false, SQL_CURSOR_STATIC, 30},
      {stPostgreSQL, false, true, SQL_CURSOR_FORWARD_ONLY, 1},
      {stSybase, true, false, SQL_CURSOR_FORWARD_ONLY, 1},
      {stSybase, false, false, SQL_CURSOR_FORWARD_ONLY, 30},
      {stSybase, false, true, SQL_CURSOR_FORWARD_ONLY, 1},
      {stdBase, true, false, SQL_CURSOR_FORWARD_ONLY, 1},
      {stdBase, false, false, SQL_CURSOR_FORWARD_ONLY, 30},
  };
  for (const Case& c : cases) {
    RecordingConnection connection(c.kind);
    TExReadQuery query;
    query.FillConnectionProps(&connection);
    TDBFieldsList fields;
    query.SetSQLText(u"select a from t", &fields, c.withBlobs, c.smallBuffer);
    EXPECT_EQ(query.CursorType(), c.cursor) << static_cast<int>(c.kind) << c.withBlobs << c.smallBuffer;
    EXPECT_EQ(query.BufferCount(), c.buffer) << static_cast<int>(c.kind) << c.withBlobs << c.smallBuffer;
    EXPECT_EQ(query.DBFieldsList(), &fields);
    EXPECT_EQ(query.CommandText(), u"select a from t");
  }
}

TEST(CursorProps, KindsWithoutCursorsFail) {
  for (auto [kind, number] : {std::pair{stUnknown, 0}, std::pair{stXML, 5}}) {
    RecordingConnection connection(kind);
    TExReadQuery query;
    query.FillConnectionProps(&connection);
    EXPECT_EQ(test::MessageOf([&] { query.SetSQLText(u"select a from t", nullptr, false, false); }),
              Format(u"Not supported function TExReadQuery.SetCursorProps for SQLServerType (%d)", {number}));
  }
}

TEST(FillParam, MapsFieldTypes) {
  const std::pair<ToDataType, SQLSMALLINT> cases[] = {
      {odtTinyint, SQL_TINYINT},        {odtSmallint, SQL_SMALLINT}, {odtInteger, SQL_INTEGER},
      {odtBigint, SQL_BIGINT},          {odtFloat, SQL_DOUBLE},      {odtDateTime, SQL_TYPE_TIMESTAMP},
      {odtNVarchar, SQL_WCHAR},         {odtNClob, SQL_WLONGVARCHAR}, {odtBlob, SQL_LONGVARBINARY}};
  for (auto [type, sqlType] : cases) {
    TExWriteQuery query;
    query.FillParam(0, type, u"");
    EXPECT_EQ(query.Params()->GetParam(0)->DataType(), sqlType) << DataTypeName(type).size();
  }
}

TEST(FillParam, AppendsBeyondTheCountAndReplacesBelowIt) {
  TExWriteQuery query;
  query.FillParam(0, odtNVarchar, u"a");
  query.FillParam(1, odtBigint, u"9007199254740993");
  query.FillParam(5, odtInteger, u"7");
  ASSERT_EQ(query.Params()->Count(), 3);
  EXPECT_EQ(query.Params()->GetParam(2)->DataType(), SQL_INTEGER);
  EXPECT_EQ(query.Params()->GetParam(2)->GetValue(), u"7");
  EXPECT_EQ(query.Params()->GetParam(1)->GetValue(), u"9007199254740993");

  query.FillParam(0, odtNVarchar, u"");
  EXPECT_TRUE(query.Params()->GetParam(0)->IsNull());
  EXPECT_EQ(query.Params()->GetParam(0)->DataType(), SQL_WCHAR);

  query.FillParam(1, odtDateTime, u"2024-02-29 13:45:10.123");
  EXPECT_EQ(query.Params()->GetParam(1)->DataType(), SQL_TYPE_TIMESTAMP);
  EXPECT_EQ(query.Params()->GetParam(1)->GetValue(), u"2024-02-29 13:45:10.123");

  const std::int64_t big = -5;
  query.FillParam(2, odtBigint, &big, sizeof big);
  EXPECT_EQ(query.Params()->GetParam(2)->GetValue(), u"-5");
  const std::uint8_t bytes[] = {0xFF, 0x00};
  query.FillParam(9, odtBlob, bytes, 2);
  EXPECT_EQ(query.Params()->GetParam(3)->GetValue(), u"0xFF00");
  query.FillParam(9, odtNVarchar, nullptr, 0);
  EXPECT_TRUE(query.Params()->GetParam(4)->IsNull());
  EXPECT_EQ(query.Params()->Count(), 5);
}

TEST(FillParam, UnknownTypeFailsBeforeAnythingChanges) {
  TExWriteQuery query;
  query.FillParam(0, odtInteger, u"1");
  for (int index : {0, 1}) {
    EXPECT_EQ(test::MessageOf([&] { query.FillParam(index, odtUnknown, u"2"); }),
              u"Not supported ParamType (Unknown) was found.");
    const int value = 3;
    EXPECT_THROW(query.FillParam(index, odtUnknown, &value, 4), Exception);
  }
  ASSERT_EQ(query.Params()->Count(), 1);
  EXPECT_EQ(query.Params()->GetParam(0)->GetValue(), u"1");
}

TEST(FillParam, BadTextRaisesTheConversionError) {
  TExWriteQuery query;
  EXPECT_THROW(query.FillParam(0, odtInteger, u"x"), EConvertError);
  EXPECT_EQ(test::MessageOf([&] { query.FillParam(1, odtBlob, u"12"); }), u"Invalid binary format (begin with \"12\")");
}

TEST(ParamName, IsTheMarker) { EXPECT_EQ(TExQuery::GetParamName(), u"?"); }

class SQLTextLayout : public ::testing::Test {
 protected:
  String LaidOut(const String& Text, std::initializer_list<std::pair<ToDataType, const char16_t*>> Params = {}) {
    TExReadQuery query;
    query.FillConnectionProps(&FConnection);
    query.SetSQLText(Text, nullptr, false, true);
    int index = 0;
    for (auto [type, value] : Params) query.FillParam(index++, type, value);
    return query.GetSQLText();
  }
  RecordingConnection FConnection{stSQLServer};
};

TEST_F(SQLTextLayout, LinesAndValues) {
  struct Case {
    const char16_t* text;
    std::vector<std::pair<ToDataType, const char16_t*>> params;
    const char16_t* expected;
  };
  const Case cases[] = {
      {u"select a from t left outer join u on u.x = t.x where t.y = ?",
       {{odtNVarchar, u"ab"}},
       u"select a \r\nfrom t \r\nleft outer join u on u.x = t.x \r\nwhere t.y = 'ab'"},
      // Upper case is not recognised, so the text stays on one line.
      {u"SELECT a from t left outer join u on u.x = t.x where t.y = ?",
       {{odtNVarchar, u"ab"}},
       u"SELECT a from t left outer join u on u.x = t.x where t.y = 'ab'"},
      {u"select a from t full outer join u on 1=1", {}, u"select a \r\nfrom t \r\nfull outer join u on 1=1"},
      // Other joins move to the next line with "join" alone; every outer join
      // with the whole word in front of "outer".
      {u"select a from t inner join u on 1=1 join v on 2=2 right outer join w on 3=3",
       {},
       u"select a \r\nfrom t inner \r\njoin u on 1=1 \r\njoin v on 2=2 \r\nright outer join w on 3=3"},
      {u"select a, count(*) from t where b > ? group by a having count(*) > ? order by a",
       {{odtInteger, u"5"}, {odtFloat, u"1.5"}},
       u"select a, count(*) \r\nfrom t \r\nwhere b > 5 \r\ngroup by a \r\nhaving count(*) > 1.5 \r\norder by a"},
      {u"insert into t (a, b, c, d) values (?, ?, ?, ?)",
       {{odtInteger, u"1"}, {odtNVarchar, u""}, {odtDateTime, u"2024-02-29 13:45:10.123"}, {odtBlob, u"0x0AFF"}},
       u"insert into t (a, b, c, d) \r\nvalues (1, null, '2024-02-29 13:45:10.123', 0x0AFF)"},
      {u"update t set a = ? from t, u where t.b = ?",
       {{odtNClob, u"it's"}, {odtBigint, u"-9"}},
       u"update t set a = 'it's' \r\nfrom t, u \r\nwhere t.b = -9"},
      {u"delete from t where a = ?", {{odtTinyint, u"200"}}, u"delete from t \r\nwhere a = 200"},
      // A missing keyword skips its split; a '?' inside a literal is a marker too.
      {u"select '?' from t order by 1", {{odtSmallint, u"3"}}, u"select '3' \r\nfrom t \r\norder by 1"},
      {u"exec p ?", {{odtInteger, u"4"}}, u"exec p 4"},
      {u"", {}, u""},
      {u"s", {}, u"s"},
  };
  for (const Case& c : cases) {
    TExReadQuery query;
    query.FillConnectionProps(&FConnection);
    query.SetSQLText(c.text, nullptr, false, true);
    int index = 0;
    for (auto [type, value] : c.params) query.FillParam(index++, type, value);
    EXPECT_EQ(query.GetSQLText(), c.expected) << index;
  }
}

TEST_F(SQLTextLayout, MoreMarkersThanParametersFail) {
  EXPECT_EQ(test::MessageOf<EListError>([&] {
              LaidOut(u"select a from t where a = ? and b = ?", {{odtInteger, u"1"}});
            }),
            Format(kSListIndexError, {1}));
}

}  // namespace
}  // namespace zo
