// TLargeBuffer on Linux: an anonymous mapping, its 2 MiB-aligned middle
// marked for transparent huge pages (madvise), which the kernel honours when
// its setting is "madvise" or "always" and ignores otherwise.
#include "platform/LargeBuffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <new>

namespace zo {

namespace {
constexpr std::size_t kHugePage = std::size_t{2} << 20;
}

TLargeBuffer::TLargeBuffer(std::size_t size) : FSize(size) {
  // One huge page more than asked, so that an aligned stretch of size bytes
  // fits; what lies outside that stretch goes back at once, so that a byte
  // written past the end faults rather than landing in slack.
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  const std::size_t length = std::max<std::size_t>(page, (size + page - 1) / page * page);
  const std::size_t mapped = length + kHugePage;
  void* mapping = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) throw std::bad_alloc();
  const auto start = reinterpret_cast<std::uintptr_t>(mapping);
  const std::uintptr_t aligned = (start + kHugePage - 1) / kHugePage * kHugePage;
  if (aligned > start) munmap(mapping, aligned - start);
  const std::uintptr_t end = aligned + length;
  if (start + mapped > end) munmap(reinterpret_cast<void*>(end), start + mapped - end);
  FMapping = reinterpret_cast<void*>(aligned);
  FMappingSize = length;
  FData = static_cast<std::uint8_t*>(FMapping);
  madvise(FMapping, length, MADV_HUGEPAGE);   // advice only: small pages do as well
}

void TLargeBuffer::FreeMapping(void* mapping, std::size_t size) { munmap(mapping, size); }

}  // namespace zo
