// TLargeBuffer on Linux: an anonymous mapping, its 2 MiB-aligned middle
// marked for transparent huge pages (madvise), which the kernel honours when
// its setting is "madvise" or "always" and ignores otherwise.
#include "platform/LargeBuffer.h"

#include <sys/mman.h>

#include <new>
#include <utility>

namespace zo {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

TLargeBuffer::TLargeBuffer(std::size_t size) : FSize(size) {
  // One huge page more than asked, so that an aligned stretch of size bytes fits.
  FMappingSize = size + kHugePage;
  FMapping = mmap(nullptr, FMappingSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (FMapping == MAP_FAILED) {
    FMapping = nullptr;
    throw std::bad_alloc();
  }
  const auto start = reinterpret_cast<std::uintptr_t>(FMapping);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  FData = reinterpret_cast<std::uint8_t*>(aligned);
  const std::size_t huge = (size + kHugePage - 1) / kHugePage * kHugePage;
  madvise(FData, huge, MADV_HUGEPAGE);   // advice only: small pages do as well
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
  if (FMapping != nullptr) munmap(FMapping, FMappingSize);
  FMapping = nullptr;
  FData = nullptr;
}

}  // namespace zo
