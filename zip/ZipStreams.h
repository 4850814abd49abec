// The streams the engine reads and writes: an abstract byte stream with a
// position, a file stream and a memory stream.
//
// The engine writes archives to, and reads sources from, a TStream. A stream
// given by a caller (an archive opened on a stream, an entry added from a
// stream) stays the caller's: the engine never frees it. Failures of the
// stream layer are its own exceptions (EFCreateError/EFOpenError with the
// system's reason, EReadError, EWriteError), not engine errors.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/Exception.h"
#include "core/String.h"
#include "platform/FileStream.h"

namespace zo {

// kSReadError / kSWriteError (core/Exception.h): a ReadBuffer or WriteBuffer
// that could not move all its bytes.
class EStreamError : public Exception { using Exception::Exception; };
class EReadError : public EStreamError { using EStreamError::EStreamError; };
class EWriteError : public EStreamError { using EStreamError::EStreamError; };

enum class TSeekOrigin : std::uint8_t { soBeginning, soCurrent, soEnd };
using enum TSeekOrigin;

class TStream {
 public:
  virtual ~TStream() = default;

  // Up to count bytes; fewer only at the end of the data (or on failure, as
  // the concrete stream documents). Returns the number moved.
  virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
  virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
  // The new position.
  virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
  // Truncates or extends; the position is kept unless it lies past the new end.
  virtual void SetSize(std::int64_t size) = 0;
  virtual std::int64_t Size();
  // Pushes written data to the storage device (file streams only).
  virtual void Flush() {}
  // Up to count bytes at position, fewer only at the end of the data. Leaves
  // the stream's position undefined: set it before a Read. With
  // ConcurrentReads several threads may read at once.
  virtual std::int64_t ReadAt(std::int64_t position, void* buffer, std::int64_t count);
  virtual bool ConcurrentReads() const { return false; }

  std::int64_t Position() { return Seek(0, soCurrent); }
  void SetPosition(std::int64_t position) { Seek(position, soBeginning); }

  // All count bytes or EReadError / EWriteError.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Copies count bytes from source's current position; count 0 copies the
  // whole of source from its start. Returns the number copied.
  std::int64_t CopyFrom(TStream& source, std::int64_t count);
};

// File modes: one of the open modes, or'ed with one of the share modes.
// Sharing has no mandatory counterpart on POSIX and is accepted but not
// enforced there.
inline constexpr std::uint16_t fmCreate = 0xFF00;
inline constexpr std::uint16_t fmOpenRead = 0x0000;
inline constexpr std::uint16_t fmOpenWrite = 0x0001;
inline constexpr std::uint16_t fmOpenReadWrite = 0x0002;
inline constexpr std::uint16_t fmShareCompat = 0x0000;
inline constexpr std::uint16_t fmShareExclusive = 0x0010;
inline constexpr std::uint16_t fmShareDenyWrite = 0x0020;
inline constexpr std::uint16_t fmShareDenyRead = 0x0030;
inline constexpr std::uint16_t fmShareDenyNone = 0x0040;

inline constexpr char16_t kSFReadError[] = u"Cannot read file \"%s\". %s";
inline constexpr char16_t kSFWriteError[] = u"Cannot write file \"%s\". %s";

class TFileStream : public TStream {
 public:
  // fmCreate creates the file or empties an existing one (EFCreateError
  // "Cannot create file "%s". %s"); other modes open an existing file
  // (EFOpenError "Cannot open file "%s". %s"). The second %s is the system's
  // reason.
  TFileStream(const String& fileName, std::uint16_t mode);
  // The same, with the errors naming reportedName: the file the user named,
  // where fileName is a stand-in written on its behalf.
  TFileStream(const String& fileName, std::uint16_t mode, const String& reportedName);
  // A read, a write or any other use the system refuses once the file is
  // open raises EInOutError naming the file with the system's reason
  // (kSFReadError for reads and looks at the size or position, kSFWriteError
  // for writes, size changes and flushes). A full disk, or a file at the
  // largest size it may have, is no error here: Write returns the bytes that
  // fitted, and the caller decides.

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  std::int64_t Size() override;
  void Flush() override;
  std::int64_t ReadAt(std::int64_t position, void* buffer, std::int64_t count) override;
  bool ConcurrentReads() const override { return true; }

  const String& FileName() const { return FFileName; }
  std::uint16_t Mode() const { return FMode; }

 private:
  [[noreturn]] void RaiseReadError(int error) const;
  [[noreturn]] void RaiseWriteError(int error) const;

  String FFileName;
  String FReportedName;
  std::uint16_t FMode;
  TFileHandle FFile;
};

class TMemoryStream : public TStream {
 public:
  TMemoryStream() = default;

  std::int64_t Read(void* buffer, std::int64_t count) override;
  std::int64_t Write(const void* buffer, std::int64_t count) override;
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
  void SetSize(std::int64_t size) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }

  const Bytes& Memory() const { return FData; }
  void Clear() { FData.clear(); FPosition = 0; }

 private:
  Bytes FData;
  std::int64_t FPosition = 0;
};

}  // namespace zo
