// Statements against the test server: cursors in rowsets, long values,
// every getter over every mapped column type, execution and its messages.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <regex>

#include "core/DateTime.h"
#include "core/Exception.h"
#include "core/StringUtils.h"
#include "odbc/ODBCDatabase.h"
#include "odbc/ODBCStatement.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"
#include "tests/odbc/TestDatabase.h"

namespace zo {
namespace {

using test::MessageOf;
using test::SuiteDatabase;

// Exposes the rowset bookkeeping and counts the error hook.
class TProbeStatement : public TODBCStatement {
 public:
  using TODBCStatement::TODBCStatement;
  std::uint64_t RowsInRowset() const { return FActRecordCount; }
  std::uint64_t RowInRowset() const { return FActRecordIndex; }
  std::uint64_t RowSize() const { return FFixBufferSize; }
  int FixFieldCount() const { return FFixFieldCount; }
  int FloatFieldCount() const { return FFloatFieldCount; }
  int DoErrorCalls = 0;

 protected:
  void DoError() override { ++DoErrorCalls; }
};

class ODBCStatementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ZO_REQUIRE_TEST_DATABASE();
    Connect(String());
  }
  void Connect(const String& extra) {
    db = std::make_unique<TODBCDatabase>();
    db->SetConnectionString(SuiteDatabase()->ConnectionString(extra));
    stmt = std::make_unique<TProbeStatement>();
    stmt->SetDatabase(db.get());
  }
  void Exec(const String& sql) {
    stmt->SetCommandText(sql);
    stmt->Execute();
  }
  void Open(const String& sql) {
    stmt->SetCommandText(sql);
    stmt->Open();
  }

  std::unique_ptr<TODBCDatabase> db;
  std::unique_ptr<TProbeStatement> stmt;
};

// ---------------------------------------------------------------------------
// Buffer layout

TEST_F(ODBCStatementTest, ColumnsAreLaidOutAsPackedSlotsWithIndicators) {
  Open(u"select 1::integer as i, 2::smallint as s, 3::bigint as b, 4.5::float8 as d, "
       u"now()::timestamp as ts, 'abc'::varchar(10) as v, 'long'::text as t, '\\x01'::bytea as y");
  struct Expected {
    const char16_t* name;
    SQLSMALLINT dataType;
    SQLSMALLINT cType;
    std::int32_t bufferSize;
  };
  const Expected expected[] = {
      {u"i", SQL_INTEGER, SQL_C_LONG, 4},
      {u"s", SQL_SMALLINT, SQL_C_SHORT, 2},
      {u"b", SQL_BIGINT, SQL_C_SBIGINT, 8},
      {u"d", SQL_DOUBLE, SQL_C_DOUBLE, 8},
      {u"ts", SQL_TYPE_TIMESTAMP, SQL_C_TYPE_TIMESTAMP, 16},
      {u"v", SQL_WCHAR, SQL_C_WCHAR, 10 * 2 + 2},
      {u"t", SQL_WLONGVARCHAR, SQL_C_WCHAR, 8},
      {u"y", SQL_LONGVARBINARY, SQL_C_BINARY, 8},
  };
  ASSERT_EQ(stmt->FieldCount(), 8);
  std::uint64_t offset = 0;
  for (int i = 0; i < 8; ++i) {
    const TSQLFieldDef& def = stmt->FieldDef(i);
    EXPECT_EQ(def.FieldName, expected[i].name);
    EXPECT_EQ(def.DataType, expected[i].dataType) << i;
    EXPECT_EQ(def.CDataType, expected[i].cType) << i;
    EXPECT_EQ(def.BufferSize, expected[i].bufferSize) << i;
    EXPECT_EQ(def.Offset, offset) << i;
    offset += static_cast<std::uint64_t>(def.BufferSize) + 8;
  }
  EXPECT_EQ(stmt->RowSize(), offset);
  EXPECT_EQ(stmt->FixFieldCount(), 6);
  EXPECT_EQ(stmt->FloatFieldCount(), 2);
  EXPECT_EQ(stmt->StringValue(6), u"long");
  EXPECT_EQ(stmt->BinaryValue(7), Bytes{1});
  EXPECT_TRUE(stmt->StmtState().Contains(ossOpened));
  stmt->Close();
  EXPECT_TRUE(stmt->StmtState().Empty());
  EXPECT_TRUE(stmt->IsEmpty());
  EXPECT_EQ(stmt->FieldCount(), 0);
}

// ---------------------------------------------------------------------------
// Getters over every mapped type

// One row of every mapped type; BoolsAsChar=0 makes boolean a SQL_BIT column,
// which is read as SQL_TINYINT.
class GetterTest : public ODBCStatementTest {
 protected:
  void SetUp() override {
    ZO_REQUIRE_TEST_DATABASE();
    Connect(u"BoolsAsChar=0");
  }
  void OpenRow(const String& values) {
    Open(u"select i, s, bo, b, d, ts, w, t, y from (values " + values +
         u") as v(i, s, bo, b, d, ts, w, t, y)");
  }
  static constexpr const char16_t* kTypes =
      u"(null::integer, null::smallint, null::boolean, null::bigint, null::float8, null::timestamp, "
      u"null::varchar(30), null::text, null::bytea)";
};

TEST_F(GetterTest, EveryGetterOverEveryType) {
  OpenRow(Format(u"%s, (65536, -2, true, 4294967297, -2.7, '2024-02-29 13:45:10.123', "
                 u"'2001-02-03 04:05:06.789', 'long text', '\\xff00'::bytea)",
                 {String(kTypes)}));
  stmt->Next();  // past the typing row of NULLs
  const int kI = 0, kS = 1, kBo = 2, kB = 3, kD = 4, kTs = 5, kW = 6, kT = 7, kY = 8;
  ASSERT_EQ(stmt->FieldDef(kBo).DataType, SQL_TINYINT);
  ASSERT_EQ(stmt->FieldDef(kW).DataType, SQL_WCHAR);
  const TDateTime ts = EncodeDateTime(2024, 2, 29, 13, 45, 10, 123);

  // Text of every type.
  EXPECT_EQ(stmt->StringValue(kI), u"65536");
  EXPECT_EQ(stmt->StringValue(kS), u"-2");
  EXPECT_EQ(stmt->StringValue(kBo), u"1");
  EXPECT_EQ(stmt->StringValue(kB), u"4294967297");
  EXPECT_EQ(stmt->StringValue(kD), u"-2.7");
  EXPECT_EQ(stmt->StringValue(kTs), u"2024-02-29 13:45:10.123");
  EXPECT_EQ(stmt->StringValue(kW), u"2001-02-03 04:05:06.789");
  EXPECT_EQ(stmt->StringValue(kT), u"long text");
  EXPECT_EQ(stmt->StringValue(kY), u"0xFF00");

  // Narrowing keeps the low bits; doubles are truncated toward zero.
  EXPECT_EQ(stmt->SmallintValue(kI), 0);
  EXPECT_FALSE(stmt->BitValue(kI, true));  // low byte of 65536 is 0
  EXPECT_EQ(stmt->IntegerValue(kB), 1);
  EXPECT_EQ(stmt->SmallintValue(kB), 1);
  EXPECT_EQ(stmt->BigintValue(kD), -2);
  EXPECT_EQ(stmt->IntegerValue(kD), -2);
  EXPECT_EQ(stmt->SmallintValue(kD), -2);
  EXPECT_TRUE(stmt->BitValue(kD));
  EXPECT_EQ(stmt->IntegerValue(kS), -2);
  EXPECT_EQ(stmt->BigintValue(kS), -2);
  EXPECT_EQ(stmt->SmallintValue(kBo), 1);
  EXPECT_EQ(stmt->BigintValue(kBo), 1);
  EXPECT_TRUE(stmt->BitValue(kBo));
  EXPECT_EQ(stmt->BigintValue(kB), 4294967297);
  EXPECT_DOUBLE_EQ(stmt->FloatValue(kI), 65536.0);
  EXPECT_DOUBLE_EQ(stmt->FloatValue(kD), -2.7);
  EXPECT_DOUBLE_EQ(stmt->FloatValue(kBo), 1.0);

  // Date-times from timestamps and from text.
  EXPECT_NEAR(stmt->DatetimeValue(kTs), ts, 1e-9);
  EXPECT_NEAR(stmt->FloatValue(kTs), ts, 1e-9);
  EXPECT_NEAR(stmt->DatetimeValue(kW), EncodeDateTime(2001, 2, 3, 4, 5, 6, 789), 1e-9);
  EXPECT_EQ(stmt->BinaryValue(kY), (Bytes{0xFF, 0x00}));

  for (int i = 0; i < stmt->FieldCount(); ++i) EXPECT_FALSE(stmt->IsNullValue(i)) << i;

  // Types a getter refuses, with its message.
  struct Refusal {
    std::function<void()> call;
    const char16_t* format;
    int field;
  };
  const Refusal refusals[] = {
      {[&] { stmt->BitValue(kTs); }, u"Not supported Bit DataType (%d) was found for Field \"%s\".", kTs},
      {[&] { stmt->SmallintValue(kW); }, u"Not supported Smallint DataType (%d) was found for Field \"%s\".", kW},
      {[&] { stmt->IntegerValue(kT); }, u"Not supported Integer DataType (%d) was found for Field \"%s\".", kT},
      {[&] { stmt->BigintValue(kY); }, u"Not supported Bigint DataType (%d) was found for Field \"%s\".", kY},
      {[&] { stmt->FloatValue(kW); }, u"Not supported Float DataType (%d) was found for Field \"%s\".", kW},
      {[&] { stmt->DatetimeValue(kI); }, u"Not supported Date BufferType (%d) was found for Field \"%s\".", kI},
      {[&] { stmt->DatetimeValue(kD); }, u"Not supported Date BufferType (%d) was found for Field \"%s\".", kD},
      {[&] { stmt->DatetimeValue(kT); }, u"Not supported Date BufferType (%d) was found for Field \"%s\".", kT},
      {[&] { stmt->BinaryValue(kW); }, u"Not supported Binary DataType (%d) was found for Field \"%s\".", kW},
      {[&] { stmt->BinaryValue(kT); }, u"Not supported Binary DataType (%d) was found for Field \"%s\".", kT},
  };
  for (const Refusal& r : refusals) {
    const TSQLFieldDef& def = stmt->FieldDef(r.field);
    EXPECT_EQ(MessageOf(r.call), Format(r.format, {static_cast<int>(def.DataType), def.FieldName}));
  }
}

TEST_F(GetterTest, NullAndEmptyValuesGiveDefaults) {
  OpenRow(Format(u"%s, (1, 1, true, 1, 1, '2000-01-01', '', '', ''::bytea)", {String(kTypes)}));
  // The row of NULLs.
  for (int i = 0; i < stmt->FieldCount(); ++i) {
    EXPECT_TRUE(stmt->IsNullValue(i)) << i;
    EXPECT_EQ(stmt->StringValue(i), u"") << i;
  }
  EXPECT_TRUE(stmt->BitValue(0, true));
  EXPECT_EQ(stmt->SmallintValue(1, 7), 7);
  EXPECT_EQ(stmt->IntegerValue(0, -9), -9);
  EXPECT_EQ(stmt->BigintValue(3, 42), 42);
  EXPECT_EQ(stmt->FloatValue(4), 0.0);
  EXPECT_EQ(stmt->DatetimeValue(5, 3.5), 3.5);
  EXPECT_EQ(stmt->DatetimeValue(6, 4.5), 4.5);  // a NULL text column gives the default
  EXPECT_EQ(stmt->BinaryValue(8), Bytes());

  // Empty text and empty binary values read as NULL too.
  stmt->Next();
  for (int i : {6, 7, 8}) {
    EXPECT_TRUE(stmt->IsNullValue(i)) << i;
    EXPECT_EQ(stmt->StringValue(i), u"") << i;
  }
  EXPECT_EQ(stmt->DatetimeValue(6, 4.5), 4.5);
  EXPECT_EQ(stmt->BinaryValue(8), Bytes());
  EXPECT_FALSE(stmt->IsNullValue(0));
}

TEST_F(ODBCStatementTest, NumbersDatesAndCharColumnsOfTheServer) {
  Open(u"select 1234567890.1234::decimal(19,4) as n, 0.1::real as r, 1e300::float8 as f, "
       u"'2023-12-31'::date as dt, '2024-01-01 23:59:59.999999'::timestamp as ts, "
       u"'ab'::char(4) as c, 'Grüße 😀'::varchar(12) as v, 'true'::boolean as bo");
  ASSERT_EQ(stmt->FieldDef(0).DataType, SQL_DOUBLE);
  EXPECT_EQ(stmt->StringValue(u"n"), u"1234567890.1234");
  EXPECT_EQ(stmt->FieldDef(1).DataType, SQL_DOUBLE);
  EXPECT_NEAR(stmt->FloatValue(u"r"), 0.1, 1e-7);
  EXPECT_EQ(stmt->FloatValue(u"f"), 1e300);
  EXPECT_EQ(stmt->StringValue(u"dt"), u"2023-12-31");
  EXPECT_EQ(stmt->DatetimeValue(u"dt"), EncodeDate(2023, 12, 31));
  // 999999 microseconds are 999 milliseconds: truncated, not rounded up.
  EXPECT_EQ(stmt->StringValue(u"ts"), u"2024-01-01 23:59:59.999");
  EXPECT_EQ(stmt->StringValue(u"c"), u"ab  ");
  EXPECT_EQ(stmt->StringValue(u"v"), u"Grüße 😀");
  // Without BoolsAsChar=0 a boolean is text.
  EXPECT_EQ(stmt->FieldDef(7).DataType, SQL_WCHAR);
  EXPECT_EQ(stmt->StringValue(u"bo"), u"1");
}

TEST_F(ODBCStatementTest, FieldLookupsAreExactAndChecked) {
  Open(u"select 1 as \"Name\", 2 as \"NAME\", 3 as \"Name\"");
  EXPECT_EQ(stmt->FieldIndex(u"Name"), 0);
  EXPECT_EQ(stmt->FieldIndex(u"NAME"), 1);
  EXPECT_EQ(MessageOf([&] { stmt->FieldIndex(u"name"); }), u"Field \"name\" not exist");
  EXPECT_EQ(stmt->FieldName(1), u"NAME");
  EXPECT_EQ(stmt->IntegerValue(u"NAME"), 2);
  for (int bad : {-1, 3})
    for (const auto& call : std::vector<std::function<void()>>{
             [&] { stmt->FieldName(bad); }, [&] { stmt->StringValue(bad); }, [&] { stmt->IntegerValue(bad); },
             [&] { stmt->IsNullValue(bad); }, [&] { stmt->BinaryValue(bad); }})
      EXPECT_EQ(MessageOf(call), Format(u"Field (Index = %d) not found.", {bad}));
}

TEST_F(ODBCStatementTest, UnsupportedColumnTypesFailOnOpen) {
  struct Case {
    const char16_t* sql;
    int type;
  };
  for (const Case& c : {Case{u"select 1 as a, '12:00'::time as t", SQL_TYPE_TIME},
                        Case{u"select gen_random_uuid() as u", SQL_GUID}}) {
    stmt->SetCommandText(c.sql);
    EXPECT_EQ(MessageOf([&] { stmt->Open(); }), Format(u"Not supported InputDataType (%d) was found.", {c.type}));
    EXPECT_TRUE(stmt->StmtState().Empty());
    EXPECT_EQ(stmt->DoErrorCalls, 0);
  }
  // The statement is fine for the next text.
  Open(u"select 5 as five");
  EXPECT_EQ(stmt->IntegerValue(0), 5);
}

TEST_F(ODBCStatementTest, LongColumnBeforeFixedColumnFailsWithCountsAndText) {
  const String sql = u"select 1 as a, 'x'::text as t, 2 as b";
  stmt->SetCommandText(sql);
  EXPECT_EQ(MessageOf([&] { stmt->Open(); }),
            u"Internal error - LongDataType used before ShortDataType (FixFieldCount = 1 ; FloatFieldCount = 1)\r\n" +
                sql);
  EXPECT_TRUE(stmt->StmtState().Empty());
  EXPECT_EQ(stmt->DoErrorCalls, 0);
}

TEST_F(ODBCStatementTest, ResultWithoutColumnsOrRows) {
  stmt->SetCommandText(u"select from generate_series(1, 3)");
  EXPECT_EQ(MessageOf([&] { stmt->Open(); }), u"Cursor opened with no columns");
  EXPECT_TRUE(stmt->StmtState().Empty());

  Open(u"select 1 as a where false");
  EXPECT_TRUE(stmt->IsEmpty());
  EXPECT_TRUE(stmt->Eof());
  EXPECT_EQ(stmt->FieldCount(), 1);
  EXPECT_EQ(MessageOf([&] { stmt->IntegerValue(0); }), u"There is no current record.");
  EXPECT_EQ(MessageOf([&] { stmt->Next(); }), u"FetchNext can be called only after FetchFirst and before end");
}

// ---------------------------------------------------------------------------
// Rowsets

class RowsetTest : public ODBCStatementTest, public ::testing::WithParamInterface<int> {};

TEST_P(RowsetTest, SixtyFiveRowsWithLongValuesInOrder) {
  const std::uint64_t size = static_cast<std::uint64_t>(GetParam());
  stmt->SetBufferCount(size);
  Open(u"select n, ('row ' || n)::varchar(10) as label, repeat('x', n) as t, decode(lpad(to_hex(n), 2, '0'), 'hex') as y "
       u"from generate_series(1, 65) as n order by n");
  ASSERT_EQ(stmt->FloatFieldCount(), 2);
  std::vector<std::uint64_t> rowsetSizes;
  int row = 0;
  while (!stmt->Eof()) {
    ++row;
    if (stmt->RowInRowset() == 0) rowsetSizes.push_back(stmt->RowsInRowset());
    ASSERT_EQ(stmt->IntegerValue(0), row);
    ASSERT_EQ(stmt->StringValue(1), u"row " + IntToStr(row));
    ASSERT_EQ(stmt->StringValue(2), String(static_cast<std::size_t>(row), u'x'));
    ASSERT_EQ(stmt->BinaryValue(3), Bytes{static_cast<std::uint8_t>(row)});
    stmt->Next();
  }
  EXPECT_EQ(row, 65);
  if (size == 30) {
    EXPECT_EQ(rowsetSizes, (std::vector<std::uint64_t>{30, 30, 5}));
  }
  if (size == 1) {
    EXPECT_EQ(rowsetSizes.size(), 65u);
  }
  EXPECT_FALSE(stmt->IsEmpty());

  // After the end no row of an earlier rowset comes back.
  EXPECT_EQ(MessageOf([&] { stmt->Next(); }), u"FetchNext can be called only after FetchFirst and before end");
  EXPECT_EQ(MessageOf([&] { stmt->StringValue(1); }), u"There is no current record.");

  // First runs the text again.
  stmt->First();
  EXPECT_EQ(stmt->IntegerValue(0), 1);
  EXPECT_EQ(stmt->StringValue(2), u"x");
}

INSTANTIATE_TEST_SUITE_P(BufferCounts, RowsetTest, ::testing::Values(30, 1, 7));

TEST_F(ODBCStatementTest, ForwardOnlyCursorsFetchAlike) {
  stmt->SetCursorType(SQL_CURSOR_FORWARD_ONLY);
  Open(u"select n, repeat('y', n) as t from generate_series(1, 40) as n order by n");
  int row = 0;
  for (; !stmt->Eof(); stmt->Next()) {
    ++row;
    ASSERT_EQ(stmt->StringValue(1).size(), static_cast<std::size_t>(row));
  }
  EXPECT_EQ(row, 40);
}

TEST_F(ODBCStatementTest, ChangingBufferCountClosesTheCursor) {
  Open(u"select 1 as a");
  stmt->SetBufferCount(5);
  EXPECT_TRUE(stmt->IsEmpty());
  EXPECT_EQ(stmt->BufferCount(), 5u);
  stmt->SetBufferCount(0);
  EXPECT_EQ(stmt->BufferCount(), 1u);
}

// ---------------------------------------------------------------------------
// Long values

TEST_F(ODBCStatementTest, LongTextAndBinaryValuesOfSeveralMegabytesAreExact) {
  Exec(u"create table if not exists long_values (id integer, t text, y bytea)");
  Exec(u"delete from long_values");

  String text;
  const String pattern = u"abcÄöü€😀\U0010FFFF-";
  while (text.size() < 3 * 1024 * 1024) text += pattern;
  Bytes bytes(5 * 1024 * 1024 + 3);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i * 7919) >> 3);

  std::int32_t id = 1;
  stmt->SetCommandText(u"insert into long_values values (?, ?, ?)");
  stmt->Params()->CreateParam(SQL_INTEGER, &id, 4);
  stmt->Params()->CreateParam(SQL_WLONGVARCHAR, text.data(), static_cast<std::int32_t>(text.size() * 2));
  stmt->Params()->CreateParam(SQL_LONGVARBINARY, bytes.data(), static_cast<std::int32_t>(bytes.size()));
  stmt->Execute();
  EXPECT_EQ(stmt->RowsAffected(), 1);
  stmt->Params()->Clear();

  Open(u"select id, t, y from long_values");
  EXPECT_EQ(stmt->IntegerValue(0), 1);
  const String read = stmt->StringValue(1);
  EXPECT_EQ(read.size(), text.size());
  EXPECT_TRUE(read == text);
  const Bytes readBytes = stmt->BinaryValue(2);
  EXPECT_EQ(readBytes.size(), bytes.size());
  EXPECT_TRUE(readBytes == bytes);
}

TEST_F(ODBCStatementTest, UnlimitedVarcharColumnIsReadAsLongText) {
  // With MaxVarcharSize=0 the driver reports an unbounded varchar with size 0.
  Connect(u"MaxVarcharSize=0");
  Open(u"select repeat('z', 100000)::varchar as v");
  ASSERT_EQ(stmt->FieldDef(0).DataType, SQL_WLONGVARCHAR) << "reported size " << stmt->FieldDef(0).Precision;
  EXPECT_EQ(stmt->StringValue(0), String(100000, u'z'));
}

// Fixed text slots hold column size x 2 + 2 bytes. The driver counts a
// varchar(n) in characters, so n characters outside the Basic Multilingual
// Plane need twice the room, and it reports an unbounded varchar as 255
// characters whatever it holds: either way it cuts the value to the slot
// (01004). Every such value must come back whole, in every row of a rowset,
// with long columns after it still in step.
TEST_F(ODBCStatementTest, TextsLongerThanTheirSlotAreReadWhole) {
  Exec(u"create table if not exists cut_values (id integer, v3 varchar(3), vu varchar, y bytea)");
  Exec(u"delete from cut_values");
  const String smile = u"\U0001F600";
  const std::vector<std::pair<String, String>> values = {
      {u"", String(254, u'x')},
      {u"abc", String(255, u'x')},                   // both fill their slot exactly
      {smile, String(256, u'x')},                    // one unit and one character over
      {u"ab" + smile, String(300, u'y')},            // four units in a slot of three
      {smile + smile + smile, String(1, u'a') + String(254, u'b') + smile},
      {u"a" + smile + smile, String(255, char16_t(0x00E9))},
      {u"a", [&] { String t; for (int i = 0; i < 255; ++i) t += smile; return t; }()},
  };
  stmt->SetCommandText(u"insert into cut_values values (?, ?, ?, ?)");
  for (std::size_t i = 0; i < values.size(); ++i) {
    const auto id = static_cast<std::int32_t>(i);
    const std::uint8_t byte = static_cast<std::uint8_t>(0xA0 + i);
    stmt->Params()->Clear();
    stmt->Params()->CreateParam(SQL_INTEGER, &id, 4);
    stmt->Params()->CreateParam(SQL_WCHAR, values[i].first);
    stmt->Params()->CreateParam(SQL_WCHAR, values[i].second);
    stmt->Params()->CreateParam(SQL_LONGVARBINARY, &byte, 1);
    stmt->Execute();
  }
  stmt->Params()->Clear();

  struct Variant {
    const char16_t* Options;
    std::uint64_t BufferCount;
  };
  for (const Variant& v : {Variant{u"", 30}, Variant{u"", 1}, Variant{u"", 3}, Variant{u"UseDeclareFetch=1;Fetch=2", 30}}) {
    SCOPED_TRACE(ToUtf8(v.Options) + " rowset " + std::to_string(v.BufferCount));
    Connect(v.Options);
    stmt->SetBufferCount(v.BufferCount);
    Open(u"select id, v3, vu, y from cut_values order by id");
    ASSERT_EQ(stmt->FieldDef(1).BufferSize, 8);
    ASSERT_EQ(stmt->FieldDef(2).BufferSize, 512);
    std::size_t row = 0;
    for (; !stmt->Eof(); stmt->Next(), ++row) {
      ASSERT_LT(row, values.size());
      EXPECT_EQ(stmt->IntegerValue(0), static_cast<int>(row));
      EXPECT_TRUE(stmt->StringValue(1) == values[row].first) << row;
      EXPECT_TRUE(stmt->StringValue(2) == values[row].second) << row << ": " << stmt->StringValue(2).size();
      EXPECT_EQ(stmt->BinaryValue(3), Bytes{static_cast<std::uint8_t>(0xA0 + row)});
    }
    EXPECT_EQ(row, values.size());
    stmt->Close();
  }
}

// ---------------------------------------------------------------------------
// Command text and execution

TEST_F(ODBCStatementTest, CommandTextUpTo65536Characters) {
  // A select of exactly 65,536 characters runs.
  const String head = u"select '";
  const String tail = u"' as v";
  const String longest = head + String(65536 - head.size() - tail.size(), u'q') + tail;
  ASSERT_EQ(longest.size(), 65536u);
  Open(longest);
  EXPECT_EQ(stmt->StringValue(0).size(), 65536 - head.size() - tail.size());

  EXPECT_EQ(MessageOf([&] { stmt->SetCommandText(longest + u" "); }), u"Maximum command size reached ( 65536 ). ");
  EXPECT_EQ(stmt->CommandText(), longest);
  EXPECT_TRUE(stmt->IsEmpty());  // the setter closed the cursor first
}

TEST_F(ODBCStatementTest, ExecuteReportsRowsAffectedAndFreesTheHandle) {
  Exec(u"create table if not exists affected (n integer)");
  Exec(u"delete from affected");
  Exec(u"insert into affected select generate_series(1, 3)");
  EXPECT_EQ(stmt->RowsAffected(), 3);
  EXPECT_TRUE(stmt->StmtState().Empty());
  Exec(u"update affected set n = n + 1 where n > 1");
  EXPECT_EQ(stmt->RowsAffected(), 2);
  Exec(u"delete from affected where n > 100");
  EXPECT_EQ(stmt->RowsAffected(), 0);
}

TEST_F(ODBCStatementTest, BatchExecuteTurnsInformationalMessagesIntoFailures) {
  const String sql = u"do $$ begin raise notice 'first notice'; raise notice 'second notice'; end $$";
  stmt->SetCommandText(sql);
  stmt->Execute(false);
  EXPECT_EQ(stmt->DoErrorCalls, 0);

  const String message = MessageOf([&] { stmt->Execute(true); });
  EXPECT_NE(message.find(u"first notice"), String::npos) << ToUtf8(message);
  EXPECT_NE(message.find(u"second notice"), String::npos) << ToUtf8(message);
  EXPECT_EQ(message.substr(message.size() - 2), u"\r\n");
  EXPECT_EQ(stmt->DoErrorCalls, 1);

  // A batch without messages is no failure.
  stmt->SetCommandText(u"select 1; select 2");
  stmt->Execute(true);
}

TEST_F(ODBCStatementTest, ODBCFailuresCallTheErrorHookAndLeaveTheStatementUsable) {
  stmt->SetCommandText(u"selec 1");
  String message = MessageOf([&] { stmt->Open(); });
  EXPECT_EQ(message.substr(0, 8), u"42601 : ") << ToUtf8(message);
  EXPECT_EQ(stmt->DoErrorCalls, 1);
  message = MessageOf([&] { stmt->Execute(); });
  EXPECT_EQ(message.substr(0, 8), u"42601 : ") << ToUtf8(message);
  EXPECT_EQ(stmt->DoErrorCalls, 2);
  // A statement of the class's own rules does not call it.
  stmt->SetCommandText(u"select 1 as a");
  stmt->Open();
  EXPECT_EQ(MessageOf([&] { stmt->BinaryValue(0); }).substr(0, 30), u"Not supported Binary DataType ");
  EXPECT_EQ(stmt->DoErrorCalls, 2);
  EXPECT_EQ(stmt->IntegerValue(0), 1);
}

TEST_F(ODBCStatementTest, WithoutDatabase) {
  TODBCStatement lone;
  lone.SetCommandText(u"select 1");
  EXPECT_EQ(MessageOf([&] { lone.Open(); }), u"There is no database object connected to ODBCStatement");
  EXPECT_EQ(MessageOf([&] { lone.Execute(); }), u"There is no database object connected to ODBCStatement");
}

TEST_F(ODBCStatementTest, PreparedStatementRunsWithNewParametersEachTime) {
  stmt->SetCommandText(u"select ?::integer * 2 as v");
  stmt->Prepare();
  EXPECT_TRUE(stmt->StmtState().Contains(ossPrepared));
  for (int n : {3, 21}) {
    stmt->Params()->Clear();
    stmt->Params()->CreateParam(SQL_INTEGER, IntToStr(n));
    stmt->Open();
    EXPECT_EQ(stmt->IntegerValue(0), n * 2);
    stmt->Close();
    EXPECT_TRUE(stmt->StmtState().Contains(ossPrepared));  // the handle stays
  }
  stmt->Open();
  stmt->Unprepare();  // closes the cursor first
  EXPECT_TRUE(stmt->StmtState().Empty());
  EXPECT_TRUE(stmt->IsEmpty());
  EXPECT_EQ(stmt->FieldCount(), 0);
}

TEST_F(ODBCStatementTest, PreparedStatementReopenedWithSmallerRowsets) {
  // The handle outlives its cursors; a rowset of one after rowsets of 30
  // must fetch one row at a time into its smaller buffer.
  stmt->SetCommandText(u"select n, repeat('v', n) as t from generate_series(1, 45) n order by n");
  stmt->Prepare();
  for (std::uint64_t size : {30, 1, 30, 1}) {
    stmt->SetBufferCount(size);
    stmt->Open();
    int row = 0;
    for (; !stmt->Eof(); stmt->Next()) {
      ++row;
      ASSERT_EQ(stmt->IntegerValue(0), row);
      ASSERT_EQ(stmt->StringValue(1).size(), static_cast<std::size_t>(row));
      ASSERT_LE(stmt->RowsInRowset(), size);
    }
    EXPECT_EQ(row, 45);
    stmt->Close();
  }
}

TEST_F(ODBCStatementTest, DestroyingOpenStatementsAndConnectionsFreesEverything) {
  // Under the leak checker: an open cursor with long values and a failed
  // execution that keeps its handle.
  auto open = std::make_unique<TODBCStatement>();
  open->SetDatabase(db.get());
  open->SetCommandText(u"select n, repeat('a', 1000) as t from generate_series(1, 50) n");
  open->Open();
  auto failed = std::make_unique<TODBCStatement>();
  failed->SetDatabase(db.get());
  failed->SetCommandText(u"select * from no_such_table");
  EXPECT_NE(MessageOf([&] { failed->Execute(); }), u"<no error>");
  EXPECT_TRUE(failed->StmtState().Contains(ossInitialized));
  failed.reset();
  open.reset();
}

}  // namespace
}  // namespace zo
