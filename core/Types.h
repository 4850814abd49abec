// The enumerations shared by the data layer and the upgrade tool, and the
// process-wide values fixed at start-up.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "core/String.h"

namespace zo {

// Database server kinds.
enum class TSQLServerType : std::uint8_t {
  stUnknown = 0,
  stSQLServer = 1,
  stSybase = 2,
  stOracle = 3,
  stdBase = 4,
  stXML = 5,
  stPostgreSQL = 6,
};
using enum TSQLServerType;

// "Unknown", "SQLServer", "Sybase", "Oracle", "dBase", "XML", "PostgreSQL";
// "Unknown" for a value outside the enumeration.
String SQLServerTypeName(TSQLServerType Value);

// Data actions.
enum class TMTActionType : std::uint8_t {
  mtaInsert = 0,
  mtaUpdate = 1,
  mtaDelete = 2,
  mtaRead = 3,
  mtaIUpdate = 4,
  mtatUnknown = 5,
};
using enum TMTActionType;

// A set of TMTActionType in one byte, member n at bit n (mtaInsert = 1,
// mtaDelete = 4).
class TMTSActionType {
 public:
  constexpr TMTSActionType() = default;
  constexpr TMTSActionType(std::initializer_list<TMTActionType> members) {
    for (TMTActionType m : members) Include(m);
  }
  static constexpr TMTSActionType FromByte(std::uint8_t bits) {
    TMTSActionType s;
    s.FBits = bits;
    return s;
  }

  constexpr bool Contains(TMTActionType m) const { return (FBits & Bit(m)) != 0; }
  constexpr void Include(TMTActionType m) { FBits = static_cast<std::uint8_t>(FBits | Bit(m)); }
  constexpr void Exclude(TMTActionType m) { FBits = static_cast<std::uint8_t>(FBits & ~Bit(m)); }
  constexpr bool Empty() const { return FBits == 0; }
  constexpr std::uint8_t Byte() const { return FBits; }

  friend constexpr bool operator==(TMTSActionType, TMTSActionType) = default;
  friend constexpr TMTSActionType operator+(TMTSActionType a, TMTSActionType b) {
    return FromByte(static_cast<std::uint8_t>(a.FBits | b.FBits));
  }
  friend constexpr TMTSActionType operator-(TMTSActionType a, TMTSActionType b) {
    return FromByte(static_cast<std::uint8_t>(a.FBits & ~b.FBits));
  }
  friend constexpr TMTSActionType operator*(TMTSActionType a, TMTSActionType b) {
    return FromByte(static_cast<std::uint8_t>(a.FBits & b.FBits));
  }

 private:
  static constexpr std::uint8_t Bit(TMTActionType m) {
    return static_cast<std::uint8_t>(1u << (static_cast<unsigned>(m) & 7u));
  }
  std::uint8_t FBits = 0;
};

// The version kind carried in the database's version stamp. Values 3 to 255
// can be stored and read; they have no meaning.
enum class TCDBVersionType : std::uint8_t {
  cdbvtRelease = 0,
  cdbvtBeta = 1,
  cdbvtCorrupt = 2,
};
using enum TCDBVersionType;

struct TCDBVersionTypeHelper {
  // The low 8 bits of the decimal integer in Text ('258' gives 2). An empty
  // Text raises Exception("Internal error - empty value not allowed in
  // TCDBVersionTypeHelper.FromString function"); a non-number raises the
  // integer conversion error (EConvertError).
  static TCDBVersionType FromString(StringView Text);
};

// Number-format settings used by the floating-point text conversions: '.' as
// the decimal point, no thousands separator in output.
struct TFormatSettings {
  char16_t DecimalSeparator;
  char16_t ThousandSeparator;
};
inline constexpr TFormatSettings DotFormatSettings{u'.', u','};

// The server kind of the whole process; stSQLServer until changed. Written
// during start-up only (the upgrade tool's window sets it), read afterwards.
extern TSQLServerType CurrentSQLServerType;

// The two-letter product prefix used when naming database connections.
inline constexpr char16_t ProductPrefix[] = u"zo";

// The computer's name: the environment variable ComputerName when set, else
// the host name; at most 49 characters. Read once, on first use.
const String& ComputerName();

}  // namespace zo
