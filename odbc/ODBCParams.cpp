#include "odbc/ODBCParams.h"

#include <cstring>

#include "core/DateTime.h"
#include "core/Exception.h"
#include "core/StringUtils.h"
#include "odbc/ODBCBuffers.h"
#include "odbc/ODBCStatement.h"

namespace zo {

namespace {

constexpr char16_t kSParamType[] = u"Not supported ParamType (%d) was found.";
constexpr char16_t kSMaxParamCount[] = u"Maximum parameter count reached ( %d ). ";

bool IsParamDataType(SQLSMALLINT Value) {
  switch (Value) {
    case SQL_INTEGER:
    case SQL_SMALLINT:
    case SQL_DOUBLE:
    case SQL_TYPE_TIMESTAMP:
    case SQL_WLONGVARCHAR:
    case SQL_WCHAR:
    case SQL_TINYINT:
    case SQL_BIGINT:
    case SQL_LONGVARBINARY:
      return true;
    default:
      return false;
  }
}

bool IsTextDataType(SQLSMALLINT Value) { return Value == SQL_WCHAR || Value == SQL_WLONGVARCHAR; }

}  // namespace

// ---------------------------------------------------------------------------
// TODBCParam

void TODBCParam::FreeBuffer() {
  FBuffer.reset();
  FBufferSize = 0;
  FPrecision = 0;
  FScale = 0;
}

void TODBCParam::Clear() {
  FDataType = 0;
  FreeBuffer();
}

void TODBCParam::SetDataType(SQLSMALLINT Value) {
  Clear();
  if (!IsParamDataType(Value)) throw Exception(kSParamType, {static_cast<int>(Value)});
  FDataType = Value;
  FCDataType = DataTypeToCDataType(Value);
}

void TODBCParam::AllocateBuffer(std::size_t ValueSize) {
  FBufferSize = CBufferTypeSize(FCDataType, ValueSize);
  // Zeroed: a text's terminating NUL is already in place.
  FBuffer.reset(new std::uint8_t[FBufferSize]());
}

void TODBCParam::SetTimestamp(double Value) {
  int year, month, day, hour, minute, second, msec;
  DecodeDateTime(Value, year, month, day, hour, minute, second, msec);
  SQL_TIMESTAMP_STRUCT ts{};
  ts.year = static_cast<SQLSMALLINT>(year);
  ts.month = static_cast<SQLUSMALLINT>(month);
  ts.day = static_cast<SQLUSMALLINT>(day);
  ts.hour = static_cast<SQLUSMALLINT>(hour);
  ts.minute = static_cast<SQLUSMALLINT>(minute);
  ts.second = static_cast<SQLUSMALLINT>(second);
  ts.fraction = static_cast<SQLUINTEGER>(msec) * 1000000u;
  WriteAt(FBuffer.get(), ts);
  FPrecision = 23;
  FScale = 3;
}

void TODBCParam::SetValue(const void* Value, std::int32_t ValueSize) {
  FreeBuffer();
  if (!Value) return;
  // Only text and binary values read ValueSize; a negative one is no value.
  const std::size_t size =
      (IsTextDataType(FDataType) || FDataType == SQL_LONGVARBINARY) && ValueSize > 0 ? ValueSize : 0;
  if (IsTextDataType(FDataType)) {
    // Whole characters only.
    AllocateBuffer(size & ~std::size_t{1});
  } else {
    AllocateBuffer(size);
  }
  std::uint8_t* buffer = FBuffer.get();
  switch (FDataType) {
    case SQL_INTEGER: std::memcpy(buffer, Value, 4); break;
    case SQL_SMALLINT: std::memcpy(buffer, Value, 2); break;
    case SQL_TINYINT: std::memcpy(buffer, Value, 1); break;
    case SQL_DOUBLE:
    case SQL_BIGINT: std::memcpy(buffer, Value, 8); break;
    case SQL_TYPE_TIMESTAMP:
      try {
        SetTimestamp(ReadAt<double>(Value));
      } catch (...) {
        FreeBuffer();
        throw;
      }
      break;
    case SQL_WCHAR:
    case SQL_WLONGVARCHAR:
      std::memcpy(buffer, Value, size & ~std::size_t{1});
      FPrecision = static_cast<std::uint32_t>(size / 2);
      break;
    case SQL_LONGVARBINARY:
      if (size > 0) std::memcpy(buffer, Value, size);
      FPrecision = static_cast<std::uint32_t>(size);
      break;
    default:
      // An untyped parameter holds no value.
      FreeBuffer();
      break;
  }
}

void TODBCParam::SetValue(const String& ANSIValue) {
  FreeBuffer();
  if (ANSIValue.empty()) return;
  try {
    switch (FDataType) {
      case SQL_INTEGER:
        AllocateBuffer(0);
        WriteAt(FBuffer.get(), StrToInt(ANSIValue));
        break;
      case SQL_SMALLINT:
        AllocateBuffer(0);
        WriteAt(FBuffer.get(), static_cast<std::int16_t>(StrToInt(ANSIValue)));
        break;
      case SQL_TINYINT:
        AllocateBuffer(0);
        WriteAt(FBuffer.get(), static_cast<std::uint8_t>(StrToInt(ANSIValue)));
        break;
      case SQL_BIGINT:
        AllocateBuffer(0);
        WriteAt(FBuffer.get(), StrToInt64(ANSIValue));
        break;
      case SQL_DOUBLE:
        AllocateBuffer(0);
        WriteAt(FBuffer.get(), PlainTextToFloat(ANSIValue));
        break;
      case SQL_TYPE_TIMESTAMP:
        AllocateBuffer(0);
        SetTimestamp(TextToDateTime(ANSIValue));
        break;
      case SQL_WCHAR:
      case SQL_WLONGVARCHAR:
        AllocateBuffer(ANSIValue.size() * 2);
        std::memcpy(FBuffer.get(), ANSIValue.data(), ANSIValue.size() * 2);
        FPrecision = static_cast<std::uint32_t>(ANSIValue.size());
        break;
      case SQL_LONGVARBINARY: {
        const int count = BinaryTextLength(ANSIValue);
        AllocateBuffer(static_cast<std::size_t>(count));
        BinaryTextToBuffer(ANSIValue, FBuffer.get(), count);
        FPrecision = static_cast<std::uint32_t>(count);
        break;
      }
      default:
        break;
    }
  } catch (...) {
    // A text that does not convert leaves no half-set value behind: NULL.
    FreeBuffer();
    throw;
  }
}

String TODBCParam::GetValue() const {
  if (!FBuffer) return String();
  const std::uint8_t* buffer = FBuffer.get();
  switch (FDataType) {
    case SQL_INTEGER: return IntToStr(ReadAt<std::int32_t>(buffer));
    case SQL_SMALLINT: return IntToStr(ReadAt<std::int16_t>(buffer));
    case SQL_BIGINT: return IntToStr(ReadAt<std::int64_t>(buffer));
    case SQL_TINYINT: return IntToStr(ReadAt<std::uint8_t>(buffer));
    case SQL_DOUBLE: return FloatToPlainText(ReadAt<double>(buffer));
    case SQL_TYPE_TIMESTAMP: return TimestampToText(ReadAt<SQL_TIMESTAMP_STRUCT>(buffer));
    case SQL_WCHAR:
    case SQL_WLONGVARCHAR: return ReadText(buffer, FPrecision);
    case SQL_LONGVARBINARY: return BinBufferToANSIStr(buffer, static_cast<int>(FPrecision));
    default: return String();
  }
}

// ---------------------------------------------------------------------------
// TODBCParams

TODBCParams::~TODBCParams() { Clear(); }

void TODBCParams::Clear() {
  while (!FItems.empty()) FItems.pop_back();
}

TODBCParam* TODBCParams::GetParam(int Index) const {
  if (Index < 0 || Index >= Count()) throw EListError(kSListIndexError, {Index});
  return FItems[static_cast<std::size_t>(Index)].get();
}

void TODBCParams::MoveParams(TODBCParams* Source) {
  if (!Source || Source == this) return;
  for (auto& item : Source->FItems) FItems.push_back(std::move(item));
  Source->FItems.clear();
}

TODBCParam* TODBCParams::AppendParam() {
  if (Count() >= kMaxParamCount) throw Exception(kSMaxParamCount, {kMaxParamCount});
  FItems.push_back(std::make_unique<TODBCParam>());
  return FItems.back().get();
}

TODBCParam* TODBCParams::CreateParam(SQLSMALLINT ADataType, const String& ANSIValue) {
  TODBCParam* param = AppendParam();
  param->SetDataType(ADataType);
  param->SetValue(ANSIValue);
  return param;
}

TODBCParam* TODBCParams::CreateParam(SQLSMALLINT ADataType, const void* Value, std::int32_t ValueSize) {
  TODBCParam* param = AppendParam();
  param->SetDataType(ADataType);
  param->SetValue(Value, ValueSize);
  return param;
}

}  // namespace zo
