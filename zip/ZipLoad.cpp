// Loading the directory of an existing archive: the end record, the Zip64
// records, the central directory, stub detection, and the refusal of a
// directory that belongs to an archive stored inside this one. A directory
// that cannot be used is rebuilt from the local headers (zip/ZipRecovery.cpp);
// one that loads has its entries checked for overlap (zip/ZipOverlap.cpp).
//
// Everything here reads bytes that may be hostile. No size or count taken
// from the archive is trusted before it has been checked against the
// stream's real size, every read is bounded by what the stream holds, and a
// damaged central directory ends in recovery rather than in a crash.

#include <algorithm>
#include <array>

#include "zip/ZipEngine.h"
#include "zip/ZipLoad.h"
#include "zip/ZipReadSupport.h"

namespace zo {

const std::uint8_t* TCentralReader::Peek(std::size_t count) {
  if (static_cast<std::int64_t>(count) > Remaining()) Damaged();
  if (FPos < FBufferStart || FPos + static_cast<std::int64_t>(count) > FBufferStart + FBufferLength) {
    const std::int64_t want = std::min<std::int64_t>(std::max<std::int64_t>(static_cast<std::int64_t>(count), kChunk),
                                                     Remaining());
    FBuffer.resize(static_cast<std::size_t>(want));
    if (ReadAt(FStream, FPos, FBuffer.data(), want) != want) Damaged();
    FBufferStart = FPos;
    FBufferLength = want;
  }
  return FBuffer.data() + (FPos - FBufferStart);
}

void ApplyNameAndExtra(TDirItem& item, const Bytes& nameBytes, const std::uint8_t* extra,
                       std::size_t extraLength, bool oemFileNames) {
  item.Name = DecodeEntryName(nameBytes, oemFileNames, item.genPurposeFlag);
  item.SetExtraFields(ParseExtraFields(extra, extraLength));
  const bool marked = item.unCompSize == kZip64Marker32 || item.compSize == kZip64Marker32 ||
                      item.relOffsetLH == kZip64Marker32;
  bool supplied = false;
  for (const TZEExtraFieldDataBlock& block : item.ExtraFields()) {
    if (block.headerID == kZip64ExtraId) {
      supplied = ApplyZip64Extra(item, block);
    } else if (block.headerID == kUnicodeNameExtraId) {
      if (std::optional<String> name = UnicodeNameOf(block)) item.Name = std::move(*name);
    }
  }
  if (marked && !supplied) item.SizesUnknown = true;
  // Set once the name is final: bytes that are the name itself need no copy.
  item.Name.shrink_to_fit();
  item.SetStoredName(nameBytes);
}

TDirItem ReadCentralHeader(TCentralReader& reader, bool oemFileNames, Bytes& nameBytes) {
  TDirItem item;
  static_cast<TZEZipCentralDir&>(item).Read(reader.Take(kZipCentralHeaderSize));
  if (item.signature != kZipCentralHeaderSignature) Damaged();
  item.CompressionMethod = item.compMethod;
  const std::uint8_t* name = reader.Take(item.nameLength);
  nameBytes.assign(name, name + item.nameLength);
  const std::uint8_t* extra = reader.Take(item.extraLength);
  ApplyNameAndExtra(item, nameBytes, extra, item.extraLength, oemFileNames);
  const std::uint8_t* comment = reader.Take(item.commentLength);
  item.SetComment(AnsiText(reinterpret_cast<const char*>(comment), item.commentLength));
  item.Modified = false;
  item.Operation = poExtract;
  return item;
}

namespace {

// The end record is sought in the last 65,600 bytes: 22 bytes of record, a
// comment of at most 65,535 bytes and some slack.
constexpr std::int64_t kEndRecordSearchSize = 65600;
// Stub detection reads this much at a time.
constexpr std::int64_t kScanChunk = 65535;

struct EndRecordHit {
  std::int64_t position = -1;
  TZEZipCentralDirEnd record;
  AnsiText comment;
};

// The directory's recorded offset is not asked to fit: bytes lost in front
// of the directory leave it too large, and the record is still the
// archive's own (DetectStub measures the difference). Passing over it would
// only find an end record further back, inside some entry's data.
bool ValidEndRecord(const TZEZipCentralDirEnd& r, std::int64_t position, std::int64_t streamSize) {
  const std::int64_t after = position + static_cast<std::int64_t>(kZipEndRecordSize);
  if (after > streamSize) return false;
  if (r.diskNumber < r.startDiskNumber) return false;
  if (r.entriesCentralDir < r.entriesOnDisk) return false;
  if (r.centralDirSize != kZip64Marker32 && static_cast<std::int64_t>(r.centralDirSize) >= after) return false;
  return streamSize - after >= r.commentLength;
}

// The last valid end record within the search window, or none.
EndRecordHit FindEndRecord(TStream& stream, std::int64_t streamSize) {
  EndRecordHit hit;
  const std::int64_t length = std::min(streamSize, kEndRecordSearchSize);
  const std::int64_t start = streamSize - length;
  Bytes tail(static_cast<std::size_t>(length));
  if (ReadAt(stream, start, tail.data(), length) != length) return hit;
  for (std::int64_t i = length - 4; i >= 0; --i) {
    const std::uint8_t* p = tail.data() + i;
    if (GetLE32(p) != kZipEndRecordSignature) continue;
    if (length - i < static_cast<std::int64_t>(kZipEndRecordSize)) continue;
    TZEZipCentralDirEnd record;
    record.Read(p);
    if (!ValidEndRecord(record, start + i, streamSize)) continue;
    hit.position = start + i;
    hit.record = record;
    const std::size_t commentStart = static_cast<std::size_t>(i) + kZipEndRecordSize;
    hit.comment.assign(reinterpret_cast<const char*>(tail.data()) + commentStart, record.commentLength);
    return hit;
  }
  return hit;
}

// The digital signature record that may close a central directory.
constexpr std::uint32_t kZipDigitalSignature = 0x05054B50;

// Reads every central header in the directory's recorded size, however many
// the end record counts, and returns how many there were. The directory must
// be made of headers to its last byte (a closing digital signature aside).
std::uint64_t ParseCentralDirectory(TCentralReader& reader, TZEDirArray& items, bool oemFileNames,
                                    Bytes& firstNameBytes) {
  std::uint64_t found = 0;
  Bytes nameBytes;
  while (reader.Remaining() > 0) {
    if (reader.Remaining() >= 4 && GetLE32(reader.Peek(4)) == kZipDigitalSignature) break;
    TDirItem item = ReadCentralHeader(reader, oemFileNames, nameBytes);
    if (found == 0) firstNameBytes = nameBytes;
    items.Add(std::move(item));
    ++found;
  }
  return found;
}

// Whether the end record's count fits the headers found. Writers that know
// nothing of Zip64 let the 16-bit count wrap past 65,535 entries, so there
// only the low 16 bits need agree. A count above what was found means
// entries are missing; one below it only understates a directory that was
// read whole.
bool CountFits(std::uint64_t found, std::uint64_t recorded, bool zip64) {
  if (found >= recorded) return true;
  return !zip64 && (found & 0xFFFF) == recorded;
}

// Loads the central directory that the end record at hit describes. Throws
// EZEException for a damaged directory (answered by recovery) and native 40
// for a Zip64 locator that points nowhere.
void LoadCentralDirectory(TStream& stream, std::int64_t streamSize, const EndRecordHit& hit,
                          TZEDirManager& dir, bool oemFileNames, Bytes& firstNameBytes) {
  dir.CentralDirEnd = hit.record;
  dir.ArchiveComment = hit.comment;
  std::uint64_t count = hit.record.entriesCentralDir;
  std::uint64_t dirSize = hit.record.centralDirSize;
  std::int64_t recordPosition = hit.position;

  const std::int64_t locatorPosition = hit.position - static_cast<std::int64_t>(kZip64EndLocatorSize);
  std::array<std::uint8_t, kZip64EndLocatorSize> locatorBytes{};
  if (hit.position > static_cast<std::int64_t>(kZip64EndLocatorSize) &&
      ReadAt(stream, locatorPosition, locatorBytes.data(), kZip64EndLocatorSize) == kZip64EndLocatorSize &&
      GetLE32(locatorBytes.data()) == kZip64EndLocatorSignature) {
    dir.Zip64CentralDirEndLocator.Read(locatorBytes.data());
    const std::uint64_t at = dir.Zip64CentralDirEndLocator.offsetStartDirEnd;
    std::array<std::uint8_t, kZip64EndRecordSize> recordBytes{};
    if (at > static_cast<std::uint64_t>(streamSize) - kZip64EndRecordSize ||
        ReadAt(stream, static_cast<std::int64_t>(at), recordBytes.data(), kZip64EndRecordSize) !=
            kZip64EndRecordSize ||
        GetLE32(recordBytes.data()) != kZip64EndRecordSignature) {
      throw EZEException(kZENativeNoZip64EndRecord);
    }
    dir.Zip64CentralDirEnd.Read(recordBytes.data());
    dir.FZip64 = true;
    count = dir.Zip64CentralDirEnd.entriesCentralDir;
    dirSize = dir.Zip64CentralDirEnd.centralDirSize;
    recordPosition = static_cast<std::int64_t>(at);
  }

  // The directory must fit in front of its end record; nothing is allocated
  // by the count, which may say anything.
  if (dirSize > static_cast<std::uint64_t>(recordPosition)) Damaged();
  const std::int64_t dirStart = recordPosition - static_cast<std::int64_t>(dirSize);
  dir.CentralDirOffset = dirStart;
  // Room for the entries the record counts, when the directory can hold
  // them: most archives then load without moving their entries around.
  if (count <= dirSize / kZipCentralHeaderSize) dir.CDir.ReserveFor(static_cast<int>(std::min<std::uint64_t>(count, INT32_MAX)));
  TCentralReader reader(stream, dirStart, recordPosition);
  const std::uint64_t found = ParseCentralDirectory(reader, dir.CDir, oemFileNames, firstNameBytes);
  if (!CountFits(found, count, dir.FZip64)) Damaged();
}

// Does the local header at p (30 bytes and the name after it) describe item?
bool LocalHeaderAgrees(const std::uint8_t* p, std::size_t available, const TDirItem& item,
                       const Bytes& nameBytes) {
  if (available < kZipLocalHeaderSize) return false;
  TZELocalFileHeader header;
  header.Read(p);
  if (header.compMethod != item.compMethod || header.nameLength != nameBytes.size()) return false;
  if (available < kZipLocalHeaderSize + nameBytes.size()) return true;  // name beyond the window
  return std::equal(nameBytes.begin(), nameBytes.end(), p + kZipLocalHeaderSize);
}

void AddToOffset(TDirItem& item, std::int64_t delta) {
  if (item.relOffsetLH == kZip64Marker32) {
    item.Zip64ExtInfoForWrite().relOffsetLH += static_cast<std::uint64_t>(delta);
    return;
  }
  item.SetLocalHeaderOffset(static_cast<std::uint64_t>(item.relOffsetLH) + static_cast<std::uint64_t>(delta));
}

// Whether a local header at position names item: same method, and the same
// name unless a name extra field replaced the central one.
bool LocalHeaderNames(TStream& stream, std::int64_t position, const TDirItem& item, bool oemFileNames) {
  const std::optional<TZELocalFileHeader> local = ReadLocalHeader(stream, position);
  if (!local || local->compMethod != item.compMethod) return false;
  for (const TZEExtraFieldDataBlock& block : item.ExtraFields()) {
    if (block.headerID == kUnicodeNameExtraId) return true;
  }
  Bytes name(local->nameLength);
  if (ReadAt(stream, position + static_cast<std::int64_t>(kZipLocalHeaderSize), name.data(), local->nameLength) !=
      local->nameLength) {
    return false;
  }
  return DecodeEntryName(name, oemFileNames, item.genPurposeFlag) == item.Name;
}

// The shift the directory tells itself: where it lies against where its end
// record says it was written. Bytes put in front of an archive make it
// positive, bytes lost in front of the directory negative. It is taken when
// the first entry it places inside the archive finds its own local header
// there; true then.
bool ApplyRecordedShift(TStream& stream, TZEDirManager& dir, bool oemFileNames) {
  TZEDirArray& items = dir.CDir;
  const std::uint64_t recorded =
      dir.FZip64 ? dir.Zip64CentralDirEnd.offsetStartDir : dir.CentralDirEnd.offsetStartDir;
  if ((!dir.FZip64 && recorded == kZip64Marker32) || recorded > static_cast<std::uint64_t>(INT64_MAX / 2)) {
    return false;
  }
  const std::int64_t shift = dir.CentralDirOffset - static_cast<std::int64_t>(recorded);
  if (shift == 0) return false;
  for (int i = 0; i < items.Count(); ++i) {
    const std::uint64_t offset = items[i].LocalHeaderOffset();
    if (offset > static_cast<std::uint64_t>(INT64_MAX / 2)) continue;
    const std::int64_t at = static_cast<std::int64_t>(offset) + shift;
    if (at < 0 || at >= dir.CentralDirOffset) continue;
    if (!LocalHeaderNames(stream, at, items[i], oemFileNames)) return false;
    for (int j = 0; j < items.Count(); ++j) AddToOffset(items[j], shift);
    dir.StubSize = std::max<std::int64_t>(0, static_cast<std::int64_t>(items[0].LocalHeaderOffset()));
    return true;
  }
  return false;
}

// Finds where the archive really starts when data was put in front of it
// after it was written (or lost in front of its directory), and shifts the
// recorded offsets by that much.
void DetectStub(TStream& stream, TZEDirManager& dir, std::int64_t endRecordPosition,
                const Bytes& firstNameBytes, bool oemFileNames) {
  TZEDirArray& items = dir.CDir;
  if (items.Count() == 0) {
    dir.StubSize = endRecordPosition;
    return;
  }
  if (ApplyRecordedShift(stream, dir, oemFileNames)) return;
  const TDirItem& first = items[0];
  const std::int64_t limit = dir.CentralDirOffset;
  std::int64_t found = -1;
  Bytes chunk(static_cast<std::size_t>(std::min<std::int64_t>(kScanChunk + kZipLocalHeaderSize + 0xFFFF, stream.Size())));
  for (std::int64_t from = static_cast<std::int64_t>(std::min<std::uint64_t>(first.LocalHeaderOffset(),
                                                                               static_cast<std::uint64_t>(limit)));
       from < limit && found < 0; from += kScanChunk) {
    const std::int64_t got = ReadAt(stream, from, chunk.data(), static_cast<std::int64_t>(chunk.size()));
    const std::int64_t scan = std::min<std::int64_t>({got - 3, kScanChunk, limit - from});
    for (std::int64_t i = 0; i < scan; ++i) {
      const std::uint8_t* p = chunk.data() + i;
      if (GetLE32(p) != kZipLocalHeaderSignature) continue;
      if (from + i == 0 || LocalHeaderAgrees(p, static_cast<std::size_t>(got - i), first, firstNameBytes)) {
        found = from + i;
        break;
      }
    }
  }
  if (found < 0) {
    dir.StubSize = 0;
    return;
  }
  dir.StubSize = found;
  // Offsets written relative to the archive's own start fall short by exactly
  // the data put in front of it. Measured on the first entry itself, so a
  // stub of any size is caught (also one smaller than the first entry's
  // offset), and every entry moves with the archive, directories included:
  // their local headers are copied by later commits too.
  const std::uint64_t recorded = first.LocalHeaderOffset();
  if (static_cast<std::uint64_t>(found) > recorded) {
    const std::int64_t shift = found - static_cast<std::int64_t>(recorded);
    for (int j = 0; j < items.Count(); ++j) AddToOffset(items[j], shift);
  }
}

// An end record with more bytes after it than its comment may be the end of
// an archive stored inside this one, met because this one's own end was cut
// off. It is taken for that when what it describes starts inside the data of
// a local header in front of it (or after one whose sizes follow its data),
// or when its first entry finds a local header of another name or method
// where it points. Recovery then reads the archive itself. (An end record at
// the very end of the file is the archive's own: data in front of it is a
// stub or an archive put before it, and a disagreeing first entry is damage
// to that entry, which extraction reports.)
void RefuseForeignDirectory(TStream& stream, std::int64_t streamSize, const EndRecordHit& hit,
                            const TZEDirManager& dir, const Bytes& firstNameBytes) {
  const std::int64_t recordEnd = hit.position + static_cast<std::int64_t>(kZipEndRecordSize) + hit.record.commentLength;
  if (recordEnd >= streamSize || dir.CDir.Count() == 0) return;
  // Local headers in front of the archive's start, each looked at once.
  TScanWindow window(stream, streamSize);
  for (std::int64_t at = window.NextSignature(0); at >= 0 && at < dir.StubSize; at = window.NextSignature(at + 4)) {
    std::uint8_t raw[kZipLocalHeaderSize];
    if (!window.Read(at, raw, sizeof raw) || GetLE32(raw) != kZipLocalHeaderSignature) continue;
    TZELocalFileHeader header;
    header.Read(raw);
    if (!KnownMethod(header.compMethod) || header.nameLength == 0) continue;
    const std::int64_t dataStart = at + static_cast<std::int64_t>(kZipLocalHeaderSize) + header.nameLength + header.extraLength;
    const bool sizesFollow = (header.genPurposeFlag & kZipFlagDataDescriptor) != 0;
    const bool covers = dataStart <= dir.StubSize &&
                        (header.compSize == kZip64Marker32 || dir.StubSize - dataStart < static_cast<std::int64_t>(header.compSize));
    if (sizesFollow || covers) Damaged();
  }
  const TDirItem& first = dir.CDir[0];
  const std::uint64_t at = first.LocalHeaderOffset();
  if (at > static_cast<std::uint64_t>(INT64_MAX / 2)) return;
  Bytes raw(kZipLocalHeaderSize + firstNameBytes.size());
  const std::int64_t got = ReadAt(stream, static_cast<std::int64_t>(at), raw.data(), static_cast<std::int64_t>(raw.size()));
  if (got < static_cast<std::int64_t>(kZipLocalHeaderSize) || GetLE32(raw.data()) != kZipLocalHeaderSignature) return;
  if (!LocalHeaderAgrees(raw.data(), static_cast<std::size_t>(got), first, firstNameBytes)) Damaged();
}

}  // namespace

// --- Loading -------------------------------------------------------------------------

void TZEBaseArchiver::LoadDir() {
  TStream& stream = *FStream;
  FDir.Clear();
  const std::int64_t streamSize = stream.Size();
  const bool oem = Options.OEMFileNames;
  const EndRecordHit hit = FindEndRecord(stream, streamSize);
  bool loaded = false;
  if (hit.position >= 0) {
    Bytes firstNameBytes;
    try {
      LoadCentralDirectory(stream, streamSize, hit, FDir, oem, firstNameBytes);
      DetectStub(stream, FDir, hit.position, firstNameBytes, oem);
      RefuseForeignDirectory(stream, streamSize, hit, FDir, firstNameBytes);
      loaded = true;
    } catch (const EZEException& e) {
      // A Zip64 locator that points nowhere is damage like any other: the
      // local headers still tell the entries.
      if (!OpenCorruptedArchives) throw;
    } catch (const EStreamError&) {
      if (!OpenCorruptedArchives) throw;
    }
  }
  if (loaded) {
    SettleOverlappingEntries(stream, FDir);
  } else {
    RecoverDirectory(stream, streamSize, oem, FDir);
  }
}

}  // namespace zo
