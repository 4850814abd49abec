// TLargeBuffer on Windows: memory from the heap. Large pages there need a
// privilege that ordinary users lack, so the buffer does not ask for them.
#include "platform/LargeBuffer.h"

#include <new>
#include <utility>

namespace zo {

TLargeBuffer::TLargeBuffer(std::size_t size) : FSize(size) {
  FMappingSize = size == 0 ? 1 : size;
  FMapping = ::operator new(FMappingSize);
  FData = static_cast<std::uint8_t*>(FMapping);
}

TLargeBuffer::~TLargeBuffer() { Release(); }

TLargeBuffer::TLargeBuffer(TLargeBuffer&& other) noexcept
    : FData(std::exchange(other.FData, nullptr)), FSize(std::exchange(other.FSize, 0)),
      FMapping(std::exchange(other.FMapping, nullptr)), FMappingSize(std::exchange(other.FMappingSize, 0)) {}

TLargeBuffer& TLargeBuffer::operator=(TLargeBuffer&& other) noexcept {
  if (this != &other) {
    Release();
    FData = std::exchange(other.FData, nullptr);
    FSize = std::exchange(other.FSize, 0);
    FMapping = std::exchange(other.FMapping, nullptr);
    FMappingSize = std::exchange(other.FMappingSize, 0);
  }
  return *this;
}

void TLargeBuffer::Release() {
  ::operator delete(FMapping);
  FMapping = nullptr;
  FData = nullptr;
}

}  // namespace zo
