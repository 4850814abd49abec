// The "?" parameters of a statement: each one a value with its ODBC data type
// and a buffer in the form the driver reads at execution time.
//
// Values are set from memory (a number, a date-time value, UTF-16 characters,
// bytes) or from their text form; the empty text and a null address make a
// parameter NULL. A parameter's buffer stays put from binding until the
// execution has returned.
#pragma once

#include "odbc/ODBCHeaders.h"

#include <cstdint>
#include <memory>
#include <vector>

#include "core/String.h"

namespace zo {

class TODBCParam {
 public:
  TODBCParam() = default;
  ~TODBCParam() = default;
  TODBCParam(const TODBCParam&) = delete;
  TODBCParam& operator=(const TODBCParam&) = delete;

  // Data type := 0, the value becomes NULL; the C type is kept.
  void Clear();

  SQLSMALLINT DataType() const { return FDataType; }
  // Clears, then accepts one of the nine buffer data types or raises
  // "Not supported ParamType (%d) was found." leaving data type 0.
  void SetDataType(SQLSMALLINT Value);

  // From memory: ValueSize counts bytes and is read for text and binary
  // values only; a null Value makes the parameter NULL. A timestamp is read
  // from a TDateTime.
  void SetValue(const void* Value, std::int32_t ValueSize);
  // From the text form; the empty text makes the parameter NULL.
  void SetValue(const String& ANSIValue);
  // The text form; the empty text for NULL.
  String GetValue() const;

  SQLSMALLINT ParamType() const { return FParamType; }
  SQLSMALLINT CDataType() const { return FCDataType; }
  const std::uint8_t* Buffer() const { return FBuffer.get(); }
  std::uint64_t BufferSize() const { return FBufferSize; }
  std::uint32_t Precision() const { return FPrecision; }
  SQLSMALLINT Scale() const { return FScale; }
  bool IsNull() const { return !FBuffer; }

 private:
  void FreeBuffer();
  void AllocateBuffer(std::size_t ValueSize);
  void SetTimestamp(double Value);

  SQLSMALLINT FParamType = SQL_PARAM_INPUT;
  SQLSMALLINT FDataType = 0;
  SQLSMALLINT FCDataType = 0;
  std::unique_ptr<std::uint8_t[]> FBuffer;
  std::uint64_t FBufferSize = 0;
  std::uint32_t FPrecision = 0;
  SQLSMALLINT FScale = 0;

  friend class TODBCStatement;
};

class TODBCParams {
 public:
  // At most this many parameters per statement.
  static constexpr int kMaxParamCount = 1024;

  TODBCParams() = default;
  virtual ~TODBCParams();
  TODBCParams(const TODBCParams&) = delete;
  TODBCParams& operator=(const TODBCParams&) = delete;

  // Frees every parameter, the last one first.
  void Clear();
  int Count() const { return static_cast<int>(FItems.size()); }
  // Index from 0; outside the list raises the list-index error.
  TODBCParam* GetParam(int Index) const;
  TODBCParam* operator[](int Index) const { return GetParam(Index); }
  // Appends Source's parameters in order and empties Source; ownership passes here.
  void MoveParams(TODBCParams* Source);

  // A new parameter at the end, typed and set. It is appended before it is
  // typed, so when typing or setting fails it stays in the collection.
  TODBCParam* CreateParam(SQLSMALLINT ADataType, const String& ANSIValue);
  TODBCParam* CreateParam(SQLSMALLINT ADataType, const void* Value, std::int32_t ValueSize);

  SQLLEN SQLNTS() const { return FSQLNTS; }
  SQLLEN SQLNULLDATA() const { return FSQLNULLDATA; }

 private:
  TODBCParam* AppendParam();

  // The driver reads these through the addresses given at binding, at
  // execution time, so they live as long as the collection.
  SQLLEN FSQLNTS = SQL_NTS;
  SQLLEN FSQLNULLDATA = SQL_NULL_DATA;
  std::vector<std::unique_ptr<TODBCParam>> FItems;
  SQLINTEGER SQLNILINT = 0;
  SQLLEN SQLNILLEN = 0;

  friend class TODBCStatement;
};

}  // namespace zo
