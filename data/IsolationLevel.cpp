#include "data/IsolationLevel.h"

#include "core/Exception.h"
#include "core/ServerType.h"
#include "core/StringUtils.h"

namespace zo {

namespace {

TCIsolationLevel LowByteLevel(std::int32_t Value) {
  return static_cast<TCIsolationLevel>(static_cast<std::uint8_t>(Value & 0xFF));
}

}  // namespace

String TCIsolationLevelHelper::ToString(TCIsolationLevel Level) {
  return IntToStr(static_cast<std::uint8_t>(Level));
}

String TCIsolationLevelHelper::ToDisplayString(TCIsolationLevel Level) {
  // Any byte other than 0 came from FromInteger without a range check; it is
  // shown as the stricter level, as the statement texts treat it.
  return Level == ilReadCommitted ? u"Read committed" : u"Serializable";
}

void TCIsolationLevelHelper::FromInteger(TCIsolationLevel& Level, std::int32_t Value) {
  Level = LowByteLevel(Value);
}

void TCIsolationLevelHelper::FromString(TCIsolationLevel& Level, StringView Value) {
  if (Value.empty())
    throw Exception(String(u"Internal error - empty value not allowed in TCIsolationLevelHelper.FromString function"));
  Level = LowByteLevel(StrToInt(Value));
}

TNCIsolationLevel TNCIsolationLevel::Create(NInteger AValue) {
  TNCIsolationLevel result;
  if (!AValue.FNull) result = LowByteLevel(AValue.FValue);
  return result;
}

TNCIsolationLevel TNCIsolationLevel::Create(StringView AValue) {
  TNCIsolationLevel result;
  if (!AValue.empty()) {
    TCIsolationLevel level = ilReadCommitted;
    TCIsolationLevelHelper::FromString(level, AValue);
    result = level;
  }
  return result;
}

String TNCIsolationLevel::ToString() const {
  return FNull ? String() : TCIsolationLevelHelper::ToString(FValue);
}

String TNCIsolationLevel::ToDisplayString() const {
  return FNull ? String() : TCIsolationLevelHelper::ToDisplayString(FValue);
}

String GetIsolationLevelText(TCIsolationLevel Level) {
  const bool readCommitted = Level == ilReadCommitted;
  switch (CurrentSQLServerType) {
    case stSQLServer:
      // The stricter level is row versioning, not range locks.
      return readCommitted ? u"set transaction isolation level read committed"
                           : u"set transaction isolation level snapshot";
    case stOracle:
      return readCommitted ? u"alter session set isolation_level = read committed"
                           : u"alter session set isolation_level = serializable";
    case stPostgreSQL:
      // PostgreSQL's "set transaction" only affects a transaction already
      // begun, and outside one it is a mere warning: the level is set before
      // "begin transaction", so it has to be the session's default level.
      return readCommitted ? u"set session characteristics as transaction isolation level read committed"
                           : u"set session characteristics as transaction isolation level serializable";
    default:
      throw Exception(u"Not supported SQL server type \"%s\" in function GetIsolationLevelText",
                      {SQLServerTypeName(CurrentSQLServerType)});
  }
}

}  // namespace zo
