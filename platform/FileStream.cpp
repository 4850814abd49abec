#include "platform/FileStream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Utf.h"

namespace zo {

namespace {

// Repeats a read or write, which may move fewer bytes than asked (a signal,
// a pipe), until count bytes have moved or the file has no more. Returns the
// count moved, or -1 (errno set) when an error came before any byte moved.
template <typename Transfer>
std::int64_t TransferAll(std::int64_t count, Transfer transfer) {
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n = transfer(done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return done > 0 ? done : -1;
    }
    if (n == 0) break;
    done += n;
  }
  return done;
}

}  // namespace

TFileHandle& TFileHandle::operator=(TFileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

int TFileHandle::Open(const std::u16string& path, OpenKind kind) {
  Close();
  int flags = O_CLOEXEC;
  switch (kind) {
    case OpenKind::Read: flags |= O_RDONLY; break;
    case OpenKind::Write: flags |= O_WRONLY; break;
    case OpenKind::ReadWrite: flags |= O_RDWR; break;
    case OpenKind::Create: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
  }
  const std::string native = ToOsPath(path);
  int fd;
  // Not blocking: opening a named pipe would otherwise wait for a writer
  // (forever, when there is none). Anything but a regular file is refused
  // below, so the flag never matters for what is read or written.
  do {
    fd = ::open(native.c_str(), flags | O_NONBLOCK, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  // A directory opens read-only on POSIX; it is not a file for a stream, and
  // neither is a pipe, a socket or a device.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
    ::close(fd);
    return error;
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
  return 0;
}

void TFileHandle::Close() {
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
}

std::int64_t TFileHandle::Read(void* buffer, std::int64_t count) {
  auto* out = static_cast<char*>(buffer);
  return TransferAll(count, [&](std::int64_t done) {
    return ::read(fd_, out + done, static_cast<size_t>(count - done));
  });
}

std::int64_t TFileHandle::ReadAt(std::int64_t position, void* buffer, std::int64_t count) const {
  auto* out = static_cast<char*>(buffer);
  return TransferAll(count, [&](std::int64_t done) {
    return ::pread(fd_, out + done, static_cast<size_t>(count - done), static_cast<off_t>(position + done));
  });
}

std::int64_t TFileHandle::Write(const void* buffer, std::int64_t count) {
  const auto* in = static_cast<const char*>(buffer);
  return TransferAll(count, [&](std::int64_t done) {
    return ::write(fd_, in + done, static_cast<size_t>(count - done));
  });
}

std::int64_t TFileHandle::Seek(std::int64_t offset, int whence) {
  return ::lseek(fd_, offset, whence);
}

int TFileHandle::Truncate(std::int64_t size) {
  int rc;
  do {
    rc = ::ftruncate(fd_, size);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

int TFileHandle::Sync() { return ::fsync(fd_) == 0 ? 0 : errno; }

std::int64_t TFileHandle::Size() const {
  struct stat st;
  if (::fstat(fd_, &st) != 0) return -1;
  return st.st_size;
}

}  // namespace zo
