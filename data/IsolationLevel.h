// Transaction isolation levels: the level, its nullable form, the level every
// connection starts with, and the statement that sets a level on a session.
#pragma once

#include <cstdint>

#include "core/String.h"
#include "data/DataTypes.h"

namespace zo {

enum class TCIsolationLevel : std::uint8_t {
  ilReadCommitted = 0,
  ilSerializable = 1,
};
using enum TCIsolationLevel;

struct TCIsolationLevelHelper {
  // "0" or "1" (the decimal number of the level).
  static String ToString(TCIsolationLevel Level);
  // "Read committed" or "Serializable".
  static String ToDisplayString(TCIsolationLevel Level);
  // Level := the low byte of Value, without a range check.
  static void FromInteger(TCIsolationLevel& Level, std::int32_t Value);
  // Level := the low byte of the decimal integer Value ('257' gives
  // ilSerializable). The empty text raises an internal error, a text that is
  // not an integer the integer conversion error.
  static void FromString(TCIsolationLevel& Level, StringView Value);
};

// A nullable isolation level; null means "keep the current level". A null
// value always carries FValue ilReadCommitted (0).
struct TNCIsolationLevel {
  TCIsolationLevel FValue = ilReadCommitted;
  bool FNull = true;

  TNCIsolationLevel() = default;
  // Implicit, so that a plain level can be passed where a nullable one is expected.
  TNCIsolationLevel(TCIsolationLevel AValue) : FValue(AValue), FNull(false) {}

  // A null NInteger or the empty text give null; otherwise the low byte of
  // the number (text through TCIsolationLevelHelper::FromString).
  static TNCIsolationLevel Create(NInteger AValue);
  static TNCIsolationLevel Create(StringView AValue);
  void FromInteger(NInteger AValue) { *this = Create(AValue); }
  void FromString(StringView AValue) { *this = Create(AValue); }

  bool IsNull() const { return FNull; }
  // Empty for null, else the helper's text.
  String ToString() const;
  String ToDisplayString() const;

  friend bool operator==(const TNCIsolationLevel&, const TNCIsolationLevel&) = default;
};
static_assert(sizeof(TNCIsolationLevel) == 2);

// The level a connection starts with and returns to after its outermost
// commit or rollback. It never changes.
inline constexpr TCIsolationLevel DefaultIsolationLevel = ilReadCommitted;

// The statement that sets Level on the session, for the process-wide
// CurrentSQLServerType: SQL Server, Oracle and PostgreSQL. Any other kind
// raises "Not supported SQL server type "%s" in function GetIsolationLevelText".
String GetIsolationLevelText(TCIsolationLevel Level);

}  // namespace zo
