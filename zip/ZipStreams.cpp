#include "zip/ZipStreams.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

namespace zo {

// --- TStream -------------------------------------------------------------------

std::int64_t TStream::Size() {
  const std::int64_t position = Seek(0, soCurrent);
  const std::int64_t size = Seek(0, soEnd);
  Seek(position, soBeginning);
  return size;
}

std::int64_t TStream::ReadAt(std::int64_t position, void* buffer, std::int64_t count) {
  if (position < 0 || count <= 0) return 0;
  SetPosition(position);
  std::int64_t total = 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (total < count) {
    const std::int64_t got = Read(out + total, count - total);
    if (got <= 0) break;
    total += got;
  }
  return total;
}

void TStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (count != 0 && Read(buffer, count) != count) throw EReadError(String(kSReadError));
}

void TStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (count != 0 && Write(buffer, count) != count) throw EWriteError(String(kSWriteError));
}

std::int64_t TStream::CopyFrom(TStream& source, std::int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  constexpr std::int64_t kChunk = 1 << 16;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(count, kChunk)));
  std::int64_t copied = 0;
  while (copied < count) {
    const std::int64_t n = std::min(count - copied, kChunk);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    copied += n;
  }
  return copied;
}

// --- TFileStream ---------------------------------------------------------------

namespace {

TFileHandle::OpenKind KindOf(std::uint16_t mode) {
  if ((mode & fmCreate) == fmCreate) return TFileHandle::OpenKind::Create;
  switch (mode & 0x03) {
    case fmOpenWrite: return TFileHandle::OpenKind::Write;
    case fmOpenReadWrite: return TFileHandle::OpenKind::ReadWrite;
    default: return TFileHandle::OpenKind::Read;
  }
}

}  // namespace

TFileStream::TFileStream(const String& fileName, std::uint16_t mode) : TFileStream(fileName, mode, fileName) {}

TFileStream::TFileStream(const String& fileName, std::uint16_t mode, const String& reportedName)
    : FFileName(fileName), FReportedName(reportedName), FMode(mode) {
  const TFileHandle::OpenKind kind = KindOf(mode);
  if (const int error = FFile.Open(fileName, kind)) {
    if (kind == TFileHandle::OpenKind::Create) RaiseCreateError(reportedName, error);
    RaiseOpenError(reportedName, error);
  }
}

void TFileStream::RaiseReadError(int error) const {
  throw EInOutError(kSFReadError, {FReportedName, SystemErrorText(error)});
}

void TFileStream::RaiseWriteError(int error) const {
  throw EInOutError(kSFWriteError, {FReportedName, SystemErrorText(error)});
}

// A read that fails after some bytes gives those; the next one meets the
// failure again and raises it.
std::int64_t TFileStream::ReadAt(std::int64_t position, void* buffer, std::int64_t count) {
  if (position < 0 || count <= 0) return 0;
  std::int64_t moved = 0;
  const int error = FFile.ReadAt(position, buffer, count, moved);
  if (error != 0 && moved == 0) RaiseReadError(error);
  return moved;
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  std::int64_t moved = 0;
  const int error = FFile.Read(buffer, count, moved);
  if (error != 0 && moved == 0) RaiseReadError(error);
  return moved;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  std::int64_t moved = 0;
  const int error = FFile.Write(buffer, count, moved);
  // A full disk, or a file at the largest size it may have, shows as a short
  // count: the file cannot grow, and the caller decides what that means. Any
  // other failure is raised even after some bytes went: a short count would
  // pass it off as a full disk.
  if (error != 0 && error != ENOSPC && error != EFBIG) RaiseWriteError(error);
  return moved;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const TSeekFrom from = origin == soBeginning ? sfBeginning : origin == soCurrent ? sfCurrent : sfEnd;
  std::int64_t position = 0;
  if (const int error = FFile.Seek(offset, from, position)) RaiseReadError(error);
  return position;
}

void TFileStream::SetSize(std::int64_t size) {
  const std::int64_t position = Position();
  if (const int error = FFile.Truncate(size)) RaiseWriteError(error);
  if (position > size) SetPosition(size);
}

std::int64_t TFileStream::Size() {
  std::int64_t size = 0;
  if (const int error = FFile.Size(size)) RaiseReadError(error);
  return size;
}

void TFileStream::Flush() {
  if (const int error = FFile.Sync()) RaiseWriteError(error);
}

// --- TMemoryStream -------------------------------------------------------------

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  // The bytes held, not Size(): a stream derived from this one may report
  // another size, but only these bytes can be read.
  const std::int64_t size = static_cast<std::int64_t>(FData.size());
  if (count <= 0 || FPosition >= size) return 0;
  const std::int64_t n = std::min(count, size - FPosition);
  std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t end = FPosition + count;
  if (end > Size()) FData.resize(static_cast<std::size_t>(end));
  std::memcpy(FData.data() + FPosition, buffer, static_cast<std::size_t>(count));
  FPosition = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? FPosition : Size();
  // A position before the start is kept at the start; past the end is allowed
  // (a later write fills the gap with zeros), as with files.
  FPosition = std::max<std::int64_t>(0, base + offset);
  return FPosition;
}

void TMemoryStream::SetSize(std::int64_t size) {
  FData.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
  if (FPosition > Size()) FPosition = Size();
}

}  // namespace zo
