#include "core/VersionType.h"

#include "core/Exception.h"
#include "core/StringUtils.h"

namespace zo {

TCDBVersionType TCDBVersionTypeHelper::FromString(StringView Text) {
  if (Text.empty()) {
    throw Exception(u"Internal error - empty value not allowed in TCDBVersionTypeHelper.FromString function");
  }
  // Only the low byte is kept, as the stamp stores one byte.
  return static_cast<TCDBVersionType>(static_cast<std::uint32_t>(StrToInt(Text)) & 0xFFu);
}

}  // namespace zo
