// Reading one entry's data: the checks of its headers before, of its size
// and CRC after. None yields more bytes than its directory record announces.
// Stored and deflated data move in bounded pieces (1 MiB of input at a time,
// output written as it comes), except that a deflated entry that fits a
// memory budget is first inflated whole in one call, which is about twice as
// fast; only a perfect result of that call is kept.

#include "zip/ZipEntryData.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <vector>
#include <utility>

#include "core/StringUtils.h"
#include "platform/LargeBuffer.h"
#include "zip/ZipEngine.h"
#include "zip/ZipInflate.h"
#include "zip/ZipReadSupport.h"
#include "zip/WholeBufferCodec.h"

namespace zo {

namespace {

constexpr std::size_t kInflateInputChunk = 1048576;
constexpr std::size_t kInflateOutputChunk = 262144;
constexpr std::int64_t kStoredChunk = 65535;

// The output of an entry: counts and checksums what passes, and refuses to
// take more than the entry announced (a damaged or hostile entry cannot make
// extraction produce unbounded output).
class CheckedOutput {
 public:
  CheckedOutput(TStream& target, std::uint64_t expected) : FTarget(target), FExpected(expected) {}
  // False when the data would run past the announced size.
  bool Write(const std::uint8_t* data, std::size_t size) {
    if (size > FExpected - std::min(FExpected, FWritten)) return false;
    FCrc = UpdateCrc32(FCrc, data, size);
    FTarget.WriteBuffer(data, static_cast<std::int64_t>(size));
    FWritten += size;
    return true;
  }
  // The entry's whole data at once, its CRC already known.
  bool WriteWhole(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    if (FWritten != 0 || size > FExpected) return false;
    FTarget.WriteBuffer(data, static_cast<std::int64_t>(size));
    FCrc = crc;
    FWritten = size;
    return true;
  }
  std::uint64_t Written() const { return FWritten; }
  std::uint64_t Expected() const { return FExpected; }
  std::uint32_t Crc() const { return FCrc; }

 private:
  TStream& FTarget;
  std::uint64_t FExpected;
  std::uint64_t FWritten = 0;
  std::uint32_t FCrc = 0;
};

bool CopyStored(TStream& archive, std::int64_t position, std::uint64_t size, CheckedOutput& out) {
  Bytes buffer(static_cast<std::size_t>(std::min<std::uint64_t>(size, kStoredChunk)));
  while (size > 0) {
    const std::int64_t want = static_cast<std::int64_t>(std::min<std::uint64_t>(size, kStoredChunk));
    const std::int64_t got = ReadAt(archive, position, buffer.data(), want);
    if (got <= 0) return true;  // short data: the size check reports it
    if (!out.Write(buffer.data(), static_cast<std::size_t>(got))) return false;
    position += got;
    size -= static_cast<std::uint64_t>(got);
  }
  return true;
}

// Inflates raw deflate data with zlib's stream; false when the data is
// broken, ends before the deflate stream does, or would run past the
// announced size. No entry can produce more than it announces, so a small
// entry gets a small output buffer.
bool InflateStreaming(TStream& archive, std::int64_t position, std::uint64_t size, CheckedOutput& out) {
  const std::size_t outputChunk =
      static_cast<std::size_t>(std::clamp<std::uint64_t>(out.Expected(), 64, kInflateOutputChunk));
  const TInflateResult result =
      InflateAt(archive, position, size, kInflateInputChunk, outputChunk,
                [&out](const std::uint8_t* data, std::size_t length) { return out.Write(data, length); });
  return result.End == TInflateEnd::ieStreamEnd;
}

// Buffers for inflating whole entries, kept from entry to entry. Memory the
// system hands out fresh costs a page fault on first touch for every page,
// which on the machines measured took longer than inflating into it; a kept
// buffer is already there, and a new one asks for large pages
// (platform/LargeBuffer.h). Everything the pool holds, lent or idle, stays
// within kWholeInflateBudget: an idle buffer is freed when a new one needs
// its room.
class TWholeInflatePool {
 public:
  using TBuffer = TLargeBuffer;

  // A buffer of at least size bytes (not cleared), or none when the budget
  // has no room for it now.
  std::optional<TBuffer> Take(std::uint64_t size) {
    if (size > kWholeInflateBudget) return std::nullopt;
    const std::uint64_t rounded = std::min(kWholeInflateBudget, (size + kGranule - 1) / kGranule * kGranule);
    {
      std::lock_guard<std::mutex> lock(FMutex);
      auto best = FIdle.end();
      for (auto it = FIdle.begin(); it != FIdle.end(); ++it) {
        if (it->Size() >= size && (best == FIdle.end() || it->Size() < best->Size())) best = it;
      }
      if (best != FIdle.end()) {
        TBuffer buffer = std::move(*best);
        FIdle.erase(best);
        return buffer;
      }
      while (FHeld + rounded > kWholeInflateBudget && !FIdle.empty()) {
        FHeld -= FIdle.back().Size();
        FIdle.pop_back();
      }
      if (FHeld + rounded > kWholeInflateBudget) return std::nullopt;
      FHeld += rounded;
    }
    try {
      return TBuffer(static_cast<std::size_t>(rounded));
    } catch (const std::bad_alloc&) {
      std::lock_guard<std::mutex> lock(FMutex);
      FHeld -= rounded;
      return std::nullopt;   // zlib's stream needs far less
    }
  }

  void PutBack(TBuffer buffer) {
    std::lock_guard<std::mutex> lock(FMutex);
    FIdle.push_back(std::move(buffer));
  }

 private:
  // Buffers come in whole large pages, so that entries of similar sizes
  // share them.
  static constexpr std::uint64_t kGranule = 2 * 1048576;

  std::mutex FMutex;
  std::uint64_t FHeld = 0;   // bytes of all buffers, lent and idle
  std::vector<TBuffer> FIdle;
};

TWholeInflatePool& WholeInflatePool() {
  static TWholeInflatePool pool;
  return pool;
}

// A buffer lent by the pool for one entry, given back however the entry ends.
class TWholeInflateBuffer {
 public:
  explicit TWholeInflateBuffer(std::uint64_t size) : FBuffer(WholeInflatePool().Take(size)) {}
  ~TWholeInflateBuffer() {
    if (FBuffer) WholeInflatePool().PutBack(std::move(*FBuffer));
  }
  TWholeInflateBuffer(const TWholeInflateBuffer&) = delete;
  TWholeInflateBuffer& operator=(const TWholeInflateBuffer&) = delete;

  explicit operator bool() const { return FBuffer.has_value(); }
  std::uint8_t* Data() { return FBuffer->Data(); }

 private:
  std::optional<TWholeInflatePool::TBuffer> FBuffer;
};

// Inflates an entry in one whole-buffer call when the codec is there and the
// entry fits the budget. True only when it produced exactly the entry, size
// and CRC right, and wrote it to out. Anything else (no codec, no room,
// damage of any kind) writes nothing and leaves the entry to zlib's stream,
// so that damage is found and reported by one reader alone.
bool InflateWholeEntry(TStream& archive, std::int64_t position, std::uint64_t size, std::uint32_t crc,
                       CheckedOutput& out) {
  const std::uint64_t expected = out.Expected();
  if (!HaveWholeBufferCodec() || expected == 0 || size > kWholeInflateLimit || expected > kWholeInflateLimit) {
    return false;
  }
  // One buffer: the output, then the compressed data.
  TWholeInflateBuffer buffer(expected + size);
  if (!buffer) return false;
  std::uint8_t* output = buffer.Data();
  std::uint8_t* input = output + expected;
  if (ReadAt(archive, position, input, static_cast<std::int64_t>(size)) != static_cast<std::int64_t>(size)) {
    return false;
  }
  const std::optional<std::size_t> produced =
      InflateWhole(input, static_cast<std::size_t>(size), output, static_cast<std::size_t>(expected));
  if (!produced || *produced != expected || UpdateCrc32(0, output, *produced) != crc) return false;
  return out.WriteWhole(output, *produced, crc);
}

bool Inflate(TStream& archive, std::int64_t position, std::uint64_t size, std::uint32_t crc, CheckedOutput& out) {
  return InflateWholeEntry(archive, position, size, crc, out) || InflateStreaming(archive, position, size, out);
}

// The file an entry is extracted into: a new file (TDirHandle::CreateFile or


std::int64_t LocalHeaderAt(const TDirItem& item) {
  return static_cast<std::int64_t>(std::min<std::uint64_t>(item.LocalHeaderOffset(), INT64_MAX / 2));
}

// The compressed and uncompressed sizes the local header at headerAt gives,
// when it gives them (not when they follow the data, nor when they are
// marked for a Zip64 field that is missing).
std::optional<std::pair<std::uint64_t, std::uint64_t>> LocalSizes(TStream& archive, std::int64_t headerAt,
                                                                   const TZELocalFileHeader& local) {
  if (local.genPurposeFlag & kZipFlagDataDescriptor) return std::nullopt;   // sizes follow the data
  if (local.compSize != kZip64Marker32 && local.unCompSize != kZip64Marker32) {
    return std::pair<std::uint64_t, std::uint64_t>{local.compSize, local.unCompSize};
  }
  const std::int64_t extraAt = headerAt + static_cast<std::int64_t>(kZipLocalHeaderSize) + local.nameLength;
  Bytes extra(local.extraLength);
  extra.resize(static_cast<std::size_t>(std::max<std::int64_t>(0, ReadAt(archive, extraAt, extra.data(), local.extraLength))));
  TDirItem sizes;
  sizes.unCompSize = local.unCompSize;
  sizes.compSize = local.compSize;
  bool found = false;
  for (const TZEExtraFieldDataBlock& block : ParseExtraFields(extra.data(), extra.size())) {
    if (block.headerID != kZip64ExtraId) continue;
    found = ApplyZip64Extra(sizes, block);
  }
  if (!found) return std::nullopt;
  return std::pair<std::uint64_t, std::uint64_t>{sizes.CompressedSize(), sizes.UncompressedSize()};
}

// Why the local header at headerAt cannot introduce item's data as the
// central directory describes it (the name, the method, and the size of the
// data when the local header knows it); empty when it can. Two readers that
// trust different copies must never see different entries. The compressed
// sizes may differ (one of them overstating the data): the data is read no
// further than the smaller one, and a stream that does not end by then is
// refused as a disagreement (see ExtractCheckedItem).
String LocalHeaderMismatch(TStream& archive, std::int64_t headerAt, const TZELocalFileHeader& local,
                           const TDirItem& item, bool oemFileNames) {
  if (local.compMethod != item.compMethod) return u"compression method";
  const bool namedByExtra = std::any_of(item.ExtraFields().begin(), item.ExtraFields().end(),
                                        [](const TZEExtraFieldDataBlock& b) { return b.headerID == kUnicodeNameExtraId; });
  const std::int64_t nameAt = headerAt + static_cast<std::int64_t>(kZipLocalHeaderSize);
  if (!namedByExtra) {
    Bytes name(local.nameLength);
    if (ReadAt(archive, nameAt, name.data(), local.nameLength) != local.nameLength) return u"name";
    if (SlashedPath(DecodeEntryName(name, oemFileNames, item.genPurposeFlag)) != SlashedPath(item.Name)) return u"name";
  }
  const auto sizes = LocalSizes(archive, headerAt, local);
  if (sizes && sizes->second != item.UncompressedSize()) return u"sizes";
  return String();
}

EZERefused Disagreement(const TDirItem& item, const String& what) {
  return EZERefused(kZENativeBadData, Format(u"The local header of \"%s\" does not agree with the central directory (%s)",
                                             {PrintableName(item.Name), what}));
}

}  // namespace

void CheckNotEncrypted(const TDirItem& item) {
  if (item.genPurposeFlag & kZipFlagEncrypted) {
    throw EZERefused(kZENativeEncrypted,
                     Format(u"File \"%s\" is encrypted and cannot be extracted", {PrintableName(item.Name)}));
  }
}

std::optional<TZELocalFileHeader> TEntryData::Check(int index) const {
  if (index < 0 || index >= FDir.CDir.Count()) throw EZEException(kZENativeIndexOutOfBounds);
  const TDirItem& item = FDir.CDir[index];
  CheckNotEncrypted(item);
  // Never extracted, whatever the settings: that is how an archive is made
  // to expand without end.
  if (item.Overlaps) {
    const bool inside = static_cast<std::int64_t>(item.LocalHeaderOffset()) >= FDir.CentralDirOffset;
    throw EZERefused(kZENativeDamaged, Format(inside ? u"The local header of \"%s\" lies inside the central directory"
                                       : u"The data of \"%s\" overlaps another entry in the archive",
                                {PrintableName(item.Name)}));
  }
  if (FExtractCorrupted) return ReadLocalHeader(FArchive, LocalHeaderAt(item));
  if (item.SizesUnknown) {
    const bool descriptor = (item.genPurposeFlag & kZipFlagDataDescriptor) != 0;
    throw EZERefused(kZENativeBadData,
                     Format(descriptor ? u"The size and check sum of \"%s\" are lost: its data descriptor was not found"
                                       : u"The sizes of \"%s\" are lost: its Zip64 extra field is missing",
                            {PrintableName(item.Name)}));
  }
  const std::int64_t headerAt = LocalHeaderAt(item);
  const std::optional<TZELocalFileHeader> local = ReadLocalHeader(FArchive, headerAt);
  if (!local) throw EZEException(kZENativeBadData);
  const String mismatch = LocalHeaderMismatch(FArchive, headerAt, *local, item, FOEMFileNames);
  if (!mismatch.empty()) throw Disagreement(item, mismatch);
  return local;
}

void TEntryData::Extract(int index, const std::optional<TZELocalFileHeader>& local, TStream& target) const {
  const TDirItem& item = FDir.CDir[index];
  TStream& archive = FArchive;
  bool good = local.has_value();
  if (good) {
    const std::int64_t dataStart =
        LocalHeaderAt(item) + static_cast<std::int64_t>(kZipLocalHeaderSize) + local->nameLength + local->extraLength;
    std::uint64_t compressed = item.CompressedSize();
    // Where the two headers give different compressed sizes, the data is
    // read no further than the smaller.
    const auto localSizes = LocalSizes(archive, LocalHeaderAt(item), *local);
    const bool sizesDiffer = localSizes && localSizes->first != compressed;
    if (localSizes) compressed = std::min(compressed, localSizes->first);
    const std::int64_t room = std::max<std::int64_t>(0, FDir.CentralDirOffset - dataStart);
    compressed = std::min<std::uint64_t>(compressed, static_cast<std::uint64_t>(room));
    const std::uint64_t expected = item.UncompressedSize();
    // A stored entry's data is the entry: bytes past its size are not its.
    if (item.compMethod == kZipMethodStored) compressed = std::min(compressed, expected);
    CheckedOutput out(target, expected);
    switch (item.compMethod) {
      case kZipMethodStored:
        good = CopyStored(archive, dataStart, compressed, out);
        break;
      case kZipMethodDeflate:
        good = expected == 0 && compressed == 0 ? true : Inflate(archive, dataStart, compressed, item.crc32, out);
        break;
      case kZipMethodDeflate64:
        throw EZEException(kZENativeDeflate64);
      default:
        good = false;
        break;
    }
    good = good && out.Written() == expected && out.Crc() == item.crc32;
    if (!good && sizesDiffer && !FExtractCorrupted) throw Disagreement(item, u"sizes");
  }
  if (!good && !FExtractCorrupted) throw EZEException(kZENativeBadData);
}

// --- To a stream ------------------------------------------------------------------

TEntryData TZEBaseArchiver::EntryData() const {
  return TEntryData(*FStream, FDir, Options.OEMFileNames, ExtractCorruptedFiles);
}

void TZEBaseArchiver::ExtractToStream(const String& FileName, TStream& Stream) {
  CheckActive();
  if (InUpdate()) throw EZEException(kZENativeUpdateNotEnded);
  const bool recurse = Options.Recurse;
  Options.Recurse = false;
  struct Restore {
    TZEBaseArchiver& engine;
    bool value;
    ~Restore() { engine.Options.Recurse = value; }
  } restore{*this, recurse};
  int index = FDir.CDir.IndexOf(SlashedPath(FileName));
  if (index < 0) {
    TZEArchiveItem item;
    if (FindFirst(FileName, item, String(), kZEDefaultSearchAttr)) index = item.Handle.ItemNo;
  }
  if (index < 0) throw EZEException(kZENativeEntryNotFound, {FileName});
  const TEntryData data = EntryData();
  data.Extract(index, data.Check(index), Stream);
}

}  // namespace zo
