// An open file with the few operations a file stream needs.
//
// Every operation returns 0 or the system's error number (an errno value),
// so that callers wrap failures in their own error types; outputs come back
// through reference arguments. The file is closed by the destructor on every
// way out.
#pragma once

#include <cstdint>
#include <string>

#include "platform/Descriptor.h"

namespace zo {

// Where a Seek offset counts from.
enum class TSeekFrom : std::uint8_t { sfBeginning, sfCurrent, sfEnd };
using enum TSeekFrom;

// A moment as the system keeps file times (FileTimeOf in platform/FileSystem.h
// makes one from a local time).
struct TFileTime {
  std::int64_t Seconds = 0;
  std::int32_t Nanoseconds = 0;
};

class TFileHandle {
 public:
  enum class OpenKind : std::uint8_t { Read, Write, ReadWrite, Create };

  TFileHandle() = default;

  // Create makes the file (mode 0666 less the umask) or empties it; the others
  // open an existing file. Only regular files open: a directory is EISDIR,
  // a named pipe, socket or device EINVAL, at once (never waiting for a
  // pipe's writer).
  int Open(const std::u16string& path, OpenKind kind);
  // Closes now; a failure that a delayed write only shows here is returned.
  int Close() { return FFile.Close(); }
  bool IsOpen() const { return FFile.IsOpen(); }

  // Each moves count bytes, fewer only at the end of the file (or up to a
  // failure); moved tells how many.
  int Read(void* buffer, std::int64_t count, std::int64_t& moved) { return FFile.Read(buffer, count, moved); }
  // Reads at position, so several threads may read one file at once. The
  // file's own position is not to be relied on afterwards: POSIX leaves it
  // alone, Windows moves it past what was read. Seek before a Read.
  int ReadAt(std::int64_t position, void* buffer, std::int64_t count, std::int64_t& moved) const {
    return FFile.ReadAt(position, buffer, count, moved);
  }
  int Write(const void* buffer, std::int64_t count, std::int64_t& moved) {
    return FFile.Write(buffer, count, moved);
  }
  // Moves the file's position; position is the new one.
  int Seek(std::int64_t offset, TSeekFrom from, std::int64_t& position);
  int Truncate(std::int64_t size);
  // Pushes written data to the storage device.
  int Sync();
  int Size(std::int64_t& size) const;

  // The last write (and access) time.
  int SetTime(const TFileTime& time);
  // The read-only bit of platform/FileSystem.h's attributes; the others are
  // ignored, as there.
  int SetAttr(std::uint32_t attr);

 private:
  friend class TDirHandle;   // creates files below a directory it holds
  explicit TFileHandle(TDescriptor file) : FFile(std::move(file)) {}

  TDescriptor FFile;
};

}  // namespace zo
