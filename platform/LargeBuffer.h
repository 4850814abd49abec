// Memory for a buffer of many MiB that is filled in one go (an entry
// inflated whole). Fresh memory costs a page fault on first touch for every
// page; where the system offers pages of 2 MiB, the buffer asks for them, so
// that filling it costs a few faults rather than thousands. The contents are
// not cleared.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zo {

class TLargeBuffer {
 public:
  // Throws std::bad_alloc when the system has no memory for size bytes.
  explicit TLargeBuffer(std::size_t size);
  ~TLargeBuffer();
  TLargeBuffer(TLargeBuffer&& other) noexcept;
  TLargeBuffer& operator=(TLargeBuffer&& other) noexcept;
  TLargeBuffer(const TLargeBuffer&) = delete;
  TLargeBuffer& operator=(const TLargeBuffer&) = delete;

  std::uint8_t* Data() const { return FData; }
  std::size_t Size() const { return FSize; }

 private:
  void Release();
  // The system's own half (posix/, win32/): the constructor above, and
  // giving back what it took.
  static void FreeMapping(void* mapping, std::size_t size);

  std::uint8_t* FData = nullptr;   // the buffer, within the mapping
  std::size_t FSize = 0;
  void* FMapping = nullptr;        // what the system gave, to give back
  std::size_t FMappingSize = 0;
};

}  // namespace zo
