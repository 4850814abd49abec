// One SQL text run on the connection of a TODBCDatabase: statements without
// rows (Execute) and read-only cursors (Open) fetched in rowsets into one
// buffer of the statement's own, read through typed getters.
//
// Row buffer. A row is one slot per column, in column order and without gaps;
// a slot is the column's value area (BufferSize bytes) followed by an 8-byte
// length/indicator. The buffer holds BufferCount rows one after the other and
// fixed columns are bound to it row-wise, so one SQLFetch fills a whole
// rowset. Long columns (long text, binary data) are not bound: their value
// area holds a pointer to a block fetched per value after the rowset arrived,
// and their indicator the block's size. A fixed text value that the driver
// had to cut to its slot (its indicator tells a longer length) is read again
// whole and kept beside the buffer, so no getter ever returns a shortened
// value; a driver that cannot deliver it whole makes the fetch fail. Blocks
// and such values are freed when the next rowset is fetched or the cursor
// closes, so memory stays at one rowset. Long columns must come after every
// fixed column of the select list.
#pragma once

#include "odbc/ODBCHeaders.h"

#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <utility>
#include <vector>

#include "core/DateTime.h"
#include "core/String.h"
#include "odbc/Component.h"
#include "odbc/ODBCDatabase.h"
#include "odbc/ODBCParams.h"

namespace zo {

// The longest SQL text a statement accepts, in characters.
inline constexpr int kMaxCommandSize = 65536;

// A result column's data type for the buffer, from the SQL type and column
// size the driver reports; every text becomes UTF-16, every number with a
// fraction a double, every date a timestamp, every binary a long value.
SQLSMALLINT MapInputDataType(SQLSMALLINT InputDataType, SQLULEN ColumnSize);
// The C type a buffer data type is fetched or bound as.
SQLSMALLINT DataTypeToCDataType(SQLSMALLINT DataType);
// Bytes of a buffer for a value of ValueSize bytes of the C type.
std::size_t CBufferTypeSize(SQLSMALLINT CDataType, std::size_t ValueSize);
// NULL is the indicator SQL_NULL_DATA, and for text and binary types also 0:
// an empty text or binary value reads as NULL.
bool IsNullIndicator(SQLSMALLINT DataType, SQLLEN Indicator);

struct TSQLFieldDef {
  String FieldName;
  std::uint64_t Offset = 0;  // of the slot within a row
  SQLSMALLINT DataType = 0;
  SQLSMALLINT CDataType = 0;
  std::int32_t BufferSize = 0;  // bytes of the slot's value area
  std::uint64_t Precision = 0;
  SQLSMALLINT Scale = 0;
};

enum class ToStmtState : std::uint8_t { ossOpened, ossPrepared, ossInitialized };
using enum ToStmtState;

// A set of ToStmtState, member n at bit n.
class ToStmtStates {
 public:
  constexpr ToStmtStates() = default;
  constexpr ToStmtStates(std::initializer_list<ToStmtState> states) {
    for (ToStmtState s : states) Include(s);
  }
  constexpr bool Contains(ToStmtState s) const { return (FBits & Bit(s)) != 0; }
  constexpr void Include(ToStmtState s) { FBits |= Bit(s); }
  constexpr void Exclude(ToStmtState s) { FBits &= static_cast<std::uint8_t>(~Bit(s)); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr bool operator==(const ToStmtStates&) const = default;

 private:
  static constexpr std::uint8_t Bit(ToStmtState s) { return static_cast<std::uint8_t>(1u << static_cast<int>(s)); }
  std::uint8_t FBits = 0;
};

class TODBCStatement : public TComponent {
 public:
  explicit TODBCStatement(TComponent* AOwner = nullptr);
  // Closes, unprepares and frees the handle; errors on the way are swallowed.
  ~TODBCStatement() override;

  TODBCDatabase* Database() const { return FDataBase; }
  // Closes and unprepares first. The database is not owned.
  void SetDatabase(TODBCDatabase* Value);
  const String& CommandText() const { return FCommandText; }
  // Closes and unprepares first; a text above kMaxCommandSize characters
  // raises "Maximum command size reached ( %d ). " and keeps the old text.
  void SetCommandText(const String& Value);
  SQLULEN CursorType() const { return FCursorType; }
  void SetCursorType(SQLULEN Value) { FCursorType = Value; }
  // Rows per fetch. Changing it closes an open cursor, as its buffer is sized
  // by it; values below 1 count as 1.
  std::uint64_t BufferCount() const { return FMaxRecordCount; }
  void SetBufferCount(std::uint64_t Value);

  // Prepares the text on a handle that then stays until Unprepare (or a
  // change of text or database); nothing when already prepared.
  void Prepare();
  // Closes an open cursor, then frees the prepared handle.
  void Unprepare();
  // Executes the text as a cursor and fetches the first rowset.
  void Open();
  // Closes the cursor and frees the buffer.
  void Close();
  // Executes the text without a cursor and sets RowsAffected. With Batch, an
  // informational message of the execution counts as a failure.
  void Execute(bool Batch = false);
  // With an open cursor: Close, then Open (the text runs again).
  void First();
  // The next row, fetching the next rowset when the current one is used up.
  void Next();
  bool IsEmpty() const { return FBof && FEof; }

  bool Bof() const { return FBof; }
  bool Eof() const { return FEof; }
  std::int64_t RowsAffected() const { return FRowsAffected; }
  int FieldCount() const { return FFieldDefCount; }
  ToStmtStates StmtState() const { return FState; }
  TODBCParams* Params() const { return FParams.get(); }
  SQLHSTMT StmtHandle() const { return hStmt; }

  // Column lookups: the first column with exactly this name (case-sensitive),
  // or raises "Field "%s" not exist"; and a column's name.
  int FieldIndex(const String& FieldName) const;
  String FieldName(int FieldIndex) const;
  const TSQLFieldDef& FieldDef(int FieldIndex) const;

  // Typed getters of the current row. A NULL value gives Default (or 0, the
  // empty text, no bytes); a data type the getter cannot convert raises its
  // "Not supported ... DataType" message.
  String StringValue(int FieldIndex) const;
  bool BitValue(int FieldIndex, bool Default = false) const;
  std::int16_t SmallintValue(int FieldIndex, std::int16_t Default = 0) const;
  std::int32_t IntegerValue(int FieldIndex, std::int32_t Default = 0) const;
  std::int64_t BigintValue(int FieldIndex, std::int64_t Default = 0) const;
  double FloatValue(int FieldIndex) const;
  TDateTime DatetimeValue(int FieldIndex, TDateTime Default = 0) const;
  Bytes BinaryValue(int FieldIndex) const;
  bool IsNullValue(int FieldIndex) const;

  String StringValue(const String& Name) const { return StringValue(FieldIndex(Name)); }
  bool BitValue(const String& Name, bool Default = false) const { return BitValue(FieldIndex(Name), Default); }
  std::int16_t SmallintValue(const String& Name, std::int16_t Default = 0) const {
    return SmallintValue(FieldIndex(Name), Default);
  }
  std::int32_t IntegerValue(const String& Name, std::int32_t Default = 0) const {
    return IntegerValue(FieldIndex(Name), Default);
  }
  std::int64_t BigintValue(const String& Name, std::int64_t Default = 0) const {
    return BigintValue(FieldIndex(Name), Default);
  }
  double FloatValue(const String& Name) const { return FloatValue(FieldIndex(Name)); }
  TDateTime DatetimeValue(const String& Name, TDateTime Default = 0) const {
    return DatetimeValue(FieldIndex(Name), Default);
  }
  Bytes BinaryValue(const String& Name) const { return BinaryValue(FieldIndex(Name)); }
  bool IsNullValue(const String& Name) const { return IsNullValue(FieldIndex(Name)); }

 protected:
  // Called just before an ODBC failure of the statement handle is raised;
  // query classes override it to record or roll back.
  virtual void DoError() {}

  // Passes SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_STILL_EXECUTING and
  // SQL_NO_DATA; otherwise DoError, then raises the statement's ODBC error text.
  void CheckResult(SQLRETURN RetCode);
  void InitStatement(bool ForCursor);
  void FreeStatement();
  void BindParams();
  void ResetParams();
  void BindColumns();
  void FreeBuffer();
  void FreeLongData();
  void FetchFirst();
  void FetchNext();

  SQLHSTMT hStmt = nullptr;
  SQLULEN FCursorType = SQL_CURSOR_STATIC;
  std::unique_ptr<std::uint8_t[]> FBuffer;
  std::uint64_t FFixBufferSize = 0;
  std::uint64_t FMaxRecordCount = 30;
  SQLULEN FActRecordCount = 0;
  std::uint64_t FActRecordIndex = 0;
  ToStmtStates FState;
  TODBCDatabase* FDataBase = nullptr;
  std::unique_ptr<TODBCParams> FParams;
  String FCommandText;
  bool FEof = true;
  bool FBof = true;
  std::int64_t FRowsAffected = 0;
  std::int16_t FFixFieldCount = 0;
  std::int16_t FFloatFieldCount = 0;
  std::int16_t FFieldDefCount = 0;
  std::vector<TSQLFieldDef> FFieldDefs;
  // Fixed text values of the rowset that the driver cut, read whole: by row
  // and column.
  std::map<std::pair<std::uint64_t, int>, String> FCutTexts;

 private:
  void ExecuteText(SQLRETURN& RetCode);
  void DescribeColumns();
  void FetchValuesApart();
  void FetchLongValue(std::uint64_t Row, int Column);
  void ReadValueApart(int Column, const TSQLFieldDef& Def, SQLLEN Expected, std::vector<std::uint8_t>& Value);
  // The current row's text of a fixed text column, whole.
  String FixedText(int FieldIndex) const;
  void CheckFieldIndex(int FieldIndex) const;
  // The current row's value area and indicator of a column.
  const std::uint8_t* SlotValue(int FieldIndex) const;
  SQLLEN SlotIndicator(int FieldIndex) const;
  // A long column's block (or null) of row Row.
  std::uint8_t* LongBlock(std::uint64_t Row, const TSQLFieldDef& Def) const;
  void SetLongBlock(std::uint64_t Row, const TSQLFieldDef& Def, std::uint8_t* Block);
  std::uint8_t* Slot(std::uint64_t Row, const TSQLFieldDef& Def) const;
};

}  // namespace zo
