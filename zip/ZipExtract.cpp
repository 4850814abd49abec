// Finding entries and extracting them, to a stream or to files below a
// destination directory.
//
// Extraction never writes outside the destination: names that are absolute,
// carry a drive, open with "//" or climb with ".." are refused, and every
// directory below the destination is entered through its handle without ever
// following a symbolic link. A file is written under a temporary name beside
// its target and takes the target's name only when its data came out whole
// and every entry before it is settled, so a file that was there (or a link
// or hard link that sat there) is replaced, never written through or
// changed, and a damaged entry leaves nothing behind. Data is moved in
// bounded pieces (1 MiB of input at a time, output written as it comes), so
// no entry is ever held whole in memory, and an entry never yields more
// bytes than its directory record announces.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "core/StringUtils.h"
#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "zip/WorkerPool.h"
#include "zip/ZipCollect.h"
#include "zip/ZipEngine.h"
#include "zip/ZipReadSupport.h"

namespace zo {

namespace {

constexpr std::int64_t kInflateInputChunk = 1048576;
constexpr std::int64_t kInflateOutputChunk = 262144;
constexpr std::int64_t kStoredChunk = 65535;
constexpr std::uint32_t kFilterAttrBits = faHidden | faSysFile | faVolumeID | faDirectory;
constexpr int kNativeEncrypted = 67;
constexpr int kNativeWriteError = 46;

bool HasWildcards(StringView mask) { return mask.find_first_of(u"*?") != StringView::npos; }

void CheckNotEncrypted(const TDirItem& item) {
  if (item.genPurposeFlag & kZipFlagEncrypted) {
    throw EZERefused(kNativeEncrypted,
                     Format(u"File \"%s\" is encrypted and cannot be extracted", {PrintableName(item.Name)}));
  }
}

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

struct InflateStream {
  z_stream z{};
  bool open = false;
  ~InflateStream() {
    if (open) inflateEnd(&z);
  }
};

// Inflates raw deflate data; false when the data is broken, ends before the
// deflate stream does, or would run past the announced size.
//
// The end of the compressed input is not the end of the work: zlib may still
// hold output that did not fit the output buffer, and the end-of-stream
// marker may only be reported by a later call. So the loop ends on the
// stream's end or on a call that can make no progress, never on input used up.
bool Inflate(TStream& archive, std::int64_t position, std::uint64_t size, CheckedOutput& out) {
  InflateStream s;
  if (inflateInit2(&s.z, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  s.open = true;
  Bytes input(static_cast<std::size_t>(std::min<std::uint64_t>(std::max<std::uint64_t>(size, 1), kInflateInputChunk)));
  // No entry can produce more than it announces, so a small entry gets a
  // small buffer.
  Bytes output(static_cast<std::size_t>(std::clamp<std::uint64_t>(out.Expected(), 64, kInflateOutputChunk)));
  for (;;) {
    if (s.z.avail_in == 0 && size > 0) {
      const std::int64_t want = static_cast<std::int64_t>(std::min<std::uint64_t>(size, input.size()));
      const std::int64_t got = ReadAt(archive, position, input.data(), want);
      if (got <= 0) return false;  // the archive is shorter than its directory says
      position += got;
      size -= static_cast<std::uint64_t>(got);
      s.z.next_in = input.data();
      s.z.avail_in = static_cast<uInt>(got);
    }
    s.z.next_out = output.data();
    s.z.avail_out = static_cast<uInt>(output.size());
    const int rc = inflate(&s.z, Z_NO_FLUSH);
    const std::size_t produced = output.size() - s.z.avail_out;
    if (produced > 0 && !out.Write(output.data(), produced)) return false;
    if (rc == Z_STREAM_END) return true;
    // No progress was possible: fine while more input is waiting, the end
    // of a truncated stream when none is.
    if (rc == Z_BUF_ERROR && s.z.avail_in == 0 && size > 0) continue;
    if (rc != Z_OK) return false;
  }
}

// The file an entry is extracted into: a new file (TDirHandle::CreateFile or
// CreateUniqueFile), written from the start to the end.
class TargetFile : public TStream {
 public:
  TargetFile(TFileHandle file, const String& shownPath) : FFile(std::move(file)), FPath(shownPath) {}
  TFileHandle& File() { return FFile; }

  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    std::int64_t moved = 0;
    const int error = FFile.Write(buffer, count, moved);
    if (error != 0 || moved < count) {
      throw EZERefused(kNativeWriteError, Format(u"Cannot write file \"%s\". %s",
                                                 {FPath, SystemErrorText(error != 0 ? error : ENOSPC)}));
    }
    FSize += moved;
    return moved;
  }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return FSize; }
  void SetSize(std::int64_t) override {}
  std::int64_t Size() override { return FSize; }

 private:
  TFileHandle FFile;
  String FPath;
  std::int64_t FSize = 0;
};

}  // namespace

bool IsUnsafeEntryName(StringView name) {
  const String n = SlashedPath(name);
  if (n.find(u'\0') != String::npos) return true;
  if (!n.empty() && n[0] == u'/') return true;  // absolute, and "//server" too
  if (n.size() >= 2 && n[1] == u':') return true;  // a drive
  size_t start = 0;
  while (start <= n.size()) {
    const size_t end = std::min(n.find(u'/', start), n.size());
    if (n.compare(start, end - start, u"..") == 0) return true;
    start = end + 1;
  }
  return false;
}

// --- Finding -----------------------------------------------------------------------

namespace {

bool ItemMatches(const TDirItem& item, const TInternalSearchRec& handle) {
  String name = item.Name;
  if (!name.empty() && name.back() == u'/') name.pop_back();
  const String last = ExtractFileName(name);
  if (!MatchesMask(name, handle.FileMask) && !MatchesMask(last, handle.FileMask)) return false;
  if (!handle.ExclusionMask.empty() &&
      (MatchesMask(name, handle.ExclusionMask) || MatchesMask(last, handle.ExclusionMask))) {
    return false;
  }
  return true;
}

bool PassesAttrFilter(const TDirItem& item, std::uint32_t searchAttr) {
  std::uint32_t attr = item.externalAttr & 0xFF;
  if (item.IsDirectory()) attr |= faDirectory;
  return (attr & kFilterAttrBits & ~searchAttr) == 0;
}

void FillItem(const TDirItem& entry, TZEArchiveItem& item) {
  String name = entry.Name;
  if (!name.empty() && name.back() == u'/') name.pop_back();
  item.FileName = ExtractFileName(name);
  String path = ExtractFilePath(name);
  std::replace(path.begin(), path.end(), u'/', u'\\');
  item.StoredPath = path;
  item.CompressedSize = static_cast<std::int64_t>(entry.CompressedSize());
  item.UncompressedSize = static_cast<std::int64_t>(entry.UncompressedSize());
  if (item.UncompressedSize == 0) {
    item.CompressionRate = 100;
  } else {
    item.CompressionRate = (1.0 - static_cast<double>(item.CompressedSize) / static_cast<double>(item.UncompressedSize)) * 100;
    if (item.CompressionRate < 0) item.CompressionRate = 0;
  }
  item.Encrypted = (entry.genPurposeFlag & kZipFlagEncrypted) != 0;
  item.LastModFileDate = entry.lastModDate;
  item.LastModFileTime = entry.lastModTime;
  item.CRC = entry.crc32;
  item.ExternalFileAttributes = entry.externalAttr;
  item.Comment = entry.Comment();
}

// Searches from the handle's position on; fills Item with the first match.
bool FindFrom(const TZEDirArray& items, const TZEOptions& Options, TZEArchiveItem& Item) {
  TInternalSearchRec& h = Item.Handle;
  if (h.ItemNo < 0) return false;
  if (!h.Wildcards && !Options.Recurse) {
    // One name: the index answers directly. Entries before the handle's
    // position were already reported.
    const int index = items.IndexOf(h.FileMask);
    if (index < h.ItemNo || !PassesAttrFilter(items[index], h.FFindAttr)) return false;
    h.ItemNo = index;
    FillItem(items[index], Item);
    return true;
  }
  const String maskDir = ExtractFilePath(h.FileMask);
  for (int i = h.ItemNo; i < items.Count(); ++i) {
    const TDirItem& entry = items[i];
    if (!Options.Recurse) {
      String name = entry.Name;
      if (!name.empty() && name.back() == u'/') name.pop_back();
      if (!SameTextAscii(ExtractFilePath(name), maskDir)) continue;
    }
    if (!ItemMatches(entry, h) || !PassesAttrFilter(entry, h.FFindAttr)) continue;
    h.ItemNo = i;
    FillItem(entry, Item);
    return true;
  }
  h.ItemNo = items.Count();
  return false;
}

}  // namespace

bool TZEBaseArchiver::FindFirst(const String& FileMask, TZEArchiveItem& Item, const String& ExclusionMask,
                                std::uint32_t SearchAttr) {
  CheckActive();
  TInternalSearchRec& h = Item.Handle;
  h = TInternalSearchRec{};
  h.FileMask = SlashedPath(Options.StorePath == spFullPathWithDrive ? FileMask : RemoveDrivePart(FileMask));
  h.Wildcards = HasWildcards(h.FileMask);
  h.FFindAttr = SearchAttr;
  h.ExclusionMask = SlashedPath(ExclusionMask);
  h.ItemNo = 0;
  return FindFrom(FDir.CDir, Options, Item);
}

bool TZEBaseArchiver::FindNext(TZEArchiveItem& Item) {
  CheckActive();
  ++Item.Handle.ItemNo;
  return FindFrom(FDir.CDir, Options, Item);
}

// --- Extraction ---------------------------------------------------------------------

namespace {

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

std::optional<TZELocalFileHeader> TZEBaseArchiver::CheckItem(int index) {
  if (index < 0 || index >= FDir.CDir.Count()) throw EZEException(kZENativeIndexOutOfBounds);
  const TDirItem& item = FDir.CDir[index];
  CheckNotEncrypted(item);
  // Never extracted, whatever the settings: that is how an archive is made
  // to expand without end.
  if (item.Overlaps) {
    const bool inside = static_cast<std::int64_t>(item.LocalHeaderOffset()) >= FDir.CentralDirOffset;
    throw EZERefused(48, Format(inside ? u"The local header of \"%s\" lies inside the central directory"
                                       : u"The data of \"%s\" overlaps another entry in the archive",
                                {PrintableName(item.Name)}));
  }
  if (ExtractCorruptedFiles) return ReadLocalHeader(*FStream, LocalHeaderAt(item));
  if (item.SizesUnknown) {
    const bool descriptor = (item.genPurposeFlag & kZipFlagDataDescriptor) != 0;
    throw EZERefused(kZENativeBadData,
                     Format(descriptor ? u"The size and check sum of \"%s\" are lost: its data descriptor was not found"
                                       : u"The sizes of \"%s\" are lost: its Zip64 extra field is missing",
                            {PrintableName(item.Name)}));
  }
  const std::int64_t headerAt = LocalHeaderAt(item);
  const std::optional<TZELocalFileHeader> local = ReadLocalHeader(*FStream, headerAt);
  if (!local) throw EZEException(kZENativeBadData);
  const String mismatch = LocalHeaderMismatch(*FStream, headerAt, *local, item, Options.OEMFileNames);
  if (!mismatch.empty()) throw Disagreement(item, mismatch);
  return local;
}

void TZEBaseArchiver::ExtractItem(int index, TStream& Stream) { ExtractCheckedItem(index, CheckItem(index), Stream); }

void TZEBaseArchiver::ExtractCheckedItem(int index, const std::optional<TZELocalFileHeader>& local, TStream& Stream) {
  const TDirItem& item = FDir.CDir[index];
  TStream& archive = *FStream;
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
    CheckedOutput out(Stream, expected);
    switch (item.compMethod) {
      case kZipMethodStored:
        good = CopyStored(archive, dataStart, compressed, out);
        break;
      case kZipMethodDeflate:
        good = expected == 0 && compressed == 0 ? true : Inflate(archive, dataStart, compressed, out);
        break;
      case kZipMethodDeflate64:
        throw EZEException(kZENativeDeflate64);
      default:
        good = false;
        break;
    }
    good = good && out.Written() == expected && out.Crc() == item.crc32;
    if (!good && sizesDiffer && !ExtractCorruptedFiles) throw Disagreement(item, u"sizes");
  }
  if (!good && !ExtractCorruptedFiles) throw EZEException(kZENativeBadData);
}

namespace {

// The elements of a '/'-separated name, without empty and "." ones.
std::vector<String> PathElements(StringView name) {
  std::vector<String> elements;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = std::min(name.find(u'/', start), name.size());
    const StringView element = name.substr(start, end - start);
    if (!element.empty() && element != u".") elements.emplace_back(element);
    start = end + 1;
  }
  return elements;
}

// The directories of one extraction pass: the destination, opened (and
// made) once, and the directory of the entry before, which the next entry
// usually shares.
class TExtractDirs {
 public:
  explicit TExtractDirs(const String& destination) : FDestination(destination) {}

  const String& Destination() const { return FDestination; }

  // The directory destination/elements, made where missing; each element is
  // entered through the handle of the one before, never through a symbolic
  // link. dirPart is the same directory as text, for messages. The handle is
  // shared with the jobs that make files in it, on any thread: it stays open
  // until the last of them is done. beforeMaking runs before a directory
  // that is missing is made.
  std::shared_ptr<const TDirHandle> Enter(const std::vector<String>& elements, const String& dirPart,
                                          const String& entryName, const std::function<void()>& beforeMaking) {
    if (!FRoot) {
      auto root = std::make_shared<TDirHandle>();
      // The destination itself is made too when it is missing.
      if (root->Open(FDestination) != 0) {
        beforeMaking();
        if (!ForceDirectories(FDestination) || root->Open(FDestination) != 0) CannotCreate(dirPart);
      }
      FRoot = std::move(root);
      FRoot->RemoveLeftoverPartFiles();
    }
    if (elements.empty()) return FRoot;
    if (FLast && elements == FLastElements) return FLast;
    FLast.reset();
    TDirHandle current;
    const TDirHandle* parent = FRoot.get();
    for (const String& element : elements) {
      TDirHandle child;
      int error = parent->OpenSubdirectory(element, false, child);
      if (error != 0 && error != ELOOP && error != ENOTDIR) {
        beforeMaking();
        error = parent->OpenSubdirectory(element, true, child);
      }
      if (error == ELOOP) {
        throw EZERefused(kZENativeCannotCreateDir,
                         Format(u"Cannot extract file \"%s\": its path passes through a symbolic link",
                                {PrintableName(entryName)}));
      }
      if (error != 0) CannotCreate(dirPart);
      current = std::move(child);
      parent = &current;
    }
    FLast = std::make_shared<const TDirHandle>(std::move(current));
    FLastElements = elements;
    // Part files of a killed run lie beside the files it was replacing; each
    // directory is cleared of them once, before a file is made in it.
    if (FCleared.insert(dirPart).second) FLast->RemoveLeftoverPartFiles();
    return FLast;
  }

  [[noreturn]] void CannotCreate(const String& dirPart) const {
    throw EZEException(kZENativeCannotCreateDir, {PrintableName(FDestination + dirPart)});
  }

 private:
  String FDestination;
  std::shared_ptr<const TDirHandle> FRoot;
  std::shared_ptr<const TDirHandle> FLast;   // of the entry before, which the next one usually shares
  std::vector<String> FLastElements;
  std::set<String> FCleared;                 // directories whose leftover part files are gone
};

// Whether the existing object at leaf may be replaced under the engine's
// overwrite settings. beforeAsking runs before the question is put.
bool MayReplace(TZEBaseArchiver& engine, const TDirItem& item, const TEntryInfo& existing, const String& target,
                const std::function<void()>& beforeAsking) {
  const TZEOptions& Options = engine.Options;
  if (existing.Kind == ekLink || existing.Kind == ekNone) return true;
  if ((existing.Attr & faReadOnly) && !Options.ReplaceReadOnly) return false;
  const std::uint32_t existingStamp = LocalTimeToDos(existing.Time);
  const std::uint32_t entryStamp = item.DosStamp();
  switch (Options.OverwriteMode) {
    case omAlways: return true;
    case omNever: return false;
    case omPrompt: {
      beforeAsking();
      String dest = target;
      return engine.ConfirmOverwrite(item.Name, dest);
    }
    case omIfNewer: return existingStamp < entryStamp;
    case omIfOlder: return entryStamp < existingStamp;
  }
  return true;
}

// What remains of one entry's extraction once everything that must happen in
// order is done (hooks, questions, checks, directories): making its file,
// writing its data, and putting the file in place. Runs on any thread.
struct TFileJob {
  std::shared_ptr<const TDirHandle> Dir;   // the entry's directory
  String Leaf;               // the file's name in it
  bool SetAttributes = true;
  std::uint32_t Attr = 0;
  std::optional<TFileTime> Time;   // the entry's time, worked out in order
  String Target;             // the target's path, to tell entries that meet
  String ShownTarget;        // the target, as messages show it
};

// What the ordered part of an entry's extraction lets its caller do first.
struct TPreparationSteps {
  // Raises what is known to be wrong with the entry before any file is made.
  std::function<void()> CheckData;
  // Runs before the entry's directory is entered or its target looked at
  // (target, dirPart), so that other entries' files there can be finished.
  std::function<void(const String&, const String&)> BeforeTouching;
  // Runs before anything of the entry's becomes visible outside the pass: a
  // directory made, a question asked.
  std::function<void()> BeforeShowing;
};

// The ordered part of one entry's extraction below the pass's destination.
// Nothing when the entry needs no file (skipped, or a directory).
std::optional<TFileJob> PrepareExtraction(TZEBaseArchiver& engine, const TDirItem& item, TExtractDirs& dirs,
                                          const TPreparationSteps& steps) {
  const TZEOptions& Options = engine.Options;
  String offered = item.Name;
  std::replace(offered.begin(), offered.end(), u'/', u'\\');
  if (!engine.ConfirmProcessFile(offered, poExtract)) return std::nullopt;

  String name = item.Name;
  std::uint32_t attr = item.externalAttr;
  if (engine.OnExtractFile) engine.OnExtractFile(engine, name, attr, item.Comment());
  name = SlashedPath(name);
  if (IsUnsafeEntryName(name)) {
    throw EZERefused(kZENativeCannotCreateFile,
                     Format(u"Cannot extract file \"%s\": its name leads outside the destination directory",
                            {PrintableName(item.Name)}));
  }
  std::vector<String> elements = PathElements(name);
  // A directory is named with a trailing '/', or marked by its attribute
  // alone (as some writers do); an entry with data is a file whatever its
  // attribute says.
  const bool isDirectory = (!name.empty() && name.back() == u'/') ||
                           ((attr & faDirectory) != 0 && item.UncompressedSize() == 0);
  if (elements.empty()) {
    if (isDirectory) return std::nullopt;   // the destination itself
    throw EZERefused(kZENativeCannotCreateFile,
                     Format(u"Cannot extract file \"%s\": it has no name", {PrintableName(item.Name)}));
  }
  if (!isDirectory) CheckNotEncrypted(item);

  const String& destination = dirs.Destination();
  const String target = destination + name;
  // A target longer than the system's longest path could not be opened by
  // anyone afterwards, and other tools refuse it too.
  if (IsPathTooLong(target)) {
    throw EZERefused(isDirectory ? kZENativeCannotCreateDir : kZENativeCannotCreateFile,
                     Format(isDirectory ? u"Cannot create directory \"%s\". %s" : u"Cannot create file \"%s\". %s",
                            {PrintableName(target), SystemErrorText(ENAMETOOLONG)}));
  }
  String leaf;
  if (!isDirectory) {
    leaf = std::move(elements.back());
    elements.pop_back();
    if (!Options.CreateDirs) elements.clear();
  } else if (!Options.CreateDirs) {
    return std::nullopt;
  }
  if (!isDirectory) steps.CheckData();
  const String dirPart = isDirectory ? name : ExtractFilePath(name);
  const String touched = Options.CreateDirs ? target : destination + leaf;
  steps.BeforeTouching(touched, Options.CreateDirs ? dirPart : String());
  std::shared_ptr<const TDirHandle> dir =
      dirs.Enter(elements, Options.CreateDirs ? dirPart : String(), item.Name, steps.BeforeShowing);
  if (isDirectory) return std::nullopt;

  TFileJob job;
  job.ShownTarget = PrintableName(Options.CreateDirs ? target : destination + leaf);
  const TEntryInfo existing = dir->Stat(leaf);
  if (existing.Kind == ekDirectory) throw EZEException(kZENativeCannotCreateFile, {job.ShownTarget});
  if (!MayReplace(engine, item, existing, job.ShownTarget, steps.BeforeShowing)) return std::nullopt;
  job.Dir = std::move(dir);
  job.Leaf = std::move(leaf);
  job.SetAttributes = Options.SetAttributes;
  job.Attr = attr;
  job.Time = FileTimeOf(DosToLocalTime(item.DosStamp()));
  job.Target = touched;
  return job;
}

// Writes the entry's data, with its time and attributes, into a new file
// beside the job's target, under a name of its own that no entry has; returns
// that name. Runs on any thread. A file that fails is removed.
String WriteAside(const TFileJob& job, const std::function<void(TStream&)>& extractData) {
  String written;
  TFileHandle created;
  if (job.Dir->CreateUniqueFile(written, created) != 0) throw EZEException(kZENativeCannotCreateFile, {job.ShownTarget});
  TargetFile file(std::move(created), job.ShownTarget);
  try {
    extractData(file);
    if (job.Time) file.File().SetTime(*job.Time);
    if (job.SetAttributes) file.File().SetAttr(job.Attr);
    file.File().Close();
  } catch (...) {
    file.File().Close();
    job.Dir->Remove(written);
    throw;
  }
  return written;
}

// Gives the file written aside the target's name, replacing what is there
// (a file, a link, a hard link shared with a file elsewhere: never written
// through).
void PutInPlace(const TFileJob& job, const String& written) {
  if (job.Dir->Rename(written, job.Leaf) != 0) {
    job.Dir->Remove(written);
    throw EZEException(kZENativeCannotCreateFile, {job.ShownTarget});
  }
}

// True when path is target or lies below it.
bool IsAtOrBelow(StringView path, StringView target) {
  return path.size() >= target.size() && path.substr(0, target.size()) == target &&
         (path.size() == target.size() || path[target.size()] == u'/');
}

}  // namespace

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
  ExtractItem(index, Stream);
}

namespace {

// An entry's size as progress counts it: the size it declares, capped.
std::int64_t ProgressSize(const TDirItem& item) {
  return static_cast<std::int64_t>(std::min<std::uint64_t>(item.UncompressedSize(), INT64_MAX / 4));
}

// Adds an entry's size to a progress count. Sizes are as the archive
// declares them and may be absurd: the count stops at its top rather than
// overflow.
void CountBytes(std::int64_t& count, std::int64_t size) {
  count = size > INT64_MAX - count ? INT64_MAX : count + size;
}

}  // namespace

// One extraction pass over the tagged entries, with the outcome of handling
// them one after the other in the order of the directory, whatever the number
// of workers.
//
// Everything a person or a hook can see (questions, hooks, failure
// decisions, directories made) happens in that order on the calling thread,
// and only when every entry before is settled. Only writing each file goes to
// the workers, a few entries ahead, and a worker writes it under a temporary
// name: the file takes its name here, in order, once the entries before it
// are settled. So an Abort leaves exactly what it leaves without workers: the
// files written ahead are removed unseen. Before an entry's directory or
// target is touched, the files still being written there are settled first,
// so entries that meet (the same name twice, a file where a later entry wants
// a directory) meet as they would one after the other. Hooks that see every
// entry keep the whole pass in step.
//
// Entries handed to the workers and not yet settled, per worker: enough that
// a worker finds the next small file waiting when it is done with one, few
// enough that finishing the ones in the way of an entry stays cheap. Each
// holds no data of its own, only its target.
constexpr std::size_t kEntriesInFlightPerWorker = 8;

class TExtractionPass {
 public:
  TExtractionPass(TZEBaseArchiver& engine, const TZEWorkProgress& work, bool parallel)
      : FEngine(engine), FItems(engine.FDir.CDir), FWork(work),
        FInStep(engine.OnConfirmProcessFile || engine.OnExtractFile), FDirs(ResolveBaseDir(engine.BaseDir())),
        FPool(parallel ? engine.ThreadCount() : 0),
        FLimit(parallel ? kEntriesInFlightPerWorker * static_cast<std::size_t>(engine.ThreadCount()) : 1) {}
  // Every way out waits for the workers (they read the engine's archive) and
  // removes what they wrote ahead.
  ~TExtractionPass() { DiscardInFlight(); }
  TExtractionPass(const TExtractionPass&) = delete;
  TExtractionPass& operator=(const TExtractionPass&) = delete;

  // Extracts every tagged entry; after an Abort, counts those not reached
  // and drops the rest of the pass.
  void Run() {
    if (ExtractAll()) return;
    DiscardInFlight();
    CountUnreached();
    FEngine.CancelUpdate();
  }

 private:
  // A decision was Abort: the pass ends.
  struct TAborted {};
  // The entries written ahead of a failed one were undone: the pass goes on
  // from FNext.
  struct TRewound {};

  // What a worker made of an entry: the name of the file written aside, or
  // the engine error, as a value made on the worker rather than an exception
  // thrown across threads.
  struct TWritten {
    String Name;
    std::optional<EZEException> Failure;
  };

  // An entry whose file a worker is writing.
  struct TInFlight {
    int Index;
    std::shared_ptr<const TFileJob> Job;
    std::function<String()> Write;   // writes the file aside; again when the entry is redone alone
    std::future<TWritten> Done;
  };

  // False when a decision was Abort.
  bool ExtractAll() {
    FNext = 0;
    for (;;) {
      try {
        while (FNext < FItems.Count()) {
          const int index = FNext++;
          if (!FItems[index].Tagged) continue;
          if (FInStep) {
            SettleAll();
          } else if (FInFlight.size() >= FLimit) {
            SettleOldest();
          }
          StartEntry(index);
        }
        SettleAll();
        return true;
      } catch (const TRewound&) {
        continue;
      } catch (const TAborted&) {
        return false;
      }
    }
  }

  // One entry, whose failure is decided after those of the entries before.
  void StartEntry(int index) {
    try {
      Start(index, false);
    } catch (const EZEException& e) {
      SettleAll();
      Decide(index, e);
    }
  }

  // One entry from the start: prepared here, written by a worker (or at once
  // when there are none); to the end on this thread when synchronous.
  void Start(int index, bool synchronous) {
    // The entry's local header, read and checked here in order, goes with
    // the job: the worker reads only the data.
    std::optional<TZELocalFileHeader> local;
    TPreparationSteps steps;
    steps.CheckData = [&] { local = FEngine.CheckItem(index); };
    steps.BeforeTouching = [&](const String& target, const String& dirPart) { FinishFilesInTheWay(target, dirPart); };
    steps.BeforeShowing = [&] { SettleAll(); };
    std::optional<TFileJob> prepared = PrepareExtraction(FEngine, FItems[index], FDirs, steps);
    if (!prepared) {
      Restored(index);
      return;
    }
    auto job = std::make_shared<const TFileJob>(std::move(*prepared));
    std::function<String()> write = [&engine = FEngine, index, local, job] {
      return WriteAside(*job, [&](TStream& target) { engine.ExtractCheckedItem(index, local, target); });
    };
    if (synchronous) {
      Place(index, *job, write());
      return;
    }
    auto work = [write, cancelled = FCancelled]() -> TWritten {
      if (cancelled->load()) return {String(), EZEException(kZENativeOpenAborted)};
      try {
        return {write(), std::nullopt};
      } catch (const EZEException& e) {
        return {String(), e};
      }
    };
    FInFlight.push_back({index, job, write, FPool.Submit(std::move(work))});
  }

  void Place(int index, const TFileJob& job, const String& written) {
    PutInPlace(job, written);
    Restored(index);
  }

  // Settles the oldest entry in flight: its file takes its name, or its
  // failure is decided, here and in order.
  void SettleOldest() {
    TInFlight entry = std::move(FInFlight.front());
    FInFlight.pop_front();
    TWritten written = entry.Done.get();
    if (!written.Failure) {
      try {
        Place(entry.Index, *entry.Job, written.Name);
      } catch (const EZEException& e) {
        Decide(entry.Index, e);
      }
    } else if (IsAboutTheData(*written.Failure) || FInFlight.empty()) {
      Decide(entry.Index, std::move(*written.Failure));
    } else {
      // A file that could not be made or written may have failed for the
      // files of later entries written beside it at the same time (a disk
      // that all of them filled): those are undone, and it is written again
      // alone, as it would have been in order.
      UndoEntriesAfter(entry.Index);
      try {
        Place(entry.Index, *entry.Job, entry.Write());
      } catch (const EZEException& e) {
        Decide(entry.Index, e);
      }
    }
    if (std::exchange(FRewinding, false)) throw TRewound{};
  }

  void SettleAll() {
    while (!FInFlight.empty()) SettleOldest();
  }

  // Damaged data is damaged whatever else runs; other failures may not be.
  static bool IsAboutTheData(const EZEException& failure) {
    return failure.NativeError == kZENativeBadData || failure.NativeError == kZENativeDeflate64;
  }

  // Drops the entries in flight after index, all of them later in the
  // directory: the pass takes them up again once index is decided.
  void UndoEntriesAfter(int index) {
    if (FInFlight.empty()) return;
    DiscardInFlight();
    FNext = index + 1;
    FRewinding = true;
  }

  // The failure decision for entry index; a retry runs the whole entry again
  // on this thread, after the entries written ahead of it are undone (in
  // order, they come after the retry). Throws TAborted after an Abort.
  void Decide(int index, EZEException failure) {
    for (;;) {
      const TZEAction action = FEngine.ProcessFileFailure(FItems[index].Name, poExtract, failure);
      if (action == fxaRetry) {
        UndoEntriesAfter(index);
        try {
          Start(index, true);
          return;
        } catch (const EZEException& e) {
          failure = e;
          continue;
        }
      }
      NotRestored(index, failure);
      if (action == fxaIgnore) return;
      FAbortedAt = index;
      throw TAborted{};
    }
  }

  // Settles the files in flight at or below target, or in the way of
  // dirPart, before an entry touches them.
  void FinishFilesInTheWay(const String& target, const String& dirPart) {
    const String dir = FDirs.Destination() + dirPart;
    for (const TInFlight& entry : FInFlight) {
      if (IsAtOrBelow(entry.Job->Target, target) || IsAtOrBelow(dir, entry.Job->Target)) {
        SettleAll();
        return;
      }
    }
  }

  void Restored(int index) {
    if (FItems[index].IsDirectory()) return;
    ++FWork.FilesDone;
    CountBytes(FWork.BytesDone, ProgressSize(FItems[index]));
    if (FEngine.OnWorkProgress) FEngine.OnWorkProgress(FEngine, poExtract, FWork);
  }

  void NotRestored(int index, const EZEException& e) {
    TZEBaseArchiver::TZEUnrestored& unrestored = FEngine.FUnrestored;
    if (unrestored.Count++ == 0) {
      unrestored.FirstName = FItems[index].Name;
      unrestored.FirstFailure = std::make_shared<const EZEException>(e);
    }
  }

  // After an Abort the tagged entries after the one aborted at are not
  // restored either.
  void CountUnreached() {
    for (int j = FAbortedAt + 1; FAbortedAt >= 0 && j < FItems.Count(); ++j) {
      if (FItems[j].Tagged) ++FEngine.FUnrestored.Count;
    }
  }

  // Waits for the workers to finish what they started (they start nothing
  // more meanwhile) and removes the files they wrote aside.
  void DiscardInFlight() {
    FCancelled->store(true);
    for (TInFlight& entry : FInFlight) {
      try {
        const TWritten written = entry.Done.get();
        if (!written.Failure) entry.Job->Dir->Remove(written.Name);
      } catch (const std::exception&) {
      }
    }
    FInFlight.clear();
    FCancelled->store(false);
  }

  TZEBaseArchiver& FEngine;
  TZEDirArray& FItems;
  TZEWorkProgress FWork;
  const bool FInStep;           // hooks see every entry: no entry runs ahead
  TExtractDirs FDirs;
  TWorkerPool FPool;
  const std::size_t FLimit;     // entries in flight at most
  std::deque<TInFlight> FInFlight;
  int FNext = 0;                // the next entry to start
  bool FRewinding = false;      // entries in flight were undone: the pass goes on from FNext
  std::shared_ptr<std::atomic<bool>> FCancelled = std::make_shared<std::atomic<bool>>(false);
  int FAbortedAt = -1;          // the entry whose failure was answered with Abort
};

void TZEBaseArchiver::ExtractFiles(const String& FileMask, std::uint32_t SearchAttr, const String& ExclusionMask) {
  CheckActive();
  if (InUpdate()) throw EZEException(kZENativeUpdateNotEnded);
  FUnrestored = TZEUnrestored{};
  TZEDirArray& items = FDir.CDir;
  for (int i = 0; i < items.Count(); ++i) items[i].Tagged = false;
  TZEArchiveItem found;
  const bool many = Options.Recurse || HasWildcards(FileMask) || !ExclusionMask.empty() ||
                    SearchAttr != kZEDefaultSearchAttr;
  if (FindFirst(FileMask, found, ExclusionMask, SearchAttr)) {
    do {
      items[found.Handle.ItemNo].Tagged = true;
    } while (many && FindNext(found));
  }

  TZEWorkProgress work;
  for (int i = 0; i < items.Count(); ++i) {
    if (!items[i].Tagged || items[i].IsDirectory()) continue;
    ++work.FilesTotal;
    CountBytes(work.BytesTotal, ProgressSize(items[i]));
  }
  const bool parallel = FThreadCount > 0 && work.FilesTotal > 1 && FStream->ConcurrentReads();
  std::lock_guard<std::mutex> lock(CollectionLock());
  TExtractionPass(*this, work, parallel).Run();
}

}  // namespace zo
