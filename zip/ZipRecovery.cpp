// Recovery: rebuilding the directory of a damaged archive from its local
// headers, when its central directory cannot be used. Also the scan window
// that recovery and the loading's check for a foreign directory move over
// the archive.
//
// Everything here reads bytes that may be hostile: every read is bounded by
// what the stream holds, and whatever a signature seems to start is checked
// before it is taken for a record.

#include <algorithm>
#include <cstring>

#include "platform/FileSystem.h"
#include "zip/ZipLoad.h"
#include "zip/ZipReadSupport.h"

namespace zo {

bool TScanWindow::Read(std::int64_t position, void* out, std::size_t count) {
  if (count == 0) return position >= 0 && position <= FSize;
  if (position < 0 || static_cast<std::int64_t>(count) > FSize - position) return false;
  if (position >= FStart && position + static_cast<std::int64_t>(count) <= FStart + FLength) {
    std::memcpy(out, FData.data() + (position - FStart), count);
    return true;
  }
  return ReadAt(FStream, position, out, static_cast<std::int64_t>(count)) == static_cast<std::int64_t>(count);
}

std::int64_t TScanWindow::NextSignature(std::int64_t from) {
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

bool TScanWindow::IsRecordSignature(std::uint32_t value) {
  return value == kZipLocalHeaderSignature || value == kZipCentralHeaderSignature ||
         value == kZipDataDescriptorSignature || value == kZipEndRecordSignature ||
         value == kZip64EndRecordSignature;
}

void TScanWindow::Load(std::int64_t from) {
  FStart = std::max<std::int64_t>(0, from - kBehind);
  FData.resize(static_cast<std::size_t>(std::min(kWindow, FSize - FStart)));
  FLength = ReadAt(FStream, FStart, FData.data(), static_cast<std::int64_t>(FData.size()));
}

bool KnownMethod(std::uint16_t method) {
  return method <= 20 || method == 93 || (method >= 95 && method <= 99);
}

namespace {

// Extra fields longer than this make a local header implausible in recovery.
constexpr std::uint16_t kMaxRecoveryExtraLength = 260;

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
    item.externalAttr = isDirectory ? faDirectory : faArchive;

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
    TCentralReader reader(FStream, at, FSize);
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
  TScanWindow FWindow;
  std::vector<TDirItem> FEntries;
  std::vector<Span> FSpans;        // parallel to FEntries
  std::vector<Waiting> FWaiting;   // ascending dataStart and index
  std::int64_t FCentralAt = -1;          // the first central header met
  std::size_t FSegmentStart = 0;         // first entry after the last central directory
  bool FEntriesAfterCentral = false;
};

}  // namespace

void RecoverDirectory(TStream& stream, std::int64_t streamSize, bool oemFileNames, TZEDirManager& dir) {
  Recovery(stream, streamSize, oemFileNames).Run(dir);
}

}  // namespace zo
