#include "platform/FileStream.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/Utf.h"

namespace zo {

int TFileHandle::Open(const std::u16string& path, OpenKind kind) {
  FFile.Reset();
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
  TDescriptor file(fd);
  // A directory opens read-only on POSIX; it is not a file for a stream, and
  // neither is a pipe, a socket or a device.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  FFile = std::move(file);
  return 0;
}

int TFileHandle::Seek(std::int64_t offset, TSeekFrom from, std::int64_t& position) {
  const int whence = from == sfBeginning ? SEEK_SET : from == sfCurrent ? SEEK_CUR : SEEK_END;
  const off_t result = ::lseek(FFile.Get(), offset, whence);
  if (result < 0) return errno;
  position = result;
  return 0;
}

int TFileHandle::Truncate(std::int64_t size) {
  int rc;
  do {
    rc = ::ftruncate(FFile.Get(), size);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 ? 0 : errno;
}

int TFileHandle::Sync() { return ::fsync(FFile.Get()) == 0 ? 0 : errno; }

int TFileHandle::Size(std::int64_t& size) const {
  struct stat st {};
  if (::fstat(FFile.Get(), &st) != 0) return errno;
  size = st.st_size;
  return 0;
}

}  // namespace zo
