// An owned file descriptor with the few operations a file stream needs.
//
// Failures are reported as the errno value (0 = success) so that callers can
// wrap them in their own error types; the descriptor is closed by the
// destructor on every way out.
#pragma once

#include <cstdint>
#include <string>

namespace zo {

class TFileHandle {
 public:
  enum class OpenKind : std::uint8_t { Read, Write, ReadWrite, Create };

  TFileHandle() = default;
  ~TFileHandle() { Close(); }
  TFileHandle(TFileHandle&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  TFileHandle& operator=(TFileHandle&& other) noexcept;
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  // Create makes the file (mode 0666 less the umask) or empties it; the others
  // open an existing file. Only regular files open: a directory is EISDIR,
  // a named pipe, socket or device EINVAL, at once (never waiting for a
  // pipe's writer). Returns 0 or errno.
  int Open(const std::u16string& path, OpenKind kind);
  void Close();
  bool IsOpen() const { return fd_ >= 0; }
  int Descriptor() const { return fd_; }

  // Each returns the count moved (which may be short) or -1 with errno set;
  // interrupted calls are resumed.
  std::int64_t Read(void* buffer, std::int64_t count);
  // Reads at position without moving the file's own position, so several
  // threads may read one file at once. As Read otherwise.
  std::int64_t ReadAt(std::int64_t position, void* buffer, std::int64_t count) const;
  std::int64_t Write(const void* buffer, std::int64_t count);
  // The new offset, or -1 with errno set. whence: SEEK_SET, SEEK_CUR, SEEK_END.
  std::int64_t Seek(std::int64_t offset, int whence);
  // 0 or errno.
  int Truncate(std::int64_t size);
  int Sync();
  // Size in bytes, or -1 with errno set.
  std::int64_t Size() const;

 private:
  int fd_ = -1;
};

}  // namespace zo
