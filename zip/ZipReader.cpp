// Loading the directory of an existing archive: the end record, the Zip64
// records, the central directory, stub detection, and the rebuilding of the
// directory from local headers when the central directory cannot be used.
//
// Everything here reads bytes that may be hostile. No size or count taken
// from the archive is trusted before it has been checked against the
// stream's real size, every read is bounded by what the stream holds, and a
// damaged central directory ends in recovery rather than in a crash.

#include <algorithm>
#include <array>
#include <cstring>

#include "zip/ZipEngine.h"
#include "zip/ZipReadSupport.h"

namespace zo {

namespace {

// The end record is sought in the last 65,600 bytes: 22 bytes of record, a
// comment of at most 65,535 bytes and some slack.
constexpr std::int64_t kEndRecordSearchSize = 65600;
// Recovery and stub detection read this much at a time.
constexpr std::int64_t kScanChunk = 65535;
// Extra fields longer than this make a local header implausible in recovery.
constexpr std::uint16_t kMaxRecoveryExtraLength = 260;

// Raised for a central directory that cannot be what it claims; LoadDir
// answers it with recovery.
[[noreturn]] void Damaged() { throw EZEException(48); }

struct EndRecordHit {
  std::int64_t position = -1;
  TZEZipCentralDirEnd record;
  AnsiText comment;
};

bool ValidEndRecord(const TZEZipCentralDirEnd& r, std::int64_t position, std::int64_t streamSize) {
  const std::int64_t after = position + static_cast<std::int64_t>(kZipEndRecordSize);
  if (after > streamSize) return false;
  if (r.diskNumber < r.startDiskNumber) return false;
  if (r.entriesCentralDir < r.entriesOnDisk) return false;
  if (r.centralDirSize != kZip64Marker32 && static_cast<std::int64_t>(r.centralDirSize) >= after) return false;
  const bool offsetOk = r.startDiskNumber < r.diskNumber || r.offsetStartDir == kZip64Marker32 ||
                        static_cast<std::int64_t>(r.offsetStartDir) < after - static_cast<std::int64_t>(r.centralDirSize);
  if (!offsetOk) return false;
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

// A cursor over one buffer that refuses to read past its end.
class ByteReader {
 public:
  ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::size_t Remaining() const { return size_ - pos_; }
  const std::uint8_t* Take(std::size_t count) {
    if (count > Remaining()) Damaged();
    const std::uint8_t* p = data_ + pos_;
    pos_ += count;
    return p;
  }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Fills the entry's Name, ExtraFields and Zip64 values from raw name and
// extra bytes.
void ApplyNameAndExtra(TDirItem& item, const Bytes& nameBytes, const std::uint8_t* extra,
                       std::size_t extraLength, bool oemFileNames) {
  item.Name = DecodeEntryName(nameBytes, oemFileNames, item.genPurposeFlag);
  item.StoredName = nameBytes;
  item.ExtraFields = ParseExtraFields(extra, extraLength);
  for (const TZEExtraFieldDataBlock& block : item.ExtraFields) {
    if (block.headerID == kZip64ExtraId) {
      ApplyZip64Extra(item, block);
    } else if (block.headerID == kUnicodeNameExtraId) {
      if (std::optional<String> name = UnicodeNameOf(block)) item.Name = std::move(*name);
    }
  }
}

// Reads count central headers from the directory bytes.
void ParseCentralDirectory(const Bytes& dir, std::uint64_t count, TZEDirArray& items, bool oemFileNames,
                           Bytes& firstNameBytes) {
  ByteReader reader(dir.data(), dir.size());
  for (std::uint64_t n = 0; n < count; ++n) {
    TDirItem item;
    static_cast<TZEZipCentralDir&>(item).Read(reader.Take(kZipCentralHeaderSize));
    if (item.signature != kZipCentralHeaderSignature) Damaged();
    item.CompressionMethod = item.compMethod;
    const std::uint8_t* name = reader.Take(item.nameLength);
    Bytes nameBytes(name, name + item.nameLength);
    const std::uint8_t* extra = reader.Take(item.extraLength);
    ApplyNameAndExtra(item, nameBytes, extra, item.extraLength, oemFileNames);
    const std::uint8_t* comment = reader.Take(item.commentLength);
    item.Comment.assign(reinterpret_cast<const char*>(comment), item.commentLength);
    item.Modified = false;
    item.Operation = poExtract;
    if (n == 0) firstNameBytes = std::move(nameBytes);
    items.Add(std::move(item));
  }
}

// Loads the central directory that the end record at hit describes. Returns
// false when the directory has to be rebuilt by scanning instead; throws
// EZEException for a damaged directory (also answered by recovery) and
// native 40 for a Zip64 locator that points nowhere.
bool LoadCentralDirectory(TStream& stream, std::int64_t streamSize, const EndRecordHit& hit,
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
  } else if (hit.record.entriesCentralDir == kZip64Marker16) {
    return false;
  }

  // Both checks before anything is allocated: the directory must fit in
  // front of its end record, and each entry takes at least 46 bytes of it.
  if (dirSize > static_cast<std::uint64_t>(recordPosition)) Damaged();
  if (count > dirSize / kZipCentralHeaderSize) Damaged();
  const std::int64_t dirStart = recordPosition - static_cast<std::int64_t>(dirSize);
  Bytes bytes(static_cast<std::size_t>(dirSize));
  if (ReadAt(stream, dirStart, bytes.data(), static_cast<std::int64_t>(dirSize)) !=
      static_cast<std::int64_t>(dirSize)) {
    Damaged();
  }
  dir.CentralDirOffset = dirStart;
  ParseCentralDirectory(bytes, count, dir.CDir, oemFileNames, firstNameBytes);
  return true;
}

// Does the local header at p (30 bytes and the name after it) describe item?
bool LocalHeaderAgrees(const std::uint8_t* p, std::size_t available, const TDirItem& item,
                       const Bytes& nameBytes) {
  if (available < kZipLocalHeaderSize) return false;
  TZELocalFileHeader header;
  header.Read(p);
  if (header.compMethod != item.compMethod || header.nameLength != nameBytes.size()) return false;
  if (available < kZipLocalHeaderSize + nameBytes.size()) return true;  // name beyond the window
  return std::memcmp(p + kZipLocalHeaderSize, nameBytes.data(), nameBytes.size()) == 0;
}

void AddToOffset(TDirItem& item, std::int64_t delta) {
  if (item.relOffsetLH == kZip64Marker32) {
    item.Zip64ExtInfo.relOffsetLH += static_cast<std::uint64_t>(delta);
    return;
  }
  item.SetLocalHeaderOffset(static_cast<std::uint64_t>(item.relOffsetLH) + static_cast<std::uint64_t>(delta));
}

// Finds where the archive really starts when data was put in front of it
// after it was written, and shifts the recorded offsets by that much.
void DetectStub(TStream& stream, TZEDirManager& dir, std::int64_t endRecordPosition,
                const Bytes& firstNameBytes) {
  TZEDirArray& items = dir.CDir;
  if (items.Count() == 0) {
    dir.StubSize = endRecordPosition;
    return;
  }
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

// Seeks the data descriptor after the data that starts at dataStart; fills
// CRC and sizes when one is found whose compressed size equals its distance
// from dataStart. Searched up to limit.
void ReadDataDescriptor(TStream& stream, std::int64_t dataStart, std::int64_t limit, TDirItem& item) {
  Bytes chunk(static_cast<std::size_t>(std::min<std::int64_t>(kScanChunk + 24, std::max<std::int64_t>(limit - dataStart, 0))));
  for (std::int64_t from = dataStart; from < limit; from += kScanChunk) {
    const std::int64_t got = ReadAt(stream, from, chunk.data(), static_cast<std::int64_t>(chunk.size()));
    for (std::int64_t i = 0; i + 16 <= got && i < kScanChunk; ++i) {
      const std::uint8_t* p = chunk.data() + i;
      if (GetLE32(p) != kZipDataDescriptorSignature) continue;
      const std::uint64_t distance = static_cast<std::uint64_t>(from + i - dataStart);
      if (GetLE32(p + 8) == distance) {
        item.crc32 = GetLE32(p + 4);
        item.compSize = GetLE32(p + 8);
        item.unCompSize = GetLE32(p + 12);
        return;
      }
      if (i + 24 <= got && GetLE64(p + 8) == distance) {  // the Zip64 form
        item.crc32 = GetLE32(p + 4);
        item.compSize = item.unCompSize = kZip64Marker32;
        item.Zip64ExtInfo.compSize = GetLE64(p + 8);
        item.Zip64ExtInfo.uncompSize = GetLE64(p + 16);
        item.bHugeFile = true;
        return;
      }
    }
    if (got < static_cast<std::int64_t>(chunk.size())) return;
  }
}

// Next local header signature at or after from; -1 when none is left.
std::int64_t NextLocalSignature(TStream& stream, std::int64_t from, std::int64_t streamSize) {
  Bytes chunk(static_cast<std::size_t>(std::min<std::int64_t>(kScanChunk + 3, streamSize)));
  for (; from < streamSize; from += kScanChunk) {
    const std::int64_t got = ReadAt(stream, from, chunk.data(), static_cast<std::int64_t>(chunk.size()));
    for (std::int64_t i = 0; i + 4 <= got && i < kScanChunk; ++i) {
      if (GetLE32(chunk.data() + i) == kZipLocalHeaderSignature) return from + i;
    }
  }
  return -1;
}

// Rebuilds the directory from the local headers found in the stream.
void RecoverDir(TStream& stream, std::int64_t streamSize, TZEDirManager& dir, bool oemFileNames) {
  dir.Clear();
  std::int64_t position = NextLocalSignature(stream, 0, streamSize);
  if (position < 0) throw EZEException(kZENativeInvalidArchive);
  dir.StubSize = position;
  for (; position >= 0; position = NextLocalSignature(stream, position + 4, streamSize)) {
    std::array<std::uint8_t, kZipLocalHeaderSize> raw{};
    if (ReadAt(stream, position, raw.data(), kZipLocalHeaderSize) != kZipLocalHeaderSize) break;
    TZELocalFileHeader header;
    header.Read(raw.data());
    if (static_cast<std::int64_t>(header.compSize) >= streamSize ||
        header.extraLength > kMaxRecoveryExtraLength) {
      continue;
    }
    TDirItem item;
    item.versionMadeBy = item.extractVersion = header.extractVersion;
    item.genPurposeFlag = header.genPurposeFlag;
    item.compMethod = item.CompressionMethod = header.compMethod;
    item.lastModTime = header.lastModTime;
    item.lastModDate = header.lastModDate;
    item.crc32 = header.crc32;
    item.compSize = header.compSize;
    item.unCompSize = header.unCompSize;
    item.Operation = poExtract;
    item.SetLocalHeaderOffset(static_cast<std::uint64_t>(position));
    const std::int64_t nameAt = position + static_cast<std::int64_t>(kZipLocalHeaderSize);
    Bytes name(header.nameLength);
    if (ReadAt(stream, nameAt, name.data(), header.nameLength) != header.nameLength) name.clear();
    Bytes extra(header.extraLength);
    const std::int64_t extraAt = nameAt + header.nameLength;
    extra.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, ReadAt(stream, extraAt, extra.data(), header.extraLength))));
    // The local Zip64 extra holds only the two sizes; the offset is known.
    const std::uint32_t keptOffset = item.relOffsetLH;
    item.relOffsetLH = 0;
    ApplyNameAndExtra(item, name, extra.data(), extra.size(), oemFileNames);
    item.relOffsetLH = keptOffset;
    item.nameLength = static_cast<std::uint16_t>(name.size());
    if (item.genPurposeFlag & kZipFlagDataDescriptor) {
      ReadDataDescriptor(stream, extraAt + header.extraLength, streamSize, item);
    }
    // The name tells directories from empty files; a size of 0 alone does not.
    const bool isDirectory = !item.Name.empty() && (item.Name.back() == u'/' || item.Name.back() == u'\\');
    item.externalAttr = isDirectory ? 0x10 : 0x20;
    dir.CDir.Add(std::move(item));
  }
  dir.CentralDirOffset = streamSize;
  dir.FZip64 = false;
}

}  // namespace

// --- Helpers shared with extraction (zip/ZipReadSupport.h) ------------------------

std::int64_t ReadAt(TStream& stream, std::int64_t position, void* buffer, std::int64_t count) {
  if (position < 0 || count <= 0) return 0;
  stream.SetPosition(position);
  std::int64_t total = 0;
  auto* out = static_cast<std::uint8_t*>(buffer);
  while (total < count) {
    const std::int64_t got = stream.Read(out + total, count - total);
    if (got <= 0) break;
    total += got;
  }
  return total;
}

std::vector<TZEExtraFieldDataBlock> ParseExtraFields(const std::uint8_t* data, std::size_t size) {
  std::vector<TZEExtraFieldDataBlock> blocks;
  std::size_t pos = 0;
  while (size - pos >= 4) {
    TZEExtraFieldDataBlock block;
    block.headerID = GetLE16(data + pos);
    const std::size_t claimed = GetLE16(data + pos + 2);
    pos += 4;
    const std::size_t length = std::min(claimed, size - pos);  // cut to what remains
    block.dataSize = static_cast<std::uint16_t>(length);
    block.pData.assign(data + pos, data + pos + length);
    pos += length;
    blocks.push_back(std::move(block));
  }
  return blocks;
}

void ApplyZip64Extra(TDirItem& item, const TZEExtraFieldDataBlock& block) {
  const Bytes& d = block.pData;
  std::size_t pos = 0;
  auto take64 = [&](std::uint64_t& target) {
    if (d.size() - pos < 8) return;
    target = GetLE64(d.data() + pos);
    pos += 8;
  };
  if (item.unCompSize == kZip64Marker32) take64(item.Zip64ExtInfo.uncompSize);
  if (item.compSize == kZip64Marker32) take64(item.Zip64ExtInfo.compSize);
  if (item.relOffsetLH == kZip64Marker32) take64(item.Zip64ExtInfo.relOffsetLH);
  if (item.diskNumberStart == kZip64Marker16 && d.size() - pos >= 4) {
    item.Zip64ExtInfo.diskNumberStart = GetLE32(d.data() + pos);
  }
  item.bHugeFile = true;
}

std::optional<String> UnicodeNameOf(const TZEExtraFieldDataBlock& block) {
  const Bytes& d = block.pData;
  if (d.size() < 8 || std::memcmp(d.data(), "NUCX", 4) != 0) return std::nullopt;
  const std::uint64_t units = GetLE32(d.data() + 4);
  if (units > (d.size() - 8) / 2) return std::nullopt;
  String name(static_cast<std::size_t>(units), u'\0');
  for (std::size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char16_t>(GetLE16(d.data() + 8 + 2 * i));
  return name;
}

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
      loaded = LoadCentralDirectory(stream, streamSize, hit, FDir, oem, firstNameBytes);
      if (loaded) DetectStub(stream, FDir, hit.position, firstNameBytes);
    } catch (const EZEException& e) {
      if (e.NativeError == kZENativeNoZip64EndRecord || !OpenCorruptedArchives) throw;
      loaded = false;
    } catch (const EStreamError&) {
      if (!OpenCorruptedArchives) throw;
      loaded = false;
    }
  }
  if (!loaded) RecoverDir(stream, streamSize, FDir, oem);
}

}  // namespace zo
