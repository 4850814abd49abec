#include "platform/Descriptor.h"

#include <unistd.h>

#include <cerrno>

namespace zo {

namespace {

// Repeats a transfer, which may move fewer bytes than asked (a signal, a
// pipe), until count bytes have moved or the file has no more.
template <typename Transfer>
int TransferAll(std::int64_t count, std::int64_t& moved, Transfer transfer) {
  moved = 0;
  while (moved < count) {
    const ssize_t n = transfer(moved);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) break;
    moved += n;
  }
  return 0;
}

}  // namespace

void TDescriptor::Reset(std::intptr_t handle) {
  if (FFd >= 0) ::close(static_cast<int>(FFd));
  FFd = handle;
}

int TDescriptor::Close() {
  const int fd = static_cast<int>(std::exchange(FFd, -1));
  if (fd < 0) return 0;
  return ::close(fd) == 0 ? 0 : errno;
}

int TDescriptor::Read(void* buffer, std::int64_t count, std::int64_t& moved) const {
  auto* out = static_cast<char*>(buffer);
  return TransferAll(count, moved, [&](std::int64_t done) {
    return ::read(static_cast<int>(FFd), out + done, static_cast<size_t>(count - done));
  });
}

int TDescriptor::ReadAt(std::int64_t position, void* buffer, std::int64_t count, std::int64_t& moved) const {
  auto* out = static_cast<char*>(buffer);
  return TransferAll(count, moved, [&](std::int64_t done) {
    return ::pread(static_cast<int>(FFd), out + done, static_cast<size_t>(count - done), static_cast<off_t>(position + done));
  });
}

int TDescriptor::Write(const void* buffer, std::int64_t count, std::int64_t& moved) const {
  return WriteAll(static_cast<int>(FFd), buffer, count, moved);
}

int WriteAll(int fd, const void* buffer, std::int64_t count, std::int64_t& moved) {
  const auto* in = static_cast<const char*>(buffer);
  return TransferAll(count, moved, [&](std::int64_t done) {
    return ::write(fd, in + done, static_cast<size_t>(count - done));
  });
}

}  // namespace zo
