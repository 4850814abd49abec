// The data layer's small vocabulary: field data types, the nullable integer,
// the types of the system columns every application table carries, and the
// bit mask of an action set handed to the upgrade program.
#pragma once

#include <cstdint>

#include "core/ActionSet.h"
#include "core/String.h"

namespace zo {

// Field data types. odtNClob and odtBlob are the long types: their columns
// must come last in a select list (TDBFieldsList::Sort arranges that).
enum class ToDataType : std::uint8_t {
  odtUnknown = 0,
  odtTinyint = 1,
  odtSmallint = 2,
  odtInteger = 3,
  odtBigint = 4,
  odtFloat = 5,
  odtDateTime = 6,
  odtNVarchar = 7,
  odtNClob = 8,
  odtBlob = 9,
};
using enum ToDataType;

// "Unknown", "Tinyint", ... "Blob"; "Unknown" for a value outside the enumeration.
String DataTypeName(ToDataType Value);

inline bool IsLongDataType(ToDataType Value) { return Value == odtNClob || Value == odtBlob; }

// The type of a system column by its exact (case-sensitive) name: the
// identifier halves "ic", "ic_a", "ic_b", "useric" are odtBigint; "u", "u_a",
// "u_b", "useru" and the state columns odtInteger; "remotekey" odtNVarchar;
// any other name odtDateTime.
ToDataType SystemFieldType(StringView Name);

// A nullable 32-bit integer. A null value always carries FValue 0.
struct NInteger {
  std::int32_t FValue = 0;
  bool FNull = true;

  static NInteger Null() { return NInteger{}; }
  static NInteger Of(std::int32_t Value) { return NInteger{Value, false}; }
  friend bool operator==(const NInteger&, const NInteger&) = default;
};

// The action set as a bit mask: bit 0 mtaInsert, 1 mtaUpdate, 2 mtaDelete,
// 3 mtaRead. mtaIUpdate and mtatUnknown have no bit.
std::int32_t ActionSetToInteger(TMTSActionType Value);
// The reverse: bits 0 to 3 give those four actions; other bits are ignored.
TMTSActionType IntegerToActionSet(std::int32_t Value);

}  // namespace zo
