#include "odbc/ODBCStatement.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

#include "core/Exception.h"
#include "core/Format.h"
#include "core/StringUtils.h"
#include "odbc/ODBCBuffers.h"

namespace zo {

namespace {

constexpr char16_t kSNoDatabase[] = u"There is no database object connected to ODBCStatement";
constexpr char16_t kSMaxCommandSize[] = u"Maximum command size reached ( %d ). ";
constexpr char16_t kSNoColumns[] = u"Cursor opened with no columns";
constexpr char16_t kSLongBeforeShort[] =
    u"Internal error - LongDataType used before ShortDataType (FixFieldCount = %d ; FloatFieldCount = %d)";
constexpr char16_t kSFetchFirstOrder[] = u"FetchFirst can be called only immediatelly after opening cursor";
constexpr char16_t kSFetchNextOrder[] = u"FetchNext can be called only after FetchFirst and before end";
constexpr char16_t kSInputDataType[] = u"Not supported InputDataType (%d) was found.";
constexpr char16_t kSDataType[] = u"Not supported DataType (%d) was found.";
constexpr char16_t kSCBufferType[] = u"Not supported CBufferType (%d) was found.";
// Our own guards: a value area too large for one slot, and a value the
// driver cut to its slot that it cannot hand out whole either.
constexpr char16_t kSColumnTooLarge[] = u"Column size (%d) of Field \"%s\" is too large.";
constexpr char16_t kSCutValue[] =
    u"The value of Field \"%s\" is longer than its buffer (%d bytes) and the ODBC driver cannot deliver it whole.";
constexpr char16_t kSNulInText[] =
    u"Text parameter %d holds a NUL character, which the ODBC driver would cut the text at.";
// The first piece of a value read apart whose length the driver does not
// tell in advance.
constexpr SQLLEN kPieceSize = 65536;

// Size of the slot's length/indicator, and of a long column's value area
// (a pointer to its block).
constexpr std::int32_t kIndicatorSize = sizeof(SQLLEN);
constexpr std::int32_t kLongSlotSize = 8;
static_assert(kIndicatorSize == 8 && sizeof(std::uint8_t*) == kLongSlotSize);

bool IsLongDataType(SQLSMALLINT DataType) {
  return DataType == SQL_WLONGVARCHAR || DataType == SQL_LONGVARBINARY;
}

// Bytes of the terminating NUL the driver writes after character data.
SQLLEN TerminatorSize(SQLSMALLINT CDataType) {
  return CDataType == SQL_C_WCHAR ? 2 : CDataType == SQL_C_CHAR ? 1 : 0;
}

// A fixed text slot whose value the driver had to cut: the indicator tells
// the value's whole length, which is more than the slot holds besides its
// NUL, or says that the length is not known.
bool IsCutText(SQLLEN Indicator, std::int32_t BufferSize) {
  return Indicator == SQL_NO_TOTAL || (Indicator != SQL_NULL_DATA && Indicator > BufferSize - 2);
}

SQLPOINTER AttrValue(SQLULEN Value) { return reinterpret_cast<SQLPOINTER>(Value); }

}  // namespace

// ---------------------------------------------------------------------------
// Type mapping

SQLSMALLINT MapInputDataType(SQLSMALLINT InputDataType, SQLULEN ColumnSize) {
  switch (InputDataType) {
    case SQL_CHAR:
    case SQL_WCHAR:
      return SQL_WCHAR;
    case SQL_VARCHAR:
    case SQL_WVARCHAR:
      // Size 0 is an unlimited column: only a long value holds it whole.
      return ColumnSize == 0 ? SQL_WLONGVARCHAR : SQL_WCHAR;
    case SQL_LONGVARCHAR:
    case SQL_WLONGVARCHAR:
      return SQL_WLONGVARCHAR;
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_FLOAT:
    case SQL_REAL:
    case SQL_DOUBLE:
      return SQL_DOUBLE;
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_BIGINT:
    case SQL_TINYINT:
      return InputDataType;
    case SQL_BIT:
      return SQL_TINYINT;
    case SQL_TYPE_DATE:
    case SQL_TYPE_TIMESTAMP:
      return SQL_TYPE_TIMESTAMP;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY:
      return SQL_LONGVARBINARY;
    default:
      throw Exception(kSInputDataType, {static_cast<int>(InputDataType)});
  }
}

SQLSMALLINT DataTypeToCDataType(SQLSMALLINT DataType) {
  switch (DataType) {
    case SQL_INTEGER: return SQL_C_LONG;
    case SQL_SMALLINT: return SQL_C_SHORT;
    // A tinyint holds 0 to 255: the signed C type would make the driver
    // reject or mangle the upper half.
    case SQL_TINYINT: return SQL_C_UTINYINT;
    case SQL_BIGINT: return SQL_C_SBIGINT;
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_TYPE_TIMESTAMP: return SQL_C_TYPE_TIMESTAMP;
    case SQL_WCHAR:
    case SQL_WLONGVARCHAR: return SQL_C_WCHAR;
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    case SQL_CHAR:
    case SQL_LONGVARCHAR: return SQL_C_CHAR;
    case SQL_NUMERIC: return SQL_C_NUMERIC;
    default: throw Exception(kSDataType, {static_cast<int>(DataType)});
  }
}

std::size_t CBufferTypeSize(SQLSMALLINT CDataType, std::size_t ValueSize) {
  switch (CDataType) {
    case SQL_C_CHAR: return ValueSize + 1;
    case SQL_C_NUMERIC: return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_LONG: return 4;
    case SQL_C_SHORT: return 2;
    case SQL_C_DOUBLE:
    case SQL_C_SBIGINT: return 8;
    case SQL_C_TYPE_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
    case SQL_C_WCHAR: return ValueSize + 2;
    case SQL_C_TINYINT:
    case SQL_C_UTINYINT: return 1;
    case SQL_C_BINARY: return ValueSize;
    default: throw Exception(kSCBufferType, {static_cast<int>(CDataType)});
  }
}

bool IsNullIndicator(SQLSMALLINT DataType, SQLLEN Indicator) {
  if (Indicator == SQL_NULL_DATA) return true;
  switch (DataType) {
    case SQL_CHAR:
    case SQL_WCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_LONGVARBINARY:
      return Indicator == 0;
    default:
      return false;
  }
}

// ---------------------------------------------------------------------------
// Life cycle

TODBCStatement::TODBCStatement(TComponent* AOwner) : TComponent(AOwner), FParams(new TODBCParams()) {}

TODBCStatement::~TODBCStatement() {
  try {
    Close();
  } catch (...) {
  }
  try {
    Unprepare();
  } catch (...) {
  }
  // A handle left after a failure goes too.
  if (hStmt) {
    SQLFreeHandle(SQL_HANDLE_STMT, hStmt);
    hStmt = nullptr;
  }
  // The long blocks and buffer of a cursor whose close failed.
  FreeLongData();
}

void TODBCStatement::SetDatabase(TODBCDatabase* Value) {
  Close();
  Unprepare();
  FDataBase = Value;
}

void TODBCStatement::SetCommandText(const String& Value) {
  Close();
  Unprepare();
  if (Value.size() > static_cast<std::size_t>(kMaxCommandSize)) throw Exception(kSMaxCommandSize, {kMaxCommandSize});
  FCommandText = Value;
}

void TODBCStatement::SetBufferCount(std::uint64_t Value) {
  if (Value == FMaxRecordCount) return;
  Close();
  FMaxRecordCount = std::max<std::uint64_t>(Value, 1);
}

void TODBCStatement::CheckResult(SQLRETURN RetCode) {
  switch (RetCode) {
    case SQL_SUCCESS:
    case SQL_SUCCESS_WITH_INFO:
    case SQL_STILL_EXECUTING:
    case SQL_NO_DATA:
      return;
    default:
      DoError();
      throw Exception(GetODBCErrorText(SQL_HANDLE_STMT, hStmt, RetCode));
  }
}

void TODBCStatement::InitStatement(bool ForCursor) {
  if (FState.Contains(ossInitialized)) return;
  if (!FDataBase) throw Exception(kSNoDatabase);
  if (!FDataBase->Active()) FDataBase->Connect();
  SQLRETURN rc = SQLAllocHandle(SQL_HANDLE_STMT, FDataBase->DBCHandle(), &hStmt);
  if (rc != SQL_SUCCESS) {
    // Nothing to free: a failed allocation leaves no statement handle, and
    // its diagnostics sit on the connection handle.
    String text = GetODBCErrorText(SQL_HANDLE_STMT, hStmt, rc);
    if (text.empty()) text = GetODBCErrorText(SQL_HANDLE_DBC, FDataBase->DBCHandle(), rc);
    hStmt = nullptr;
    throw Exception(text);
  }
  FState.Include(ossInitialized);
  try {
    if (ForCursor) {
      CheckResult(SQLSetStmtAttrW(hStmt, SQL_ATTR_CONCURRENCY, AttrValue(SQL_CONCUR_READ_ONLY), 0));
      CheckResult(SQLSetStmtAttrW(hStmt, SQL_ATTR_CURSOR_TYPE, AttrValue(FCursorType), 0));
      CheckResult(SQLSetStmtAttrW(hStmt, SQL_ATTR_USE_BOOKMARKS, AttrValue(SQL_UB_OFF), 0));
    } else {
      CheckResult(SQLSetStmtAttrW(hStmt, SQL_ATTR_NOSCAN, AttrValue(SQL_NOSCAN_ON), 0));
    }
  } catch (...) {
    FreeStatement();
    throw;
  }
}

void TODBCStatement::FreeStatement() {
  if (!FState.Contains(ossInitialized) || FState.Contains(ossPrepared)) return;
  SQLFreeHandle(SQL_HANDLE_STMT, hStmt);
  hStmt = nullptr;
  FState = ToStmtStates();
}

void TODBCStatement::Prepare() {
  if (FState.Contains(ossPrepared)) return;
  InitStatement(true);
  String text = FCommandText;
  CheckResult(SQLPrepareW(hStmt, ToSQLW(text.data()), SQL_NTS));
  FState.Include(ossPrepared);
}

void TODBCStatement::Unprepare() {
  // The cursor's buffer is bound to the handle that is about to go.
  if (FState.Contains(ossOpened)) Close();
  FState.Exclude(ossPrepared);
  FreeStatement();
}

// ---------------------------------------------------------------------------
// Parameters

void TODBCStatement::BindParams() {
  TODBCParams& params = *FParams;
  for (std::size_t i = 0; i < params.FItems.size(); ++i) {
    TODBCParam& p = *params.FItems[i];
    const auto number = static_cast<SQLUSMALLINT>(i + 1);
    if (!p.FBuffer) {
      CheckResult(SQLBindParameter(hStmt, number, p.FParamType, p.FCDataType, p.FDataType, 1, 0, nullptr, 0,
                                   &params.FSQLNULLDATA));
      continue;
    }
    SQLLEN* indicator = nullptr;
    if (p.FDataType == SQL_WCHAR || p.FDataType == SQL_WLONGVARCHAR) {
      // Drivers read a text parameter up to its first NUL character, some
      // even when given its length, and would store it cut there without a
      // word: such a text is refused instead.
      const auto* text = reinterpret_cast<const char16_t*>(p.FBuffer.get());
      if (std::char_traits<char16_t>::find(text, p.FPrecision, u'\0') != nullptr)
        throw Exception(kSNulInText, {static_cast<int>(number)});
      indicator = &params.FSQLNTS;
    } else if (p.FDataType == SQL_LONGVARBINARY) {
      indicator = reinterpret_cast<SQLLEN*>(&p.FBufferSize);
    }
    CheckResult(SQLBindParameter(hStmt, number, p.FParamType, p.FCDataType, p.FDataType, p.FPrecision, p.FScale,
                                 p.FBuffer.get(), 0, indicator));
  }
}

void TODBCStatement::ResetParams() { CheckResult(SQLFreeStmt(hStmt, SQL_RESET_PARAMS)); }

// Runs the text (prepared or direct) with the parameters bound, and releases
// the bindings afterwards whatever happened. RetCode is the execution's code.
void TODBCStatement::ExecuteText(SQLRETURN& RetCode) {
  try {
    BindParams();
    if (FState.Contains(ossPrepared)) {
      RetCode = SQLExecute(hStmt);
    } else {
      String text = FCommandText;
      RetCode = SQLExecDirectW(hStmt, ToSQLW(text.data()), SQL_NTS);
    }
  } catch (...) {
    try {
      ResetParams();
    } catch (...) {
    }
    throw;
  }
}

// ---------------------------------------------------------------------------
// Cursor

void TODBCStatement::Open() {
  InitStatement(true);
  SQLRETURN rc = SQL_SUCCESS;
  ExecuteText(rc);
  try {
    CheckResult(rc);
  } catch (...) {
    // The execution's own text is already in the error; a failing cancel
    // must not replace it.
    SQLCancel(hStmt);
    try {
      ResetParams();
    } catch (...) {
    }
    throw;
  }
  FState.Include(ossOpened);

  // From here a failure closes the cursor again, so the statement can be
  // opened anew and nothing half-built stays behind.
  try {
    ResetParams();
    DescribeColumns();
    BindColumns();
    FBof = true;
    FEof = false;
    if (FMaxRecordCount > 1) {
      CheckResult(SQLSetStmtAttrW(hStmt, SQL_ATTR_ROW_BIND_TYPE, AttrValue(FFixBufferSize), SQL_IS_INTEGER));
      CheckResult(SQLSetStmtAttrW(hStmt, SQL_ATTR_ROW_ARRAY_SIZE, AttrValue(FMaxRecordCount), SQL_IS_INTEGER));
      CheckResult(SQLSetStmtAttrW(hStmt, SQL_ATTR_ROWS_FETCHED_PTR, &FActRecordCount, SQL_IS_INTEGER));
    } else if (FState.Contains(ossPrepared)) {
      // A prepared handle keeps the rowset size of its earlier cursors; one
      // row must not be fetched as many into a buffer of one.
      CheckResult(SQLSetStmtAttrW(hStmt, SQL_ATTR_ROW_ARRAY_SIZE, AttrValue(1), SQL_IS_INTEGER));
    }
    FetchFirst();
  } catch (...) {
    try {
      Close();
    } catch (...) {
    }
    throw;
  }
}

void TODBCStatement::DescribeColumns() {
  SQLSMALLINT columnCount = 0;
  CheckResult(SQLNumResultCols(hStmt, &columnCount));
  if (columnCount < 1) {
    Close();
    throw Exception(kSNoColumns);
  }
  FFieldDefCount = columnCount;
  FFieldDefs.assign(static_cast<std::size_t>(columnCount), TSQLFieldDef());
  for (SQLSMALLINT i = 1; i <= columnCount; ++i) {
    TSQLFieldDef& def = FFieldDefs[static_cast<std::size_t>(i - 1)];
    SQLWCHAR name[254] = {};
    SQLSMALLINT nameLength = 0;
    SQLSMALLINT reportedType = 0;
    SQLULEN columnSize = 0;
    SQLSMALLINT decimalDigits = 0;
    SQLSMALLINT nullable = 0;
    CheckResult(SQLDescribeColW(hStmt, static_cast<SQLUSMALLINT>(i), name, 254, &nameLength, &reportedType,
                                &columnSize, &decimalDigits, &nullable));
    // A name that did not fit is cut at the buffer.
    nameLength = std::clamp<SQLSMALLINT>(nameLength, 0, 253);
    def.FieldName.assign(FromSQLW(name), static_cast<std::size_t>(nameLength));
    def.Precision = columnSize;
    def.Scale = decimalDigits;
    def.DataType = MapInputDataType(reportedType, columnSize);
    def.CDataType = DataTypeToCDataType(def.DataType);

    if (IsLongDataType(def.DataType)) {
      def.BufferSize = kLongSlotSize;
      ++FFloatFieldCount;
    } else {
      if (FFloatFieldCount > 0)
        throw Exception(Format(kSLongBeforeShort, {static_cast<int>(FFixFieldCount), static_cast<int>(FFloatFieldCount)}) +
                        u"\r\n" + FCommandText);
      const std::size_t valueSize = def.DataType == SQL_WCHAR ? columnSize * 2 : columnSize;
      if (def.DataType == SQL_WCHAR && columnSize > static_cast<SQLULEN>(std::numeric_limits<std::int32_t>::max() / 4))
        throw Exception(kSColumnTooLarge, {static_cast<unsigned long long>(columnSize), def.FieldName});
      def.BufferSize = static_cast<std::int32_t>(CBufferTypeSize(def.CDataType, valueSize));
      ++FFixFieldCount;
    }
    def.Offset = FFixBufferSize;
    FFixBufferSize += static_cast<std::uint64_t>(def.BufferSize) + kIndicatorSize;
  }
}

void TODBCStatement::BindColumns() {
  if (!FBuffer) {
    // Zeroed, so that every long column's reference starts out null.
    FBuffer.reset(new std::uint8_t[FFixBufferSize * FMaxRecordCount]());
  }
  for (int i = 0; i < FFixFieldCount; ++i) {
    const TSQLFieldDef& def = FFieldDefs[static_cast<std::size_t>(i)];
    std::uint8_t* slot = Slot(0, def);
    CheckResult(SQLBindCol(hStmt, static_cast<SQLUSMALLINT>(i + 1), def.CDataType, slot, def.BufferSize,
                           reinterpret_cast<SQLLEN*>(slot + def.BufferSize)));
  }
}

std::uint8_t* TODBCStatement::Slot(std::uint64_t Row, const TSQLFieldDef& Def) const {
  return FBuffer.get() + Row * FFixBufferSize + Def.Offset;
}

std::uint8_t* TODBCStatement::LongBlock(std::uint64_t Row, const TSQLFieldDef& Def) const {
  std::uint8_t* block = nullptr;
  std::memcpy(&block, Slot(Row, Def), sizeof(block));
  return block;
}

void TODBCStatement::SetLongBlock(std::uint64_t Row, const TSQLFieldDef& Def, std::uint8_t* Block) {
  std::memcpy(Slot(Row, Def), &Block, sizeof(Block));
}

void TODBCStatement::FetchFirst() {
  if (!FBof) throw Exception(kSFetchFirstOrder);
  SQLRETURN rc = SQLFetch(hStmt);
  if (rc == SQL_NO_DATA) {
    FEof = true;
    FActRecordCount = 0;
    return;
  }
  CheckResult(rc);
  FBof = false;
  if (FMaxRecordCount == 1) FActRecordCount = 1;
  FActRecordIndex = 0;
  FetchValuesApart();
}

void TODBCStatement::FetchNext() {
  if (FBof || FEof) throw Exception(kSFetchNextOrder);
  FreeLongData();
  SQLRETURN rc = SQLFetch(hStmt);
  if (rc == SQL_NO_DATA) {
    FEof = true;
    FActRecordCount = 0;
    return;
  }
  try {
    CheckResult(rc);
    if (FMaxRecordCount == 1) FActRecordCount = 1;
    FActRecordIndex = 0;
    FetchValuesApart();
  } catch (...) {
    // The rows of the failed fetch are not defined: none is current.
    FreeLongData();
    FActRecordCount = 0;
    throw;
  }
}

// The values that the row buffer does not hold whole are read apart, row by
// row and in column order: the long columns, and every fixed text value the
// driver cut to its slot (a column size that counts characters where UTF-16
// needs two units for some, or a driver that reports less than the column
// holds). A cut value is never returned as if it were whole.
void TODBCStatement::FetchValuesApart() {
  const std::uint64_t rows = std::min<std::uint64_t>(FActRecordCount, FMaxRecordCount);
  for (std::uint64_t r = 0; r < rows; ++r) {
    bool positioned = false;
    const auto position = [&] {
      if (!positioned && FMaxRecordCount > 1)
        CheckResult(SQLSetPos(hStmt, static_cast<SQLSETPOSIROW>(r + 1), SQL_POSITION, SQL_LOCK_NO_CHANGE));
      positioned = true;
    };
    for (int i = 0; i < FFixFieldCount; ++i) {
      const TSQLFieldDef& def = FFieldDefs[static_cast<std::size_t>(i)];
      if (def.DataType != SQL_WCHAR) continue;
      const SQLLEN indicator = ReadAt<SQLLEN>(Slot(r, def) + def.BufferSize);
      if (!IsCutText(indicator, def.BufferSize)) continue;
      std::vector<std::uint8_t> value;
      try {
        position();
        ReadValueApart(i, def, indicator, value);
      } catch (const Exception& E) {
        throw Exception(Format(kSCutValue, {def.FieldName, def.BufferSize}) + u"\r\n" + E.Message());
      }
      String& text = FCutTexts[{r, i}];
      text.resize(value.size() / 2);
      if (!text.empty()) std::memcpy(text.data(), value.data(), text.size() * 2);
    }
    for (int i = FFixFieldCount; i < FFieldDefCount; ++i) {
      position();
      FetchLongValue(r, i);
    }
  }
}

// A long column's value of row Row, with the row positioned: a zero-length
// read learns its length, then it is read whole into a block of its own.
void TODBCStatement::FetchLongValue(std::uint64_t Row, int Column) {
  const TSQLFieldDef& def = FFieldDefs[static_cast<std::size_t>(Column)];
  std::uint8_t* slot = Slot(Row, def);
  SQLLEN length = 0;
  std::uint8_t scratch[2] = {};
  CheckResult(SQLGetData(hStmt, static_cast<SQLUSMALLINT>(Column + 1), def.CDataType, scratch, 0, &length));
  std::vector<std::uint8_t> value;
  if (length != SQL_NULL_DATA && length != 0) ReadValueApart(Column, def, length, value);
  if (value.empty()) {
    // NULL keeps its indicator; an empty value reads as NULL all the same.
    if (length != SQL_NULL_DATA) length = 0;
    std::memcpy(slot + def.BufferSize, &length, sizeof(length));
    SetLongBlock(Row, def, nullptr);
    return;
  }
  // Room for the terminating NUL of a text, which the getters stop at.
  const std::size_t size = value.size() + (def.DataType == SQL_WLONGVARCHAR ? 2 : 0);
  auto* block = new std::uint8_t[size]();
  std::memcpy(block, value.data(), value.size());
  SetLongBlock(Row, def, block);
  const auto indicator = static_cast<SQLLEN>(size);
  std::memcpy(slot + def.BufferSize, &indicator, sizeof(indicator));
}

// Reads column Column of the positioned row whole through SQLGetData into
// Value (without a terminating NUL), in as many pieces as the driver hands
// it out in. Expected is the length the driver announced in bytes, or
// SQL_NO_TOTAL. Value stays empty for NULL.
void TODBCStatement::ReadValueApart(int Column, const TSQLFieldDef& Def, SQLLEN Expected,
                                    std::vector<std::uint8_t>& Value) {
  const SQLLEN terminator = TerminatorSize(Def.CDataType);
  Value.clear();
  SQLLEN piece = Expected > 0 ? Expected : kPieceSize;
  std::vector<std::uint8_t> buffer;
  for (;;) {
    // Whole characters only, and room for the NUL the driver appends.
    piece += piece % 2;
    buffer.assign(static_cast<std::size_t>(piece + terminator), 0);
    SQLLEN indicator = 0;
    const SQLRETURN rc = SQLGetData(hStmt, static_cast<SQLUSMALLINT>(Column + 1), Def.CDataType, buffer.data(),
                                    static_cast<SQLLEN>(buffer.size()), &indicator);
    if (rc == SQL_NO_DATA) return;  // everything was delivered before
    CheckResult(rc);
    if (indicator == SQL_NULL_DATA) {
      Value.clear();
      return;
    }
    const bool more = indicator == SQL_NO_TOTAL || indicator > piece;
    const SQLLEN got = more ? piece : indicator;
    Value.insert(Value.end(), buffer.begin(), buffer.begin() + got);
    if (!more || rc == SQL_SUCCESS) return;
    // The rest: its length when the driver tells it, else one more piece.
    piece = indicator == SQL_NO_TOTAL ? kPieceSize : indicator - piece;
  }
}

void TODBCStatement::FreeLongData() {
  FCutTexts.clear();
  if (FFloatFieldCount == 0 || !FBuffer) return;
  // Every reference outside the fetched rows is null already, so the whole
  // buffer can be walked; that also covers a fetch that failed half-way.
  for (std::uint64_t r = 0; r < FMaxRecordCount; ++r) {
    for (int i = FFixFieldCount; i < FFieldDefCount; ++i) {
      const TSQLFieldDef& def = FFieldDefs[static_cast<std::size_t>(i)];
      std::uint8_t* block = LongBlock(r, def);
      if (block) {
        delete[] block;
        SetLongBlock(r, def, nullptr);
      }
    }
  }
}

void TODBCStatement::FreeBuffer() {
  if (!FBuffer) return;
  try {
    CheckResult(SQLFreeStmt(hStmt, SQL_UNBIND));
  } catch (...) {
    FreeLongData();
    FBuffer.reset();
    throw;
  }
  FreeLongData();
  FBuffer.reset();
}

void TODBCStatement::Close() {
  if (FState.Contains(ossOpened)) {
    SQLRETURN rc = SQLFreeStmt(hStmt, SQL_CLOSE);
    FState.Exclude(ossOpened);
    // The buffer and descriptors go even when the driver refused to close.
    std::exception_ptr failure;
    try {
      CheckResult(rc);
    } catch (...) {
      failure = std::current_exception();
    }
    try {
      FreeBuffer();
    } catch (...) {
      if (!failure) failure = std::current_exception();
    }
    FFieldDefs.clear();
    FFieldDefCount = 0;
    FFixFieldCount = 0;
    FFixBufferSize = 0;
    FFloatFieldCount = 0;
    FActRecordIndex = 0;
    FActRecordCount = 0;
    FBof = true;
    FEof = true;
    if (failure) {
      FreeStatement();
      std::rethrow_exception(failure);
    }
  }
  FreeStatement();
}

void TODBCStatement::First() {
  if (!FState.Contains(ossOpened)) return;
  Close();
  Open();
}

void TODBCStatement::Next() {
  // After the end there is no row to move to: asking again is an error, and
  // no row of an earlier rowset becomes current.
  if (FEof || FActRecordCount == FActRecordIndex + 1)
    FetchNext();
  else
    ++FActRecordIndex;
}

// ---------------------------------------------------------------------------
// Execution without a cursor

void TODBCStatement::Execute(bool Batch) {
  InitStatement(false);
  SQLRETURN rc = SQL_SUCCESS;
  ExecuteText(rc);
  bool failed = false;
  String collected;
  try {
    if (Batch && rc == SQL_SUCCESS_WITH_INFO) {
      failed = true;
      collected = GetODBCErrorText(SQL_HANDLE_STMT, hStmt, SQL_SUCCESS_WITH_INFO);
    } else {
      CheckResult(rc);
    }
  } catch (...) {
    try {
      ResetParams();
    } catch (...) {
    }
    throw;
  }
  ResetParams();

  if (rc == SQL_NO_DATA) {
    FRowsAffected = 0;
  } else {
    SQLLEN rows = 0;
    CheckResult(SQLRowCount(hStmt, &rows));
    FRowsAffected = rows;
  }

  // Skip the further results of a batch, collecting what went wrong in them.
  for (;;) {
    SQLRETURN more = SQLMoreResults(hStmt);
    if (more == SQL_NO_DATA) break;
    if (more == SQL_SUCCESS || more == SQL_SUCCESS_WITH_INFO || more == SQL_STILL_EXECUTING) continue;
    failed = true;
    String text = GetODBCErrorText(SQL_HANDLE_STMT, hStmt, more);
    if (!collected.empty()) collected += u"\r\n";
    collected += text;
    // A handle the driver manager refuses, or an error without a record,
    // would answer the same forever.
    if (more == SQL_INVALID_HANDLE || text.empty()) break;
  }

  if (failed) {
    DoError();
    throw Exception(collected);
  }
  FreeStatement();
}

// ---------------------------------------------------------------------------
// Getters

namespace {

constexpr char16_t kSFieldIndex[] = u"Field (Index = %d) not found.";
constexpr char16_t kSFieldName[] = u"Field \"%s\" not exist";
constexpr char16_t kSNoCurrentRecord[] = u"There is no current record.";
constexpr char16_t kSStringType[] = u"Not supported String DataType (%d) was found for Field \"%s\".";
constexpr char16_t kSBitType[] = u"Not supported Bit DataType (%d) was found for Field \"%s\".";
constexpr char16_t kSSmallintType[] = u"Not supported Smallint DataType (%d) was found for Field \"%s\".";
constexpr char16_t kSIntegerType[] = u"Not supported Integer DataType (%d) was found for Field \"%s\".";
constexpr char16_t kSBigintType[] = u"Not supported Bigint DataType (%d) was found for Field \"%s\".";
constexpr char16_t kSFloatType[] = u"Not supported Float DataType (%d) was found for Field \"%s\".";
constexpr char16_t kSDatetimeType[] = u"Not supported Date BufferType (%d) was found for Field \"%s\".";
constexpr char16_t kSBinaryType[] = u"Not supported Binary DataType (%d) was found for Field \"%s\".";

// The integer value of a fixed numeric column; Trunc for a double.
std::int64_t IntegerOf(SQLSMALLINT DataType, const std::uint8_t* Value) {
  switch (DataType) {
    case SQL_INTEGER: return ReadAt<std::int32_t>(Value);
    case SQL_SMALLINT: return ReadAt<std::int16_t>(Value);
    case SQL_TINYINT: return ReadAt<std::uint8_t>(Value);
    case SQL_BIGINT: return ReadAt<std::int64_t>(Value);
    default: {
      const double d = ReadAt<double>(Value);
      // Outside the 64-bit range the conversion is not defined; clamp.
      if (!(d > -9223372036854775808.0)) return std::numeric_limits<std::int64_t>::min();
      if (!(d < 9223372036854775808.0)) return std::numeric_limits<std::int64_t>::max();
      return static_cast<std::int64_t>(d);
    }
  }
}

bool IsIntegerOrDouble(SQLSMALLINT DataType) {
  return DataType == SQL_INTEGER || DataType == SQL_SMALLINT || DataType == SQL_TINYINT || DataType == SQL_BIGINT ||
         DataType == SQL_DOUBLE;
}

}  // namespace

void TODBCStatement::CheckFieldIndex(int FieldIndex) const {
  if (FieldIndex < 0 || FieldIndex >= FFieldDefCount) throw Exception(kSFieldIndex, {FieldIndex});
}

const TSQLFieldDef& TODBCStatement::FieldDef(int FieldIndex) const {
  CheckFieldIndex(FieldIndex);
  return FFieldDefs[static_cast<std::size_t>(FieldIndex)];
}

int TODBCStatement::FieldIndex(const String& FieldName) const {
  for (int i = 0; i < FFieldDefCount; ++i)
    if (FFieldDefs[static_cast<std::size_t>(i)].FieldName == FieldName) return i;
  throw Exception(kSFieldName, {FieldName});
}

String TODBCStatement::FieldName(int FieldIndex) const { return FieldDef(FieldIndex).FieldName; }

const std::uint8_t* TODBCStatement::SlotValue(int FieldIndex) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  // Before the first row, after the last one or on a closed cursor there is
  // no row to read, and the buffer may still hold an earlier rowset.
  if (!FBuffer || FActRecordIndex >= FActRecordCount) throw Exception(kSNoCurrentRecord);
  return Slot(FActRecordIndex, def);
}

SQLLEN TODBCStatement::SlotIndicator(int FieldIndex) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  return ReadAt<SQLLEN>(SlotValue(FieldIndex) + def.BufferSize);
}

String TODBCStatement::FixedText(int FieldIndex) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  const auto cut = FCutTexts.find({FActRecordIndex, FieldIndex});
  if (cut != FCutTexts.end()) return ReadText(reinterpret_cast<const std::uint8_t*>(cut->second.c_str()), cut->second.size());
  return ReadText(SlotValue(FieldIndex), static_cast<std::size_t>(def.BufferSize) / 2);
}

bool TODBCStatement::IsNullValue(int FieldIndex) const {
  return IsNullIndicator(FieldDef(FieldIndex).DataType, SlotIndicator(FieldIndex));
}

String TODBCStatement::StringValue(int FieldIndex) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  switch (def.DataType) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_DOUBLE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_WCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_LONGVARBINARY:
      break;
    default:
      throw Exception(kSStringType, {static_cast<int>(def.DataType), def.FieldName});
  }
  const std::uint8_t* value = SlotValue(FieldIndex);
  const SQLLEN indicator = SlotIndicator(FieldIndex);
  if (IsNullIndicator(def.DataType, indicator)) return String();
  switch (def.DataType) {
    case SQL_DOUBLE:
      return FloatToPlainText(ReadAt<double>(value));
    case SQL_TYPE_TIMESTAMP:
      return TimestampToText(ReadAt<SQL_TIMESTAMP_STRUCT>(value));
    case SQL_WCHAR:
      return FixedText(FieldIndex);
    case SQL_WLONGVARCHAR: {
      const std::uint8_t* block = ReadAt<std::uint8_t*>(value);
      return block ? ReadText(block, static_cast<std::size_t>(indicator) / 2) : String();
    }
    case SQL_LONGVARBINARY: {
      const std::uint8_t* block = ReadAt<std::uint8_t*>(value);
      return block ? BinBufferToANSIStr(block, static_cast<int>(indicator)) : String();
    }
    default:
      return IntToStr(IntegerOf(def.DataType, value));
  }
}

bool TODBCStatement::BitValue(int FieldIndex, bool Default) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  if (!IsIntegerOrDouble(def.DataType)) throw Exception(kSBitType, {static_cast<int>(def.DataType), def.FieldName});
  const std::uint8_t* value = SlotValue(FieldIndex);
  if (IsNullIndicator(def.DataType, SlotIndicator(FieldIndex))) return Default;
  return static_cast<std::uint8_t>(IntegerOf(def.DataType, value)) != 0;
}

std::int16_t TODBCStatement::SmallintValue(int FieldIndex, std::int16_t Default) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  if (!IsIntegerOrDouble(def.DataType))
    throw Exception(kSSmallintType, {static_cast<int>(def.DataType), def.FieldName});
  const std::uint8_t* value = SlotValue(FieldIndex);
  if (IsNullIndicator(def.DataType, SlotIndicator(FieldIndex))) return Default;
  return static_cast<std::int16_t>(IntegerOf(def.DataType, value));
}

std::int32_t TODBCStatement::IntegerValue(int FieldIndex, std::int32_t Default) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  if (!IsIntegerOrDouble(def.DataType))
    throw Exception(kSIntegerType, {static_cast<int>(def.DataType), def.FieldName});
  const std::uint8_t* value = SlotValue(FieldIndex);
  if (IsNullIndicator(def.DataType, SlotIndicator(FieldIndex))) return Default;
  return static_cast<std::int32_t>(IntegerOf(def.DataType, value));
}

std::int64_t TODBCStatement::BigintValue(int FieldIndex, std::int64_t Default) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  if (!IsIntegerOrDouble(def.DataType)) throw Exception(kSBigintType, {static_cast<int>(def.DataType), def.FieldName});
  const std::uint8_t* value = SlotValue(FieldIndex);
  if (IsNullIndicator(def.DataType, SlotIndicator(FieldIndex))) return Default;
  return IntegerOf(def.DataType, value);
}

double TODBCStatement::FloatValue(int FieldIndex) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  if (!IsIntegerOrDouble(def.DataType) && def.DataType != SQL_TYPE_TIMESTAMP)
    throw Exception(kSFloatType, {static_cast<int>(def.DataType), def.FieldName});
  const std::uint8_t* value = SlotValue(FieldIndex);
  if (IsNullIndicator(def.DataType, SlotIndicator(FieldIndex))) return 0;
  if (def.DataType == SQL_DOUBLE) return ReadAt<double>(value);
  if (def.DataType == SQL_TYPE_TIMESTAMP) return TimestampToDateTime(ReadAt<SQL_TIMESTAMP_STRUCT>(value));
  return static_cast<double>(IntegerOf(def.DataType, value));
}

TDateTime TODBCStatement::DatetimeValue(int FieldIndex, TDateTime Default) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  if (def.DataType != SQL_TYPE_TIMESTAMP && def.DataType != SQL_WCHAR)
    throw Exception(kSDatetimeType, {static_cast<int>(def.DataType), def.FieldName});
  const std::uint8_t* value = SlotValue(FieldIndex);
  if (IsNullIndicator(def.DataType, SlotIndicator(FieldIndex))) return Default;
  if (def.DataType == SQL_TYPE_TIMESTAMP) return TimestampToDateTime(ReadAt<SQL_TIMESTAMP_STRUCT>(value));
  return TextToDateTime(FixedText(FieldIndex));
}

Bytes TODBCStatement::BinaryValue(int FieldIndex) const {
  const TSQLFieldDef& def = FieldDef(FieldIndex);
  if (def.DataType != SQL_LONGVARBINARY)
    throw Exception(kSBinaryType, {static_cast<int>(def.DataType), def.FieldName});
  const std::uint8_t* value = SlotValue(FieldIndex);
  const SQLLEN indicator = SlotIndicator(FieldIndex);
  const std::uint8_t* block = ReadAt<std::uint8_t*>(value);
  if (IsNullIndicator(def.DataType, indicator) || !block) return Bytes();
  return Bytes(block, block + indicator);
}

}  // namespace zo
