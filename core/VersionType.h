// The version kind a database's version stamp carries.
#pragma once

#include <cstdint>

#include "core/String.h"

namespace zo {

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

}  // namespace zo
