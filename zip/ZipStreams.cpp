#include "zip/ZipStreams.h"

#include <unistd.h>

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

[[noreturn]] void ThrowIoError(int error) { throw EInOutError(SystemErrorText(error)); }

}  // namespace

TFileStream::TFileStream(const String& fileName, std::uint16_t mode) : TFileStream(fileName, mode, fileName) {}

TFileStream::TFileStream(const String& fileName, std::uint16_t mode, const String& reportedName)
    : fileName_(fileName), mode_(mode) {
  const TFileHandle::OpenKind kind = KindOf(mode);
  const int error = file_.Open(fileName, kind);
  if (error != 0) {
    if (kind == TFileHandle::OpenKind::Create)
      throw EFCreateError(kSFCreateError, {reportedName, SystemErrorText(error)});
    throw EFOpenError(kSFOpenError, {reportedName, SystemErrorText(error)});
  }
}

std::int64_t TFileStream::ReadAt(std::int64_t position, void* buffer, std::int64_t count) {
  if (position < 0 || count <= 0) return 0;
  const std::int64_t n = file_.ReadAt(position, buffer, count);
  if (n < 0) ThrowIoError(errno);
  return n;
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t n = file_.Read(buffer, count);
  if (n < 0) ThrowIoError(errno);
  return n;
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
  const std::int64_t n = file_.Write(buffer, count);
  // A full disk shows as a short count; the caller decides what that means.
  if (n < 0) return errno == ENOSPC ? 0 : (ThrowIoError(errno), 0);
  return n;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  const int whence = origin == soBeginning ? SEEK_SET : origin == soCurrent ? SEEK_CUR : SEEK_END;
  const std::int64_t position = file_.Seek(offset, whence);
  if (position < 0) ThrowIoError(errno);
  return position;
}

void TFileStream::SetSize(std::int64_t size) {
  const std::int64_t position = Position();
  const int error = file_.Truncate(size);
  if (error != 0) ThrowIoError(error);
  if (position > size) SetPosition(size);
}

std::int64_t TFileStream::Size() {
  const std::int64_t size = file_.Size();
  if (size < 0) ThrowIoError(errno);
  return size;
}

void TFileStream::Flush() {
  const int error = file_.Sync();
  if (error != 0) ThrowIoError(error);
}

// --- TMemoryStream -------------------------------------------------------------

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
  // The bytes held, not Size(): a stream derived from this one may report
  // another size, but only these bytes can be read.
  const std::int64_t size = static_cast<std::int64_t>(data_.size());
  if (count <= 0 || position_ >= size) return 0;
  const std::int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
  position_ += n;
  return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
  if (count <= 0) return 0;
  const std::int64_t end = position_ + count;
  if (end > Size()) data_.resize(static_cast<std::size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
  position_ = end;
  return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
  std::int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size();
  // A position before the start is kept at the start; past the end is allowed
  // (a later write fills the gap with zeros), as with files.
  position_ = std::max<std::int64_t>(0, base + offset);
  return position_;
}

void TMemoryStream::SetSize(std::int64_t size) {
  data_.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, size)));
  if (position_ > Size()) position_ = Size();
}

}  // namespace zo
