// The pieces that loading a directory (zip/ZipLoad.cpp), recovering a
// damaged one (zip/ZipRecovery.cpp) and checking its entries for overlap
// (zip/ZipOverlap.cpp) share. Internal to zip/: nothing outside it includes
// this header.
//
// Everything here reads bytes that may be hostile. No size or count taken
// from the archive is trusted before it has been checked against the
// stream's real size, and every read is bounded by what the stream holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/String.h"
#include "zip/ZipDirectory.h"
#include "zip/ZipErrors.h"
#include "zip/ZipStreams.h"

namespace zo {

// Raised for a central directory that cannot be what it claims; LoadDir
// answers it with recovery.
[[noreturn]] inline void Damaged() { throw EZEException(kZENativeDamaged); }

// Reads the central directory front to back through one buffer that holds
// at most a few headers at a time, so a directory of any size costs no more
// memory than its entries themselves (zip/ZipLoad.cpp).
class TCentralReader {
 public:
  TCentralReader(TStream& stream, std::int64_t start, std::int64_t end)
      : FStream(stream), FPos(start), FEnd(end) {}
  std::int64_t Remaining() const { return FEnd - FPos; }
  std::int64_t Position() const { return FPos; }
  // The next count bytes (valid until the next call); Damaged() when the
  // directory holds fewer.
  const std::uint8_t* Take(std::size_t count) {
    const std::uint8_t* p = Peek(count);
    FPos += static_cast<std::int64_t>(count);
    return p;
  }
  const std::uint8_t* Peek(std::size_t count);

 private:
  static constexpr std::int64_t kChunk = 1 << 16;
  TStream& FStream;
  std::int64_t FPos;
  std::int64_t FEnd;
  Bytes FBuffer;
  std::int64_t FBufferStart = 0;
  std::int64_t FBufferLength = 0;
};

// Fills the entry's Name, ExtraFields and Zip64 values from raw name and
// extra bytes.
// A size or offset field that holds the Zip64 marker with no Zip64 block to
// give its value leaves the entry's sizes unknown: never 0.
void ApplyNameAndExtra(TDirItem& item, const Bytes& nameBytes, const std::uint8_t* extra,
                       std::size_t extraLength, bool oemFileNames);

// One central header with its name, extra field and comment; the raw name
// bytes go to nameBytes.
TDirItem ReadCentralHeader(TCentralReader& reader, bool oemFileNames, Bytes& nameBytes);

// A window on the stream that a scan for records moves front to back: one
// read serves many signatures, headers and descriptors (zip/ZipRecovery.cpp).
class TScanWindow {
 public:
  TScanWindow(TStream& stream, std::int64_t size) : FStream(stream), FSize(size) {}

  // Copies count bytes at position; false when the stream holds fewer.
  bool Read(std::int64_t position, void* out, std::size_t count);

  // The next position at or after from where "PK" is followed by the two
  // bytes of a record this scan knows; -1 when none is left.
  std::int64_t NextSignature(std::int64_t from);

  static bool IsRecordSignature(std::uint32_t value);

 private:
  static constexpr std::int64_t kWindow = 1 << 18;
  // Bytes kept in front of the position asked for, where the descriptor that
  // ends just before a signature lies.
  static constexpr std::int64_t kBehind = 32;

  void Load(std::int64_t from);

  TStream& FStream;
  std::int64_t FSize;
  Bytes FData;
  std::int64_t FStart = 0;
  std::int64_t FLength = 0;
};

// Compression methods a writer may use; a local header with any other is
// taken for bytes that only look like one.
bool KnownMethod(std::uint16_t method);

// Rebuilds dir from the local headers of stream (streamSize bytes) when its
// central directory cannot be used (zip/ZipRecovery.cpp). EZEException
// (kZENativeInvalidArchive) when no entry can be made of it.
void RecoverDirectory(TStream& stream, std::int64_t streamSize, bool oemFileNames, TZEDirManager& dir);

// Marks the entries of a loaded directory that share their bytes
// (TDirItem::Overlaps), and refuses the whole archive when every entry does
// (zip/ZipOverlap.cpp).
void SettleOverlappingEntries(TStream& stream, TZEDirManager& dir);

}  // namespace zo
