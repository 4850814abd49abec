// Data actions and their one-byte set, with which the data layer and the
// upgrade tool say what may be done (add, remove, ...).
#pragma once

#include <cstdint>
#include <initializer_list>

namespace zo {

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

}  // namespace zo
