// A build without a whole-buffer codec: the engine uses zlib's streams alone.

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "zip/WholeBufferCodec.h"

namespace zo {

bool HaveWholeBufferCodec() { return false; }

std::optional<std::size_t> InflateWhole(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t) {
  return std::nullopt;
}

struct TWholeDeflater::TState {};

TWholeDeflater::TWholeDeflater(int level) : FLevel(level) {
  throw std::logic_error("no whole-buffer codec in this build");
}

TWholeDeflater::~TWholeDeflater() = default;

std::size_t TWholeDeflater::Bound(std::size_t) const { return 0; }

std::size_t TWholeDeflater::Deflate(const std::uint8_t*, std::size_t, std::uint8_t*, std::size_t) { return 0; }

std::uint32_t WholeBufferCrc32(std::uint32_t crc, const void* data, std::size_t size) {
  const auto* p = static_cast<const Bytef*>(data);
  // zlib takes a 32-bit length; feed larger pieces in parts.
  while (size > 0) {
    const uInt chunk = static_cast<uInt>(std::min<std::size_t>(size, std::numeric_limits<uInt>::max()));
    crc = static_cast<std::uint32_t>(::crc32(crc, p, chunk));
    p += chunk;
    size -= chunk;
  }
  return crc;
}

}  // namespace zo
