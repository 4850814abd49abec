#include "platform/Descriptor.h"

#include <io.h>

#include <algorithm>

#include "platform/win32/Win32.h"

namespace zo {

namespace {

// One ReadFile or WriteFile moves at most a DWORD's worth.
constexpr std::int64_t kChunk = 1 << 30;

DWORD ChunkOf(std::int64_t left) { return static_cast<DWORD>(std::min(left, kChunk)); }

int WriteToHandle(HANDLE handle, const void* buffer, std::int64_t count, std::int64_t& moved) {
  moved = 0;
  const auto* in = static_cast<const char*>(buffer);
  while (moved < count) {
    DWORD n = 0;
    if (!::WriteFile(handle, in + moved, ChunkOf(count - moved), &n, nullptr)) return LastErrno();
    if (n == 0) return ENOSPC;
    moved += n;
  }
  return 0;
}

}  // namespace

void TDescriptor::Reset(std::intptr_t handle) {
  if (FFd != -1) ::CloseHandle(HandleOf(*this));
  FFd = handle;
}

int TDescriptor::Close() {
  const std::intptr_t handle = std::exchange(FFd, -1);
  if (handle == -1) return 0;
  return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) ? 0 : LastErrno();
}

int TDescriptor::Read(void* buffer, std::int64_t count, std::int64_t& moved) const {
  moved = 0;
  auto* out = static_cast<char*>(buffer);
  while (moved < count) {
    DWORD n = 0;
    if (!::ReadFile(HandleOf(*this), out + moved, ChunkOf(count - moved), &n, nullptr)) {
      // The writer of a pipe has gone: that is its end, not a failure.
      if (::GetLastError() == ERROR_BROKEN_PIPE) break;
      return LastErrno();
    }
    if (n == 0) break;
    moved += n;
  }
  return 0;
}

int TDescriptor::ReadAt(std::int64_t position, void* buffer, std::int64_t count, std::int64_t& moved) const {
  // Each read names its offset, so reads of several threads at once do not
  // disturb one another. The file's position is left where the last one
  // ended (ReadFile moves it on a handle opened for synchronous use); saving
  // and restoring it around the read would race with the other threads.
  moved = 0;
  auto* out = static_cast<char*>(buffer);
  while (moved < count) {
    OVERLAPPED at{};
    const std::uint64_t offset = static_cast<std::uint64_t>(position + moved);
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD n = 0;
    if (!::ReadFile(HandleOf(*this), out + moved, ChunkOf(count - moved), &n, &at))
      return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : LastErrno();
    if (n == 0) break;
    moved += n;
  }
  return 0;
}

int TDescriptor::Write(const void* buffer, std::int64_t count, std::int64_t& moved) const {
  return WriteToHandle(HandleOf(*this), buffer, count, moved);
}

int WriteAll(int fd, const void* buffer, std::int64_t count, std::int64_t& moved) {
  // Borrowed, not owned: the C runtime keeps the handle.
  return WriteToHandle(reinterpret_cast<HANDLE>(::_get_osfhandle(fd)), buffer, count, moved);
}

}  // namespace zo
