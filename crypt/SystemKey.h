// The AES-256 key built into the programs. Every database version stamp the
// upgrade tool handles is enciphered with it; the reference upgrade program
// and the tests use the same one. Defined once, in SystemKey.cpp.
#pragma once

#include <array>
#include <cstdint>

namespace zo {

extern const std::array<std::uint8_t, 32> SystemKey;

}  // namespace zo
