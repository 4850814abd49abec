// Parameters: their buffers from text and from memory, the collection's
// rules, and every type round-tripped through the server.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <functional>

#include "core/DateTime.h"
#include "core/Exception.h"
#include "core/StringUtils.h"
#include "odbc/ODBCParams.h"
#include "odbc/ODBCStatement.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"
#include "tests/odbc/TestDatabase.h"

namespace zo {
namespace {

using test::MessageOf;
using test::SuiteDatabase;

template <typename T>
T BufferAs(const TODBCParam& p) {
  T value;
  std::memcpy(&value, p.Buffer(), sizeof(value));
  return value;
}

TEST(ODBCParam, TextFormsFillTheBufferTheDriverReads) {
  TODBCParam p;
  p.SetDataType(SQL_SMALLINT);
  p.SetValue(u"70000");
  EXPECT_EQ(BufferAs<std::int16_t>(p), 4464);  // the low 16 bits
  EXPECT_EQ(p.BufferSize(), 2u);

  p.SetDataType(SQL_TINYINT);
  p.SetValue(u"300");
  EXPECT_EQ(BufferAs<std::uint8_t>(p), 44);
  EXPECT_EQ(p.GetValue(), u"44");

  // '.' whatever the process locale says.
  const char* old = std::setlocale(LC_NUMERIC, nullptr);
  const std::string saved = old ? old : "C";
  std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  p.SetDataType(SQL_DOUBLE);
  p.SetValue(u"1.5");
  EXPECT_EQ(BufferAs<double>(p), 1.5);
  EXPECT_EQ(p.GetValue(), u"1.5");
  std::setlocale(LC_NUMERIC, saved.c_str());

  p.SetDataType(SQL_TYPE_TIMESTAMP);
  p.SetValue(u"2024-02-29 13:45:10.123");
  const auto ts = BufferAs<SQL_TIMESTAMP_STRUCT>(p);
  EXPECT_EQ(ts.year, 2024);
  EXPECT_EQ(ts.month, 2);
  EXPECT_EQ(ts.day, 29);
  EXPECT_EQ(ts.hour, 13);
  EXPECT_EQ(ts.minute, 45);
  EXPECT_EQ(ts.second, 10);
  EXPECT_EQ(ts.fraction, 123000000u);
  EXPECT_EQ(p.Precision(), 23u);
  EXPECT_EQ(p.Scale(), 3);
  EXPECT_EQ(p.GetValue(), u"2024-02-29 13:45:10.123");

  p.SetDataType(SQL_LONGVARBINARY);
  p.SetValue(u"0xFF00");
  EXPECT_EQ(p.BufferSize(), 2u);
  EXPECT_EQ(p.Precision(), 2u);
  EXPECT_EQ(p.GetValue(), u"0xFF00");

  p.SetDataType(SQL_WCHAR);
  p.SetValue(u"añ😀");
  EXPECT_EQ(p.Precision(), 4u);
  EXPECT_EQ(p.BufferSize(), 4u * 2 + 2);
  EXPECT_EQ(BufferAs<char16_t>(p), u'a');
  EXPECT_EQ(p.GetValue(), u"añ😀");

  p.SetDataType(SQL_BIGINT);
  p.SetValue(u"-9223372036854775808");
  EXPECT_EQ(p.GetValue(), u"-9223372036854775808");
  p.SetDataType(SQL_INTEGER);
  p.SetValue(u"-2147483648");
  EXPECT_EQ(p.GetValue(), u"-2147483648");
}

TEST(ODBCParam, EmptyTextAndNoAddressMakeNull) {
  TODBCParam p;
  for (SQLSMALLINT type : {SQL_INTEGER, SQL_WCHAR, SQL_LONGVARBINARY}) {
    p.SetDataType(type);
    p.SetValue(type == SQL_LONGVARBINARY ? u"0x01" : u"1");
    EXPECT_FALSE(p.IsNull());
    p.SetValue(u"");
    EXPECT_TRUE(p.IsNull());
    EXPECT_EQ(p.GetValue(), u"");
    p.SetValue(nullptr, 10);
    EXPECT_TRUE(p.IsNull());
  }
}

TEST(ODBCParam, TextThatDoesNotConvertFailsWithTheConversionMessage) {
  struct Case {
    SQLSMALLINT type;
    const char16_t* text;
    const char16_t* message;
  };
  const Case cases[] = {
      {SQL_INTEGER, u"12a", u"'12a' is not a valid integer value"},
      {SQL_INTEGER, u"4294967296", u"'4294967296' is not a valid integer value"},
      {SQL_BIGINT, u"x", u"'x' is not a valid integer value"},
      {SQL_DOUBLE, u"1,5", u"'1,5' is not a valid floating point value"},
      {SQL_TYPE_TIMESTAMP, u"2024-02-30", u"Invalid DateTime format \"2024-02-30\""},
      {SQL_LONGVARBINARY, u"FF00", u"Invalid binary format (begin with \"FF\")"},
  };
  for (const Case& c : cases) {
    TODBCParam p;
    p.SetDataType(c.type);
    EXPECT_EQ(MessageOf([&] { p.SetValue(c.text); }), c.message);
    EXPECT_TRUE(p.IsNull());
  }
}

TEST(ODBCParam, OnlyTheNineTypes) {
  TODBCParam p;
  p.SetDataType(SQL_INTEGER);
  p.SetValue(u"5");
  EXPECT_EQ(MessageOf([&] { p.SetDataType(SQL_NUMERIC); }), u"Not supported ParamType (2) was found.");
  EXPECT_EQ(p.DataType(), 0);
  EXPECT_TRUE(p.IsNull());
  EXPECT_EQ(MessageOf([&] { p.SetDataType(SQL_CHAR); }), u"Not supported ParamType (1) was found.");
  EXPECT_EQ(p.ParamType(), SQL_PARAM_INPUT);
}

TEST(ODBCParams, AtMost1024Parameters) {
  TODBCParams params;
  for (int i = 0; i < 1023; ++i) params.CreateParam(SQL_INTEGER, IntToStr(i));
  EXPECT_NE(params.CreateParam(SQL_INTEGER, u"1023"), nullptr);  // the 1024th
  EXPECT_EQ(MessageOf([&] { params.CreateParam(SQL_INTEGER, u"1024"); }),
            u"Maximum parameter count reached ( 1024 ). ");
  EXPECT_EQ(params.Count(), 1024);
  EXPECT_EQ(params.GetParam(1023)->GetValue(), u"1023");
  EXPECT_EQ(MessageOf([&] { params.GetParam(1024); }), u"List index out of bounds (1024)");
  EXPECT_EQ(MessageOf([&] { params.GetParam(-1); }), u"List index out of bounds (-1)");
}

TEST(ODBCParams, MoveParamsPassesOwnership) {
  auto source = std::make_unique<TODBCParams>();
  TODBCParams target;
  for (const char16_t* v : {u"a", u"b", u"c"}) source->CreateParam(SQL_WCHAR, v);
  for (const char16_t* v : {u"x", u"y"}) target.CreateParam(SQL_WCHAR, v);
  TODBCParam* moved = source->GetParam(0);
  target.MoveParams(source.get());
  EXPECT_EQ(source->Count(), 0);
  source.reset();  // must not free the moved parameters
  ASSERT_EQ(target.Count(), 5);
  EXPECT_EQ(target.GetParam(2), moved);
  String all;
  for (int i = 0; i < target.Count(); ++i) all += target.GetParam(i)->GetValue();
  EXPECT_EQ(all, u"xyabc");
  target.MoveParams(nullptr);
  EXPECT_EQ(target.Count(), 5);
}

TEST(ODBCParams, AFailedCreateParamStaysInTheCollection) {
  TODBCParams params;
  EXPECT_EQ(MessageOf([&] { params.CreateParam(SQL_NUMERIC, u"1"); }), u"Not supported ParamType (2) was found.");
  ASSERT_EQ(params.Count(), 1);
  EXPECT_EQ(params.GetParam(0)->DataType(), 0);
  EXPECT_TRUE(params.GetParam(0)->IsNull());
  EXPECT_NE(MessageOf([&] { params.CreateParam(SQL_INTEGER, u"x"); }), u"<no error>");
  EXPECT_EQ(params.Count(), 2);
}

// ---------------------------------------------------------------------------
// Through the server

class ParamRoundTripTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZO_REQUIRE_TEST_DATABASE();
    db.SetConnectionString(SuiteDatabase()->ConnectionString());
    stmt.SetDatabase(&db);
    Run(u"create table if not exists params (i integer, s smallint, ti smallint, b bigint, d float8, "
        u"ts timestamp, w varchar(100), lw text, y bytea)");
    Run(u"delete from params");
  }
  void Run(const String& sql) {
    stmt.SetCommandText(sql);
    stmt.Execute();
  }
  static constexpr const char16_t* kInsert = u"insert into params values (?, ?, ?, ?, ?, ?, ?, ?, ?)";
  static constexpr SQLSMALLINT kTypes[9] = {SQL_INTEGER, SQL_SMALLINT, SQL_TINYINT, SQL_BIGINT, SQL_DOUBLE,
                                            SQL_TYPE_TIMESTAMP, SQL_WCHAR, SQL_WLONGVARCHAR, SQL_LONGVARBINARY};

  // The row read back, as the parameters' text forms.
  std::vector<String> ReadBack() {
    stmt.SetCommandText(u"select i, s, ti, b, d, ts, w, lw, y from params");
    stmt.Open();
    std::vector<String> values;
    for (int i = 0; i < stmt.FieldCount(); ++i) values.push_back(stmt.StringValue(i));
    EXPECT_TRUE((stmt.Next(), stmt.Eof()));
    stmt.Close();
    return values;
  }

  TODBCDatabase db;
  TODBCStatement stmt;
};

TEST_F(ParamRoundTripTest, EveryTypeFromText) {
  const std::vector<String> texts = {u"-2147483648",
                                     u"-32768",
                                     u"255",
                                     u"9223372036854775807",
                                     u"-1234.5625",
                                     u"2024-02-29 13:45:10.123",
                                     u"Grüße 😀 'quoted' ?",
                                     u"line1\r\nline2\ttab",
                                     u"0x00FF7F80"};
  stmt.SetCommandText(kInsert);
  for (int i = 0; i < 9; ++i) stmt.Params()->CreateParam(kTypes[i], texts[static_cast<std::size_t>(i)]);
  for (int i = 0; i < 9; ++i) EXPECT_EQ(stmt.Params()->GetParam(i)->GetValue(), texts[static_cast<std::size_t>(i)]);
  stmt.Execute();
  EXPECT_EQ(stmt.RowsAffected(), 1);
  stmt.Params()->Clear();
  EXPECT_EQ(ReadBack(), texts);
}

TEST_F(ParamRoundTripTest, EveryTypeFromMemory) {
  const std::int32_t i = 2147483647;
  const std::int16_t s = -2;
  const std::uint8_t ti = 200;
  const std::int64_t b = -9223372036854775807 - 1;
  const double d = 0.1;
  const TDateTime ts = EncodeDateTime(1899, 12, 29, 6, 0, 0, 1);  // before day 0
  const String w = u"\U0001F600 surrogates";
  const String lw(70000, u'ł');
  Bytes y(256);
  for (int k = 0; k < 256; ++k) y[static_cast<std::size_t>(k)] = static_cast<std::uint8_t>(k);

  stmt.SetCommandText(kInsert);
  TODBCParams& p = *stmt.Params();
  p.CreateParam(SQL_INTEGER, &i, 4);
  p.CreateParam(SQL_SMALLINT, &s, 2);
  p.CreateParam(SQL_TINYINT, &ti, 1);
  p.CreateParam(SQL_BIGINT, &b, 8);
  p.CreateParam(SQL_DOUBLE, &d, 8);
  p.CreateParam(SQL_TYPE_TIMESTAMP, &ts, 8);
  p.CreateParam(SQL_WCHAR, w.data(), static_cast<std::int32_t>(w.size() * 2));
  p.CreateParam(SQL_WLONGVARCHAR, lw.data(), static_cast<std::int32_t>(lw.size() * 2));
  p.CreateParam(SQL_LONGVARBINARY, y.data(), static_cast<std::int32_t>(y.size()));
  EXPECT_EQ(p.GetParam(5)->GetValue(), u"1899-12-29 06:00:00.001");
  stmt.Execute();
  p.Clear();

  stmt.SetCommandText(u"select i, s, ti, b, d, ts, w, lw, y from params");
  stmt.Open();
  EXPECT_EQ(stmt.IntegerValue(0), i);
  EXPECT_EQ(stmt.SmallintValue(1), s);
  EXPECT_EQ(stmt.IntegerValue(2), 200);
  EXPECT_EQ(stmt.BigintValue(3), b);
  EXPECT_EQ(stmt.FloatValue(4), d);
  EXPECT_EQ(stmt.StringValue(5), u"1899-12-29 06:00:00.001");
  EXPECT_EQ(stmt.DatetimeValue(5), ts);
  EXPECT_EQ(stmt.StringValue(6), w);
  EXPECT_EQ(stmt.StringValue(7), lw);
  EXPECT_EQ(stmt.BinaryValue(8), y);
}

// A varchar(n) counts characters, so n characters outside the Basic
// Multilingual Plane take 2n units on the way in and out. A text that holds
// a NUL character is refused: the driver would store it cut at the NUL.
TEST_F(ParamRoundTripTest, TextsTravelWholeBothWays) {
  String smiles;
  for (int i = 0; i < 100; ++i) smiles += u"\U0001F600";
  stmt.SetCommandText(u"insert into params (i, w, lw) values (?, ?, ?)");
  const std::int32_t one = 1;
  stmt.Params()->CreateParam(SQL_INTEGER, &one, 4);
  stmt.Params()->CreateParam(SQL_WCHAR, smiles);
  stmt.Params()->CreateParam(SQL_WLONGVARCHAR, smiles + smiles);
  stmt.Execute();
  stmt.Params()->Clear();
  stmt.SetCommandText(u"select w, char_length(w), lw from params where i = 1");
  stmt.Open();
  EXPECT_TRUE(stmt.StringValue(0) == smiles);
  EXPECT_EQ(stmt.IntegerValue(1), 100);
  EXPECT_TRUE(stmt.StringValue(2) == smiles + smiles);
  stmt.Close();

  const String withNul(u"ab\0cd", 5);
  for (const SQLSMALLINT type : {SQL_WCHAR, SQL_WLONGVARCHAR}) {
    for (const bool fromText : {true, false}) {
      SCOPED_TRACE(std::to_string(type) + (fromText ? " from text" : " from memory"));
      stmt.SetCommandText(u"insert into params (i, w) values (2, ?)");
      if (fromText)
        stmt.Params()->CreateParam(type, withNul);
      else
        stmt.Params()->CreateParam(type, withNul.data(), static_cast<std::int32_t>(withNul.size() * 2));
      EXPECT_EQ(MessageOf([&] { stmt.Execute(); }),
                u"Text parameter 1 holds a NUL character, which the ODBC driver would cut the text at.");
      stmt.Params()->Clear();
    }
  }
  stmt.SetCommandText(u"select count(*) from params where i = 2");
  stmt.Open();
  EXPECT_EQ(stmt.IntegerValue(0), 0) << "a text was stored cut at its NUL";
}

TEST_F(ParamRoundTripTest, NullParametersOfEveryType) {
  stmt.SetCommandText(kInsert);
  for (SQLSMALLINT type : kTypes) stmt.Params()->CreateParam(type, u"");
  stmt.Execute();
  stmt.Params()->Clear();
  stmt.SetCommandText(u"select count(*) from params where num_nulls(i, s, ti, b, d, ts, w, lw, y) = 9");
  stmt.Open();
  EXPECT_EQ(stmt.IntegerValue(0), 1);
}

TEST_F(ParamRoundTripTest, ParametersAreReleasedAfterEveryExecution) {
  // The same statement runs with a new collection each time; a failed
  // execution releases its bindings too.
  stmt.SetCommandText(u"insert into params (i) values (?)");
  for (int n = 1; n <= 3; ++n) {
    stmt.Params()->Clear();
    stmt.Params()->CreateParam(SQL_INTEGER, IntToStr(n));
    stmt.Execute();
  }
  stmt.Params()->Clear();
  stmt.Params()->CreateParam(SQL_WCHAR, u"not a number");
  EXPECT_NE(MessageOf([&] { stmt.Execute(); }), u"<no error>");
  stmt.Params()->Clear();
  stmt.SetCommandText(u"select sum(i) from params");
  stmt.Open();
  EXPECT_EQ(stmt.IntegerValue(0), 6);
}

TEST_F(ParamRoundTripTest, AParameterLeftUntypedByAFailedCreateIsBoundAsNull) {
  stmt.SetCommandText(u"insert into params (i, s) values (?, ?)");
  stmt.Params()->CreateParam(SQL_INTEGER, u"7");
  EXPECT_NE(MessageOf([&] { stmt.Params()->CreateParam(SQL_NUMERIC, u"1"); }), u"<no error>");
  // Binding it is the driver's call; whatever it answers, nothing leaks and
  // the statement stays usable.
  const String message = MessageOf([&] { stmt.Execute(); });
  stmt.Params()->Clear();
  stmt.SetCommandText(u"select count(*) from params where i = 7 and s is null");
  stmt.Open();
  EXPECT_EQ(stmt.IntegerValue(0), message == u"<no error>" ? 1 : 0) << ToUtf8(message);
}

}  // namespace
}  // namespace zo
