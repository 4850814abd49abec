#include "data/DataTypes.h"

#include <array>

#include "core/StringUtils.h"

namespace zo {

String DataTypeName(ToDataType Value) {
  static constexpr std::array<const char16_t*, 10> kNames = {
      u"Unknown", u"Tinyint", u"Smallint", u"Integer", u"Bigint",
      u"Float",   u"DateTime", u"NVarchar", u"NClob",   u"Blob"};
  const auto index = static_cast<std::size_t>(Value);
  return index < kNames.size() ? kNames[index] : kNames[0];
}

ToDataType SystemFieldType(StringView Name) {
  static constexpr StringView kBigints[] = {u"ic", u"ic_a", u"ic_b", u"useric"};
  static constexpr StringView kIntegers[] = {u"u",         u"u_a",    u"u_b",      u"useru",   u"state",
                                             u"langstate", u"sstate", u"sstate_a", u"sstate_b"};
  for (StringView n : kBigints)
    if (Name == n) return odtBigint;
  for (StringView n : kIntegers)
    if (Name == n) return odtInteger;
  if (Name == u"remotekey") return odtNVarchar;
  return odtDateTime;
}

std::int32_t ActionSetToInteger(TMTSActionType Value) {
  std::int32_t result = 0;
  int bit = 0;
  for (TMTActionType action : {mtaInsert, mtaUpdate, mtaDelete, mtaRead})
    SetBitState(result, bit++, Value.Contains(action));
  return result;
}

TMTSActionType IntegerToActionSet(std::int32_t Value) {
  TMTSActionType result;
  int bit = 0;
  for (TMTActionType action : {mtaInsert, mtaUpdate, mtaDelete, mtaRead})
    if ((Value >> bit++) & 1) result.Include(action);
  return result;
}

}  // namespace zo
