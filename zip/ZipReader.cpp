// Loading the directory of an existing archive: the end record, the Zip64
// records, the central directory, stub detection, and the rebuilding of the
// directory from local headers when the central directory cannot be used.
//
// Everything here reads bytes that may be hostile. No size or count taken
// from the archive is trusted before it has been checked against the
// stream's real size, every read is bounded by what the stream holds, and a
// damaged central directory ends in recovery rather than in a crash.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/FileSystem.h"
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

// Reads the central directory front to back through one buffer that holds
// at most a few headers at a time, so a directory of any size costs no more
// memory than its entries themselves.
class CentralReader {
 public:
  CentralReader(TStream& stream, std::int64_t start, std::int64_t end)
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
  const std::uint8_t* Peek(std::size_t count) {
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

// One central header with its name, extra field and comment; the raw name
// bytes go to nameBytes.
TDirItem ReadCentralHeader(CentralReader& reader, bool oemFileNames, Bytes& nameBytes) {
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

// The digital signature record that may close a central directory.
constexpr std::uint32_t kZipDigitalSignature = 0x05054B50;

// Reads every central header in the directory's recorded size, however many
// the end record counts, and returns how many there were. The directory must
// be made of headers to its last byte (a closing digital signature aside).
std::uint64_t ParseCentralDirectory(CentralReader& reader, TZEDirArray& items, bool oemFileNames,
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
  CentralReader reader(stream, dirStart, recordPosition);
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

// --- Entries that share their bytes ---------------------------------------------

namespace {

// How many bytes the raw deflate stream at position takes up to its end,
// when it ends within its first limit bytes without producing more than
// maxOutput bytes; nothing otherwise.
std::optional<std::uint64_t> DeflateLength(TStream& stream, std::int64_t position, std::uint64_t limit,
                                           std::uint64_t maxOutput) {
  struct Inflater {
    z_stream z{};
    Inflater() {
      if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
    }
    ~Inflater() { inflateEnd(&z); }
  } s;
  constexpr std::uint64_t kChunk = 65536;
  Bytes input(static_cast<std::size_t>(std::clamp<std::uint64_t>(limit, 1, kChunk)));
  Bytes output(static_cast<std::size_t>(kChunk));
  std::uint64_t produced = 0;
  for (;;) {
    if (s.z.avail_in == 0 && limit > 0) {
      const std::int64_t got =
          ReadAt(stream, position, input.data(), static_cast<std::int64_t>(std::min<std::uint64_t>(limit, input.size())));
      if (got <= 0) return std::nullopt;
      position += got;
      limit -= static_cast<std::uint64_t>(got);
      s.z.next_in = input.data();
      s.z.avail_in = static_cast<uInt>(got);
    }
    s.z.next_out = output.data();
    s.z.avail_out = static_cast<uInt>(output.size());
    const int rc = inflate(&s.z, Z_NO_FLUSH);
    produced += output.size() - s.z.avail_out;
    if (rc == Z_STREAM_END) return static_cast<std::uint64_t>(s.z.total_in);
    // Out of input (Z_BUF_ERROR), or broken data: it does not end here.
    if (rc != Z_OK || produced > maxOutput) return std::nullopt;
  }
}

// The bytes one entry takes in the archive: from its local header to where
// its data really ends.
struct TEntrySpan {
  std::uint64_t Start, DataStart, End;
  int Index;
};

// An entry's span, as far as its directory record tells: the data cut at the
// central directory as extraction cuts it, and a stored entry's data no
// longer than the entry (what lies beyond is never read).
TEntrySpan DeclaredSpan(const TDirItem& item, int index, std::uint64_t start, std::uint64_t dataStart,
                        std::uint64_t centralStart) {
  std::uint64_t length = std::min(item.CompressedSize(), centralStart - dataStart);
  if (item.compMethod == kZipMethodStored) length = std::min(length, item.UncompressedSize());
  return {start, dataStart, dataStart + length, index};
}

}  // namespace

// Marks the entries that overlap (TDirItem::Overlaps), and refuses the whole
// archive when every entry does.
//
// Two entries overlap when their spans share bytes: local header and data as
// far as the data really goes. That is how a small archive is made to expand
// to an enormous size (many central entries naming one local header, or each
// entry's data running on through the entries after it, all inflating the
// same data), and no writer makes it otherwise. A compressed size that
// overstates the data is no overlap: a deflate stream ends where it says it
// ends, and the bytes after it are never read. So an entry whose declared
// data reaches into the next local header is inflated up to that header to
// see whether its stream ends before. An entry whose local header lies
// inside the central directory overlaps it. Only entries whose local header
// is there count: the others cannot produce a byte.
//
// An archive that is nothing but such entries is refused before anything is
// extracted; otherwise only the overlapping entries are refused, each when it
// is reached, and the others come out as any reader would give them.
void SettleOverlappingEntries(TStream& stream, TZEDirManager& dir) {
  TZEDirArray& items = dir.CDir;
  const std::uint64_t centralStart = static_cast<std::uint64_t>(std::max<std::int64_t>(0, dir.CentralDirOffset));
  std::vector<TEntrySpan> spans;
  spans.reserve(static_cast<std::size_t>(items.Count()));
  int counted = 0, marked = 0;
  int firstInside = -1;
  for (int i = 0; i < items.Count(); ++i) {
    TDirItem& item = items[i];
    item.Overlaps = false;
    const std::uint64_t start = item.LocalHeaderOffset();
    if (start > static_cast<std::uint64_t>(INT64_MAX)) continue;
    const std::optional<TZELocalFileHeader> local = ReadLocalHeader(stream, static_cast<std::int64_t>(start));
    if (!local) continue;
    ++counted;
    const std::uint64_t dataStart = start + kZipLocalHeaderSize + local->nameLength + local->extraLength;
    if (dataStart > centralStart) {
      item.Overlaps = true;
      ++marked;
      if (firstInside < 0) firstInside = i;
      continue;
    }
    spans.push_back(DeclaredSpan(item, i, start, dataStart, centralStart));
  }
  std::sort(spans.begin(), spans.end(), [](const TEntrySpan& a, const TEntrySpan& b) {
    return a.Start != b.Start ? a.Start < b.Start : a.Index < b.Index;
  });
  // Where declared data reaches the next local header, the stream may end
  // before it.
  for (std::size_t k = 0; k + 1 < spans.size(); ++k) {
    TEntrySpan& span = spans[k];
    const std::uint64_t next = spans[k + 1].Start;
    const TDirItem& item = items[span.Index];
    if (span.End <= next || next <= span.DataStart || item.compMethod != kZipMethodDeflate ||
        (item.genPurposeFlag & kZipFlagEncrypted) != 0) {
      continue;
    }
    if (const std::optional<std::uint64_t> length =
            DeflateLength(stream, static_cast<std::int64_t>(span.DataStart), next - span.DataStart, item.UncompressedSize())) {
      span.End = span.DataStart + *length;
    }
  }
  int firstA = -1, firstB = -1;
  std::uint64_t reach = 0;
  int holder = -1;
  auto mark = [&](int index) {
    if (!items[index].Overlaps) ++marked;
    items[index].Overlaps = true;
  };
  for (const TEntrySpan& span : spans) {
    if (holder >= 0 && span.Start < reach) {
      if (firstA < 0) firstA = holder, firstB = span.Index;
      mark(holder);
      mark(span.Index);
    }
    if (holder < 0 || span.End > reach) reach = span.End, holder = span.Index;
  }
  if (counted == 0 || marked < counted) return;
  if (firstA >= 0) {
    throw EZERefused(48, Format(u"The archive is refused: entries \"%s\" and \"%s\" overlap in the archive",
                                {PrintableName(items[firstA].Name), PrintableName(items[firstB].Name)}));
  }
  throw EZERefused(48, Format(u"The archive is refused: entry \"%s\" lies inside its central directory",
                              {PrintableName(items[firstInside].Name)}));
}

// --- Recovery -------------------------------------------------------------------

// A window on the stream that the recovery scan moves front to back: one
// read serves many signatures, headers and descriptors.
class ScanWindow {
 public:
  ScanWindow(TStream& stream, std::int64_t size) : FStream(stream), FSize(size) {}

  // Copies count bytes at position; false when the stream holds fewer.
  bool Read(std::int64_t position, void* out, std::size_t count) {
    if (count == 0) return position >= 0 && position <= FSize;
    if (position < 0 || static_cast<std::int64_t>(count) > FSize - position) return false;
    if (position >= FStart && position + static_cast<std::int64_t>(count) <= FStart + FLength) {
      std::memcpy(out, FData.data() + (position - FStart), count);
      return true;
    }
    return ReadAt(FStream, position, out, static_cast<std::int64_t>(count)) == static_cast<std::int64_t>(count);
  }

  // The next position at or after from where "PK" is followed by the two
  // bytes of a record this scan knows; -1 when none is left.
  std::int64_t NextSignature(std::int64_t from) {
    while (from + 4 <= FSize) {
      if (from < FStart || from + 4 > FStart + FLength) {
        Load(from);
        if (from + 4 > FStart + FLength) return -1;   // the stream gave less than it holds
      }
      const std::uint8_t* base = FData.data();
      const std::int64_t stop = FStart + FLength - 3;   // past the last position with 4 bytes here
      for (std::int64_t i = from; i < stop;) {
        const void* hit = std::memchr(base + (i - FStart), 'P', static_cast<std::size_t>(stop - i));
        if (hit == nullptr) break;
        i = FStart + (static_cast<const std::uint8_t*>(hit) - base);
        if (IsRecordSignature(GetLE32(base + (i - FStart)))) return i;
        ++i;
      }
      from = stop;
    }
    return -1;
  }

  static bool IsRecordSignature(std::uint32_t value) {
    return value == kZipLocalHeaderSignature || value == kZipCentralHeaderSignature ||
           value == kZipDataDescriptorSignature || value == kZipEndRecordSignature ||
           value == kZip64EndRecordSignature;
  }

 private:
  static constexpr std::int64_t kWindow = 1 << 18;
  // Bytes kept in front of the position asked for, where the descriptor that
  // ends just before a signature lies.
  static constexpr std::int64_t kBehind = 32;

  void Load(std::int64_t from) {
    FStart = std::max<std::int64_t>(0, from - kBehind);
    FData.resize(static_cast<std::size_t>(std::min(kWindow, FSize - FStart)));
    FLength = ReadAt(FStream, FStart, FData.data(), static_cast<std::int64_t>(FData.size()));
  }

  TStream& FStream;
  std::int64_t FSize;
  Bytes FData;
  std::int64_t FStart = 0;
  std::int64_t FLength = 0;
};

// Compression methods a writer may use; a local header with any other is
// taken for bytes that only look like one.
bool KnownMethod(std::uint16_t method) {
  return method <= 20 || method == 93 || (method >= 95 && method <= 99);
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
  ScanWindow window(stream, streamSize);
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

// Rebuilds the directory from the local headers, front to back in one pass.
//
// Every entry's data is skipped by its compressed size, so whatever the data
// holds (a ZIP archive stored inside, bytes that look like headers) stays the
// entry's. An entry whose sizes follow its data (flag bit 3) cannot be skipped
// that way: it waits, and the signatures in its data are still looked at,
// until a data descriptor turns up whose compressed size is exactly its
// distance from the entry's data, with its signature or without one (then
// the next record's signature follows it). The entry ends there, and whatever
// was taken for entries inside its data is dropped. Each signature is looked
// at once and each possible descriptor costs one lookup, so the scan is
// linear in the archive's size.
//
// A central header met while no entry waits starts a central directory: its
// headers, as far as they are whole, give the entries found before it their
// attributes, and the scan goes on after them (another archive may follow).
// When every byte from the start of the archive up to the first central
// directory belongs to an entry, and no entry follows it, nothing can be
// missing (RecoveryComplete).
class Recovery {
 public:
  Recovery(TStream& stream, std::int64_t streamSize, bool oemFileNames)
      : FStream(stream), FSize(streamSize), FOem(oemFileNames), FWindow(stream, streamSize) {}

  void Run(TZEDirManager& dir) {
    dir.Clear();
    std::int64_t position = 0;
    while (position < FSize) {
      const std::int64_t at = FWindow.NextSignature(position);
      if (at < 0) break;
      position = at + 4;
      std::uint8_t sig[4];
      FWindow.Read(at, sig, 4);
      const std::uint32_t kind = GetLE32(sig);
      // A descriptor without its signature ends right where the next record
      // starts; one with its signature is this very record.
      if (!FWaiting.empty()) ResolveUnsignedDescriptor(at);
      if (kind == kZipDataDescriptorSignature && !FWaiting.empty()) {
        if (const std::int64_t end = ResolveSignedDescriptor(at); end > 0) position = end;
      } else if (kind == kZipLocalHeaderSignature) {
        position = TakeLocalHeader(at);
      } else if (kind == kZipCentralHeaderSignature && FWaiting.empty() && !FEntries.empty()) {
        position = TakeCentralDirectory(at);
      }
    }
    // The end of the stream ends a descriptor without signature as well.
    if (!FWaiting.empty()) ResolveUnsignedDescriptor(FSize);
    // Signatures alone, with nothing a header could be made of, are no archive.
    if (FEntries.empty()) throw EZEException(kZENativeInvalidArchive);
    for (const Waiting& w : FWaiting) FEntries[w.index].SizesUnknown = true;
    const bool complete = AccountsForEveryByte();
    dir.StubSize = FSpans.front().header;
    FEntries.shrink_to_fit();
    dir.CDir.Assign(std::move(FEntries));
    dir.CentralDirOffset = FSize;
    dir.FZip64 = false;
    dir.Recovered = true;
    dir.RecoveryComplete = complete;
  }

 private:
  // Where an entry's bytes lie: header, and the end of its data and
  // descriptor (-1 while unknown). Truncated: its data runs past the end.
  struct Span {
    std::int64_t header;
    std::int64_t end;
    bool truncated;
  };
  // An entry whose sizes follow its data.
  struct Waiting {
    std::int64_t dataStart;
    std::size_t index;
  };

  // Makes an entry of the local header at position when it is plausible;
  // returns where the scan goes on.
  std::int64_t TakeLocalHeader(std::int64_t position) {
    std::uint8_t raw[kZipLocalHeaderSize];
    if (!FWindow.Read(position, raw, sizeof raw)) return position + 4;
    TZELocalFileHeader header;
    header.Read(raw);
    const std::int64_t nameAt = position + static_cast<std::int64_t>(kZipLocalHeaderSize);
    const std::int64_t dataStart = nameAt + header.nameLength + header.extraLength;
    if (!KnownMethod(header.compMethod) || header.nameLength == 0 ||
        header.extraLength > kMaxRecoveryExtraLength || dataStart > FSize) {
      return position + 4;
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
    Bytes name(header.nameLength);
    Bytes extra(header.extraLength);
    FWindow.Read(nameAt, name.data(), name.size());
    FWindow.Read(nameAt + header.nameLength, extra.data(), extra.size());
    // The local Zip64 extra holds only the two sizes; the offset is known.
    ApplyNameAndExtra(item, name, extra.data(), extra.size(), FOem);
    item.SetLocalHeaderOffset(static_cast<std::uint64_t>(position));
    item.nameLength = header.nameLength;
    // The name tells directories from empty files; a size of 0 alone does not.
    const bool isDirectory = !item.Name.empty() && IsPathSeparator(item.Name.back());
    item.externalAttr = isDirectory ? 0x10 : 0x20;

    // Writers that put the sizes after the data leave them 0 here (or mark
    // them for a Zip64 extra that holds 0 as well).
    const bool sizesFollow = (header.genPurposeFlag & kZipFlagDataDescriptor) != 0 && item.CompressedSize() == 0;
    const std::size_t index = FEntries.size();
    FEntries.push_back(std::move(item));
    if (FCentralAt >= 0) FEntriesAfterCentral = true;
    if (sizesFollow) {
      FSpans.push_back({position, -1, false});
      FWaiting.push_back({dataStart, index});
      return dataStart;
    }
    const std::uint64_t compressed = FEntries[index].CompressedSize();
    if (compressed > static_cast<std::uint64_t>(FSize - dataStart)) {
      // Cut off inside its data: everything after its header is its data.
      FSpans.push_back({position, FSize, true});
      return FSize;
    }
    std::int64_t end = dataStart + static_cast<std::int64_t>(compressed);
    if (header.genPurposeFlag & kZipFlagDataDescriptor) end = TakeDescriptorAt(end, FEntries[index]);
    FSpans.push_back({position, end, false});
    return end;
  }

  // An entry with bit 3 whose local header already had its compressed size:
  // the descriptor at end (with or without signature) supplies CRC and
  // uncompressed size when its compressed size agrees. Returns the end of
  // the entry's bytes.
  std::int64_t TakeDescriptorAt(std::int64_t end, TDirItem& item) {
    std::uint8_t d[24];
    const std::uint64_t compressed = item.CompressedSize();
    if (FWindow.Read(end, d, 16) && GetLE32(d) == kZipDataDescriptorSignature && GetLE32(d + 8) == compressed) {
      SetDescriptorValues(item, GetLE32(d + 4), compressed, GetLE32(d + 12));
      return end + 16;
    }
    if (FWindow.Read(end, d, 12) && GetLE32(d + 4) == compressed && GetLE32(d) != kZipDataDescriptorSignature) {
      SetDescriptorValues(item, GetLE32(d), compressed, GetLE32(d + 8));
      return end + 12;
    }
    return end;
  }

  static void SetDescriptorValues(TDirItem& item, std::uint32_t crc, std::uint64_t compressed,
                                  std::uint64_t uncompressed) {
    item.crc32 = crc;
    const bool wide = item.bHugeFile;
    item.SetCompressedSize(compressed, wide);
    item.SetUncompressedSize(uncompressed, wide);
  }

  // The waiting entry whose data starts at dataStart, if any.
  const Waiting* WaitingAt(std::int64_t dataStart) const {
    const auto found = std::lower_bound(FWaiting.begin(), FWaiting.end(), dataStart,
                                        [](const Waiting& w, std::int64_t s) { return w.dataStart < s; });
    return found != FWaiting.end() && found->dataStart == dataStart ? &*found : nullptr;
  }

  // Ends the waiting entry w at a descriptor whose bytes end at end: takes
  // its values and drops everything found inside its data.
  void Resolve(const Waiting& w, std::uint32_t crc, std::uint64_t compressed, std::uint64_t uncompressed,
               std::int64_t end) {
    const std::size_t index = w.index;
    SetDescriptorValues(FEntries[index], crc, compressed, uncompressed);
    FSpans[index].end = end;
    FEntries.resize(index + 1);
    FSpans.resize(index + 1);
    while (!FWaiting.empty() && FWaiting.back().index >= index) FWaiting.pop_back();
  }

  // A descriptor holds its sizes in 8 bytes each when the entry has a Zip64
  // extra field, else in 4. Both readings of the bytes are tried; one that
  // lands on a waiting entry of its own kind wins, the other is taken only
  // when nothing else fits (writers do not always keep to the rule).
  struct Reading {
    const Waiting* waiting = nullptr;
    std::uint32_t crc = 0;
    std::uint64_t compressed = 0, uncompressed = 0;
    std::int64_t end = 0;
    bool wide = false;
  };

  Reading Read(std::int64_t dataStart, std::uint32_t crc, std::uint64_t compressed, std::uint64_t uncompressed,
               std::int64_t end, bool wide) const {
    Reading r;
    if (compressed > static_cast<std::uint64_t>(end) || dataStart < 0) return r;
    r.waiting = WaitingAt(dataStart);
    r.crc = crc;
    r.compressed = compressed;
    r.uncompressed = uncompressed;
    r.end = end;
    r.wide = wide;
    return r;
  }

  // Resolves with the better of the two readings; the end of the descriptor
  // when one was taken, else 0.
  std::int64_t ResolveBest(const Reading& narrow, const Reading& wide) {
    auto fits = [&](const Reading& r) { return r.waiting != nullptr && FEntries[r.waiting->index].bHugeFile == r.wide; };
    const Reading* chosen = fits(narrow) ? &narrow : fits(wide) ? &wide : narrow.waiting ? &narrow : wide.waiting ? &wide : nullptr;
    if (chosen == nullptr) return 0;
    const Reading r = *chosen;
    Resolve(*r.waiting, r.crc, r.compressed, r.uncompressed, r.end);
    return r.end;
  }

  // A descriptor without signature ends where the record at next starts:
  // 12 bytes (CRC, two 32-bit sizes) or 20 (CRC, two 64-bit sizes).
  void ResolveUnsignedDescriptor(std::int64_t next) {
    std::uint8_t d[20];
    Reading narrow, wide;
    if (next >= 12 && FWindow.Read(next - 12, d, 12)) {
      const std::uint64_t compressed = GetLE32(d + 4);
      narrow = Read(next - 12 - static_cast<std::int64_t>(std::min<std::uint64_t>(compressed, next)), GetLE32(d),
                    compressed, GetLE32(d + 8), next, false);
    }
    if (next >= 20 && FWindow.Read(next - 20, d, 20)) {
      const std::uint64_t compressed = GetLE64(d + 4);
      wide = Read(next - 20 - static_cast<std::int64_t>(std::min<std::uint64_t>(compressed, next)), GetLE32(d),
                  compressed, GetLE64(d + 12), next, true);
    }
    ResolveBest(narrow, wide);
  }

  // A descriptor with its signature at position: 16 bytes, or 24 in the
  // Zip64 form. Returns where it ends when it closes a waiting entry, else 0.
  std::int64_t ResolveSignedDescriptor(std::int64_t position) {
    std::uint8_t d[24];
    Reading narrow, wide;
    if (FWindow.Read(position, d, 16)) {
      const std::uint64_t compressed = GetLE32(d + 8);
      narrow = Read(position - static_cast<std::int64_t>(std::min<std::uint64_t>(compressed, position)),
                    GetLE32(d + 4), compressed, GetLE32(d + 12), position + 16, false);
    }
    if (FWindow.Read(position, d, 24)) {
      const std::uint64_t compressed = GetLE64(d + 8);
      wide = Read(position - static_cast<std::int64_t>(std::min<std::uint64_t>(compressed, position)),
                  GetLE32(d + 4), compressed, GetLE64(d + 16), position + 24, true);
    }
    return ResolveBest(narrow, wide);
  }

  // Whether the entries account for every byte from the start of the stream
  // to the first central header, and no entry follows the central directory.
  bool AccountsForEveryByte() const {
    if (FEntriesAfterCentral) return false;
    std::int64_t expected = 0;
    for (const Span& span : FSpans) {
      if (span.header != expected || span.end < 0 || span.truncated) return false;
      expected = span.end;
    }
    return FCentralAt == expected;
  }

  // Reads the central headers from at on, as far as they are whole, and
  // gives their attributes and comments to the entries found since the last
  // central directory: each is matched to the entry whose local header it
  // names (the offsets there may leave out a stub, measured on the first
  // one). Returns where the headers end; the scan goes on from there, since
  // another archive may follow.
  std::int64_t TakeCentralDirectory(std::int64_t at) {
    if (FCentralAt < 0) FCentralAt = at;
    const std::size_t segment = FSegmentStart;
    FSegmentStart = FEntries.size();
    CentralReader reader(FStream, at, FSize);
    Bytes nameBytes;
    std::int64_t shift = 0;
    bool first = true;
    try {
      while (reader.Remaining() >= static_cast<std::int64_t>(kZipCentralHeaderSize) &&
             GetLE32(reader.Peek(4)) == kZipCentralHeaderSignature) {
        const TDirItem central = ReadCentralHeader(reader, FOem, nameBytes);
        if (segment >= FSpans.size()) continue;
        const std::int64_t offset = static_cast<std::int64_t>(std::min<std::uint64_t>(central.LocalHeaderOffset(), INT64_MAX / 4));
        if (first) shift = FSpans[segment].header - offset;
        first = false;
        const auto begin = FSpans.begin() + static_cast<std::ptrdiff_t>(segment);
        const auto match = std::lower_bound(begin, FSpans.end(), offset + shift,
                                            [](const Span& span, std::int64_t header) { return span.header < header; });
        if (match == FSpans.end() || match->header != offset + shift) continue;
        TDirItem& item = FEntries[static_cast<std::size_t>(match - FSpans.begin())];
        if (item.Name != central.Name || item.compMethod != central.compMethod) continue;
        item.versionMadeBy = central.versionMadeBy;
        item.internalAttr = central.internalAttr;
        item.externalAttr = central.externalAttr;
        item.SetComment(central.Comment());
      }
    } catch (const EZEException&) {
      // The directory ends in damage; what was read is kept.
    }
    return std::max(reader.Position(), at + 4);
  }

  TStream& FStream;
  std::int64_t FSize;
  bool FOem;
  ScanWindow FWindow;
  std::vector<TDirItem> FEntries;
  std::vector<Span> FSpans;        // parallel to FEntries
  std::vector<Waiting> FWaiting;   // ascending dataStart and index
  std::int64_t FCentralAt = -1;          // the first central header met
  std::size_t FSegmentStart = 0;         // first entry after the last central directory
  bool FEntriesAfterCentral = false;
};

}  // namespace

// --- Helpers shared with extraction (zip/ZipReadSupport.h) ------------------------

std::int64_t ReadAt(TStream& stream, std::int64_t position, void* buffer, std::int64_t count) {
  return stream.ReadAt(position, buffer, count);
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

bool ApplyZip64Extra(TDirItem& item, const TZEExtraFieldDataBlock& block) {
  const Bytes& d = block.pData;
  std::size_t pos = 0;
  bool complete = true;
  auto take64 = [&](std::uint64_t& target) {
    if (d.size() - pos < 8) {
      complete = false;
      return;
    }
    target = GetLE64(d.data() + pos);
    pos += 8;
  };
  TZEZip64ExtendedInfo& wide = item.Zip64ExtInfoForWrite();
  if (item.unCompSize == kZip64Marker32) take64(wide.uncompSize);
  if (item.compSize == kZip64Marker32) take64(wide.compSize);
  if (item.relOffsetLH == kZip64Marker32) take64(wide.relOffsetLH);
  if (item.diskNumberStart == kZip64Marker16 && d.size() - pos >= 4) {
    wide.diskNumberStart = GetLE32(d.data() + pos);
  }
  item.bHugeFile = true;
  return complete;
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

std::optional<TZELocalFileHeader> ReadLocalHeader(TStream& stream, std::int64_t position) {
  std::array<std::uint8_t, kZipLocalHeaderSize> raw{};
  if (ReadAt(stream, position, raw.data(), kZipLocalHeaderSize) != kZipLocalHeaderSize ||
      GetLE32(raw.data()) != kZipLocalHeaderSignature) {
    return std::nullopt;
  }
  TZELocalFileHeader header;
  header.Read(raw.data());
  return header;
}

EZERefused::EZERefused(int nativeError, const String& text) : EZEException(nativeError) {
  SetMessage(text + Format(u" - Native error: %05d", {nativeError}));
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
    Recovery(stream, streamSize, oem).Run(FDir);
  }
}

}  // namespace zo
