// Type mapping, buffer sizes, NULL indicators and browse-result parsing:
// the rules that need no server.
#include <gtest/gtest.h>

#include "core/Exception.h"
#include "odbc/ODBCDatabase.h"
#include "odbc/ODBCStatement.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"

namespace zo {
namespace {

using test::MessageOf;

TEST(ODBCTypes, MapInputDataTypeReadsTextAsUtf16NumbersAsDoubleBinaryAsLong) {
  struct Case {
    SQLSMALLINT reported;
    SQLULEN size;
    SQLSMALLINT mapped;
  };
  const Case cases[] = {
      {SQL_CHAR, 10, SQL_WCHAR},           {SQL_WCHAR, 10, SQL_WCHAR},
      {SQL_VARCHAR, 40, SQL_WCHAR},        {SQL_WVARCHAR, 40, SQL_WCHAR},
      {SQL_VARCHAR, 0, SQL_WLONGVARCHAR},  {SQL_WVARCHAR, 0, SQL_WLONGVARCHAR},
      {SQL_LONGVARCHAR, 8190, SQL_WLONGVARCHAR}, {SQL_WLONGVARCHAR, 0, SQL_WLONGVARCHAR},
      {SQL_NUMERIC, 19, SQL_DOUBLE},       {SQL_DECIMAL, 10, SQL_DOUBLE},
      {SQL_FLOAT, 15, SQL_DOUBLE},         {SQL_REAL, 7, SQL_DOUBLE},
      {SQL_DOUBLE, 15, SQL_DOUBLE},        {SQL_INTEGER, 10, SQL_INTEGER},
      {SQL_SMALLINT, 5, SQL_SMALLINT},     {SQL_BIGINT, 19, SQL_BIGINT},
      {SQL_TINYINT, 3, SQL_TINYINT},       {SQL_BIT, 1, SQL_TINYINT},
      {SQL_TYPE_DATE, 10, SQL_TYPE_TIMESTAMP}, {SQL_TYPE_TIMESTAMP, 26, SQL_TYPE_TIMESTAMP},
      {SQL_BINARY, 16, SQL_LONGVARBINARY}, {SQL_VARBINARY, 16, SQL_LONGVARBINARY},
      {SQL_LONGVARBINARY, 0, SQL_LONGVARBINARY},
  };
  for (const Case& c : cases) EXPECT_EQ(MapInputDataType(c.reported, c.size), c.mapped) << c.reported;

  for (int unsupported : {SQL_TYPE_TIME, SQL_GUID, 9, 10, 11})
    EXPECT_EQ(MessageOf([&] { MapInputDataType(static_cast<SQLSMALLINT>(unsupported), 8); }),
              Format(u"Not supported InputDataType (%d) was found.", {static_cast<int>(unsupported)}));
}

TEST(ODBCTypes, CTypesAndBufferSizes) {
  struct Case {
    SQLSMALLINT dataType;
    SQLSMALLINT cType;
    std::size_t sizeFor10;
  };
  const Case cases[] = {
      {SQL_INTEGER, SQL_C_LONG, 4},       {SQL_SMALLINT, SQL_C_SHORT, 2},
      {SQL_TINYINT, SQL_C_UTINYINT, 1},    {SQL_BIGINT, SQL_C_SBIGINT, 8},
      {SQL_DOUBLE, SQL_C_DOUBLE, 8},      {SQL_TYPE_TIMESTAMP, SQL_C_TYPE_TIMESTAMP, 16},
      {SQL_WCHAR, SQL_C_WCHAR, 12},       {SQL_WLONGVARCHAR, SQL_C_WCHAR, 12},
      {SQL_LONGVARBINARY, SQL_C_BINARY, 10}, {SQL_CHAR, SQL_C_CHAR, 11},
      {SQL_LONGVARCHAR, SQL_C_CHAR, 11},  {SQL_NUMERIC, SQL_C_NUMERIC, 19},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DataTypeToCDataType(c.dataType), c.cType) << c.dataType;
    EXPECT_EQ(CBufferTypeSize(c.cType, 10), c.sizeFor10) << c.cType;
  }
  EXPECT_EQ(MessageOf([] { DataTypeToCDataType(SQL_TYPE_TIME); }), u"Not supported DataType (92) was found.");
  EXPECT_EQ(MessageOf([] { CBufferTypeSize(SQL_C_GUID, 16); }), u"Not supported CBufferType (-11) was found.");
}

TEST(ODBCTypes, EmptyTextAndBinaryIndicatorsAreNull) {
  for (SQLSMALLINT t : {SQL_CHAR, SQL_WCHAR, SQL_WLONGVARCHAR, SQL_LONGVARCHAR, SQL_LONGVARBINARY}) {
    EXPECT_TRUE(IsNullIndicator(t, 0)) << t;
    EXPECT_TRUE(IsNullIndicator(t, SQL_NULL_DATA)) << t;
    EXPECT_FALSE(IsNullIndicator(t, 2)) << t;
  }
  for (SQLSMALLINT t : {SQL_INTEGER, SQL_SMALLINT, SQL_TINYINT, SQL_BIGINT, SQL_DOUBLE, SQL_TYPE_TIMESTAMP}) {
    EXPECT_FALSE(IsNullIndicator(t, 0)) << t;
    EXPECT_TRUE(IsNullIndicator(t, SQL_NULL_DATA)) << t;
  }
}

TEST(ODBCTypes, ExtractBrowseValueTakesTheTextBetweenTheBracesAfterTheKey) {
  struct Case {
    const char16_t* text;
    const char16_t* key;
    const char16_t* value;  // null: "Invalid input values"
  };
  const Case cases[] = {
      {u"SERVER:Server={SRV1,SRV2\\SQLEXPRESS};UID:Login ID=?", u"SERVER", u"SRV1,SRV2\\SQLEXPRESS"},
      {u"SERVER:Server={};UID:Login ID=?", u"SERVER", u""},
      {u"UID:Login ID=?;SERVER:Server={ b , a }", u"SERVER", u" b , a "},
      {u"*DATABASE:Database={master,model,app};*LANGUAGE:Language={us_english}", u"DATABASE", u"master,model,app"},
      // The first "={" after the key counts, even when it belongs to a later attribute.
      {u"SERVER:Server=?;DATABASE:Database={x,y}", u"SERVER", u"x,y"},
      // The search is case-sensitive.
      {u"server:Server={a}", u"SERVER", nullptr},
      {u"SERVER=Server={a}", u"SERVER", nullptr},
      {u"SERVER:Server=a}", u"SERVER", nullptr},
      {u"SERVER:Server={a", u"SERVER", nullptr},
      {u"", u"SERVER", nullptr},
  };
  for (const Case& c : cases) {
    if (c.value)
      EXPECT_EQ(TODBCDriver::ExtractBrowseValue(c.text, c.key), c.value) << ToUtf8(c.text);
    else
      EXPECT_EQ(MessageOf([&] { TODBCDriver::ExtractBrowseValue(c.text, c.key); }), u"Invalid input values")
          << ToUtf8(c.text);
  }
}

TEST(ODBCTypes, GetODBCErrorTextIsEmptyUnlessInfoOrError) {
  // An unknown driver leaves a record on the connection handle.
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
  String in = u"DRIVER={No Such Driver 4711}";
  SQLRETURN rc = SQLDriverConnectW(dbc, nullptr, ToSQLW(in.data()), static_cast<SQLSMALLINT>(in.size()), nullptr, 0,
                                   nullptr, SQL_DRIVER_NOPROMPT);
  EXPECT_EQ(rc, SQL_ERROR);
  for (SQLRETURN code : {SQLRETURN{SQL_SUCCESS}, SQLRETURN{SQL_STILL_EXECUTING}, SQLRETURN{SQL_NEED_DATA},
                         SQLRETURN{SQL_NO_DATA}, SQLRETURN{SQL_INVALID_HANDLE}})
    EXPECT_EQ(GetODBCErrorText(SQL_HANDLE_DBC, dbc, code), u"") << code;
  const String text = GetODBCErrorText(SQL_HANDLE_DBC, dbc, SQL_ERROR);
  EXPECT_EQ(text.substr(0, 8), u"01000 : ");  // the driver manager cannot load it
  EXPECT_EQ(text.substr(text.size() - 2), u"\r\n");
  EXPECT_EQ(GetODBCErrorText(SQL_HANDLE_DBC, dbc, SQL_SUCCESS_WITH_INFO), text);
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
}

}  // namespace
}  // namespace zo
