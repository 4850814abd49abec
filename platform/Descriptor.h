// The one owner of an open file of the system inside platform/ (a POSIX file
// descriptor, or a Win32 HANDLE), with the read and write loops every user of
// one needs. Not for callers outside this folder: they hold a TFileHandle or
// a TDirHandle.
//
// Both kinds fit one integer, and both systems use -1 for "none" (-1 is
// INVALID_HANDLE_VALUE), so the class is declared once.
#pragma once

#include <cstdint>
#include <utility>

namespace zo {

class TDescriptor {
 public:
  TDescriptor() = default;
  explicit TDescriptor(std::intptr_t handle) : FFd(handle) {}
  ~TDescriptor() { Reset(); }
  TDescriptor(TDescriptor&& other) noexcept : FFd(std::exchange(other.FFd, -1)) {}
  TDescriptor& operator=(TDescriptor&& other) noexcept {
    if (this != &other) Reset(std::exchange(other.FFd, -1));
    return *this;
  }
  TDescriptor(const TDescriptor&) = delete;
  TDescriptor& operator=(const TDescriptor&) = delete;

  bool IsOpen() const { return FFd >= 0; }
  std::intptr_t Get() const { return FFd; }
  // Closes what it holds (if anything) and takes handle.
  void Reset(std::intptr_t handle = -1);
  // Closes now and reports the failure that a delayed write may only show
  // here: 0 or errno.
  int Close();

  // Each moves up to count bytes, going on where a signal or a pipe took
  // fewer, until count have moved or the file has no more (a short count
  // then). Returns 0, or the errno of a failure; moved tells what moved
  // before it.
  int Read(void* buffer, std::int64_t count, std::int64_t& moved) const;
  int ReadAt(std::int64_t position, void* buffer, std::int64_t count, std::int64_t& moved) const;
  int Write(const void* buffer, std::int64_t count, std::int64_t& moved) const;

 private:
  std::intptr_t FFd = -1;
};

// Write of a C runtime descriptor this process holds but no TDescriptor owns
// (standard output and error).
int WriteAll(int fd, const void* buffer, std::int64_t count, std::int64_t& moved);

}  // namespace zo
