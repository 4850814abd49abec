#include "core/Types.h"

#include "core/Exception.h"
#include "core/StringUtils.h"
#include "platform/Environment.h"

namespace zo {

TSQLServerType CurrentSQLServerType = stSQLServer;

String SQLServerTypeName(TSQLServerType Value) {
  switch (Value) {
    case stUnknown: return u"Unknown";
    case stSQLServer: return u"SQLServer";
    case stSybase: return u"Sybase";
    case stOracle: return u"Oracle";
    case stdBase: return u"dBase";
    case stXML: return u"XML";
    case stPostgreSQL: return u"PostgreSQL";
  }
  return u"Unknown";
}

TCDBVersionType TCDBVersionTypeHelper::FromString(StringView Text) {
  if (Text.empty()) {
    throw Exception(u"Internal error - empty value not allowed in TCDBVersionTypeHelper.FromString function");
  }
  // Only the low byte is kept, as the stamp stores one byte.
  return static_cast<TCDBVersionType>(static_cast<std::uint32_t>(StrToInt(Text)) & 0xFFu);
}

namespace {

constexpr size_t kMaxComputerNameLength = 49;

String ReadComputerName() {
  String name = GetEnvironmentVariable(u"ComputerName").value_or(GetHostName());
  if (name.size() > kMaxComputerNameLength) {
    size_t cut = kMaxComputerNameLength;
    // Never keep half of a surrogate pair.
    if (name[cut - 1] >= 0xD800 && name[cut - 1] <= 0xDBFF) --cut;
    name.resize(cut);
  }
  return name;
}

}  // namespace

const String& ComputerName() {
  static const String name = ReadComputerName();
  return name;
}

}  // namespace zo
