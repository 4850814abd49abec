// TLargeBuffer on Windows: memory from the heap. Large pages there need a
// privilege that ordinary users lack, so the buffer does not ask for them.
#include "platform/LargeBuffer.h"

#include <new>

namespace zo {

TLargeBuffer::TLargeBuffer(std::size_t size) : FSize(size) {
  FMappingSize = size == 0 ? 1 : size;
  FMapping = ::operator new(FMappingSize);
  FData = static_cast<std::uint8_t*>(FMapping);
}

void TLargeBuffer::FreeMapping(void* mapping, std::size_t) { ::operator delete(mapping); }

}  // namespace zo
