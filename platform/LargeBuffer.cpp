// What TLargeBuffer does the same on every system: moving and giving back.
// Taking the memory, and its return to the system, are each system's own
// (posix/LargeBuffer.cpp, win32/LargeBuffer.cpp).
#include "platform/LargeBuffer.h"

#include <utility>

namespace zo {

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
  if (FMapping != nullptr) FreeMapping(FMapping, FMappingSize);
  FMapping = nullptr;
  FData = nullptr;
}

}  // namespace zo
