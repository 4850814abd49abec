// Finding entries and extracting them, to a stream or to files below a
// destination directory.
//
// Extraction never writes outside the destination: names that are absolute,
// carry a drive, open with "//" or climb with ".." are refused, and a
// symbolic link found where a file is to go is removed rather than written
// through. Data is moved in bounded pieces (1 MiB of input at a time, output
// written as it comes), so no entry is ever held whole in memory, and an
// entry never yields more bytes than its directory record announces.

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <functional>
#include <memory>

#include "core/StringUtils.h"
#include "platform/FileSystem.h"
#include "platform/Utf.h"
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

// An engine error whose text is our own rather than one of the numbered
// templates, for refusals the templates have no words for. It still carries
// a native number, so the failure decision treats it like any other.
class EZEEntryRefused : public EZEException {
 public:
  EZEEntryRefused(int nativeError, const String& text) : EZEException(nativeError) {
    SetMessage(text + Format(u" - Native error: %05d", {nativeError}));
  }
};

bool HasWildcards(StringView mask) { return mask.find_first_of(u"*?") != StringView::npos; }

// The drive and the root separator after it go: stored names are relative.
String WithoutDrive(StringView mask) {
  if (mask.size() >= 2 && mask[1] == u':') mask.remove_prefix(2);
  if (!mask.empty() && (mask[0] == u'\\' || mask[0] == u'/')) mask.remove_prefix(1);
  return String(mask);
}

String LastElement(StringView name) {
  const size_t slash = name.rfind(u'/');
  return String(slash == StringView::npos ? name : name.substr(slash + 1));
}

String DirectoryPart(StringView name) {
  const size_t slash = name.rfind(u'/');
  return String(slash == StringView::npos ? StringView() : name.substr(0, slash + 1));
}

std::uint32_t DosStampOf(const TDirItem& item) {
  return (static_cast<std::uint32_t>(item.lastModDate) << 16) | item.lastModTime;
}

void CheckNotEncrypted(const TDirItem& item) {
  if (item.genPurposeFlag & kZipFlagEncrypted) {
    throw EZEEntryRefused(kNativeEncrypted,
                          Format(u"File \"%s\" is encrypted and cannot be extracted", {item.Name}));
  }
}

// The output of an entry: counts and checksums what passes, and refuses to
// take more than the entry announced (a damaged or hostile entry cannot make
// extraction produce unbounded output).
class CheckedOutput {
 public:
  CheckedOutput(TStream& target, std::uint64_t expected) : target_(target), expected_(expected) {}
  // False when the data would run past the announced size.
  bool Write(const std::uint8_t* data, std::size_t size) {
    if (size > expected_ - std::min(expected_, written_)) return false;
    crc_ = UpdateCrc32(crc_, data, size);
    target_.WriteBuffer(data, static_cast<std::int64_t>(size));
    written_ += size;
    return true;
  }
  std::uint64_t Written() const { return written_; }
  std::uint64_t Expected() const { return expected_; }
  std::uint32_t Crc() const { return crc_; }

 private:
  TStream& target_;
  std::uint64_t expected_;
  std::uint64_t written_ = 0;
  std::uint32_t crc_ = 0;
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

// The file an entry is extracted into: created fresh, never through a link.
class TargetFile : public TStream {
 public:
  explicit TargetFile(const String& path) : path_(path) {
    fd_ = open(ToOsPath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  }
  ~TargetFile() override { Close(); }
  bool IsOpen() const { return fd_ >= 0; }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const auto* p = static_cast<const std::uint8_t*>(buffer);
    std::int64_t done = 0;
    while (done < count) {
      const ssize_t n = ::write(fd_, p + done, static_cast<size_t>(count - done));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        throw EZEEntryRefused(kNativeWriteError, Format(u"Cannot write file \"%s\". %s",
                                                        {path_, SystemErrorText(errno ? errno : ENOSPC)}));
      }
      done += n;
    }
    size_ += done;
    return done;
  }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return size_; }
  void SetSize(std::int64_t) override {}
  std::int64_t Size() override { return size_; }

 private:
  String path_;
  int fd_ = -1;
  std::int64_t size_ = 0;
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
  const String last = LastElement(name);
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
  item.FileName = LastElement(name);
  String path = DirectoryPart(name);
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
  item.Comment = entry.Comment;
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
  const String maskDir = DirectoryPart(h.FileMask);
  for (int i = h.ItemNo; i < items.Count(); ++i) {
    const TDirItem& entry = items[i];
    if (!Options.Recurse) {
      String name = entry.Name;
      if (!name.empty() && name.back() == u'/') name.pop_back();
      if (!SameTextAscii(DirectoryPart(name), maskDir)) continue;
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
  h.FileMask = SlashedPath(Options.StorePath == spFullPathWithDrive ? FileMask : WithoutDrive(FileMask));
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

void TZEBaseArchiver::ExtractItem(int index, TStream& Stream) {
  if (index < 0 || index >= FDir.CDir.Count()) throw EZEException(kZENativeIndexOutOfBounds);
  const TDirItem& item = FDir.CDir[index];
  CheckNotEncrypted(item);
  TStream& archive = *FStream;

  const std::int64_t headerAt = static_cast<std::int64_t>(std::min<std::uint64_t>(item.LocalHeaderOffset(), INT64_MAX / 2));
  std::array<std::uint8_t, kZipLocalHeaderSize> raw{};
  bool good = ReadAt(archive, headerAt, raw.data(), kZipLocalHeaderSize) == kZipLocalHeaderSize &&
              GetLE32(raw.data()) == kZipLocalHeaderSignature;
  std::uint64_t written = 0;
  if (good) {
    TZELocalFileHeader local;
    local.Read(raw.data());
    const std::int64_t dataStart = headerAt + static_cast<std::int64_t>(kZipLocalHeaderSize) + local.nameLength + local.extraLength;
    std::uint64_t compressed = item.CompressedSize();
    const std::int64_t room = std::max<std::int64_t>(0, FDir.CentralDirOffset - dataStart);
    compressed = std::min<std::uint64_t>(compressed, static_cast<std::uint64_t>(room));
    const std::uint64_t expected = item.UncompressedSize();
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
    written = out.Written();
  }
  if (!good && !ExtractCorruptedFiles) throw EZEException(kZENativeBadData);
  (void)written;
}

namespace {

// Whether a directory below destination on the way to dirPart is a symbolic
// link; writing through one could land anywhere on the disk.
bool PassesThroughLink(const String& destination, const String& dirPart) {
  for (size_t slash = dirPart.find(u'/'); slash != String::npos; slash = dirPart.find(u'/', slash + 1)) {
    if (IsSymbolicLink(destination + dirPart.substr(0, slash))) return true;
  }
  return false;
}

// Extracts one entry below destination (absolute, trailing '/'); extractData
// writes the entry's checked data into the stream it is given.
void ExtractToFile(TZEBaseArchiver& engine, const TDirItem& item, const String& destination,
                   const std::function<void(TStream&)>& extractData) {
  const TZEOptions& Options = engine.Options;
  String offered = item.Name;
  std::replace(offered.begin(), offered.end(), u'/', u'\\');
  if (!engine.ConfirmProcessFile(offered, poExtract)) return;

  String name = item.Name;
  std::uint32_t attr = item.externalAttr;
  if (engine.OnExtractFile) engine.OnExtractFile(engine, name, attr, item.Comment);
  name = SlashedPath(name);
  if (IsUnsafeEntryName(name)) {
    throw EZEEntryRefused(kZENativeCannotCreateFile,
                          Format(u"Cannot extract file \"%s\": its name leads outside the destination directory",
                                 {item.Name}));
  }
  const bool isDirectory = (attr & faDirectory) != 0 || (!item.Name.empty() && item.Name.back() == u'/');
  if (!isDirectory) CheckNotEncrypted(item);

  String target;
  if (Options.CreateDirs) {
    const String dirPart = DirectoryPart(name);
    if (PassesThroughLink(destination, dirPart)) {
      throw EZEEntryRefused(kZENativeCannotCreateDir,
                            Format(u"Cannot extract file \"%s\": its path passes through a symbolic link",
                                   {item.Name}));
    }
    // The destination itself is created too when it is missing.
    if (!ForceDirectories(destination + dirPart)) {
      throw EZEException(kZENativeCannotCreateDir, {destination + dirPart});
    }
    target = destination + name;
  } else {
    target = destination + LastElement(name);
  }
  if (isDirectory) return;

  if (PathEntryExists(target)) {
    const bool link = IsSymbolicLink(target);
    if (!link && (FileGetAttr(target) & faReadOnly) && !Options.ReplaceReadOnly) return;
    if (!link) {
      const std::optional<TLocalTime> existing = FileGetLocalTime(target);
      const std::uint32_t existingStamp = existing ? LocalTimeToDos(*existing) : 0;
      const std::uint32_t entryStamp = DosStampOf(item);
      switch (Options.OverwriteMode) {
        case omAlways:
          break;
        case omNever:
          return;
        case omPrompt: {
          String dest = target;
          if (!engine.ConfirmOverwrite(item.Name, dest)) return;
          break;
        }
        case omIfNewer:
          if (existingStamp >= entryStamp) return;
          break;
        case omIfOlder:
          if (entryStamp >= existingStamp) return;
          break;
      }
      FileSetAttr(target, 0);
    }
    DeleteFile(target);
  }

  TargetFile file(target);
  if (!file.IsOpen()) throw EZEException(kZENativeCannotCreateFile, {target});
  try {
    extractData(file);
  } catch (...) {
    file.Close();
    DeleteFile(target);
    throw;
  }
  file.Close();
  FileSetLocalTime(target, DosToLocalTime(DosStampOf(item)));
  if (Options.SetAttributes) FileSetAttr(target, attr);
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

void TZEBaseArchiver::ExtractFiles(const String& FileMask, std::uint32_t SearchAttr, const String& ExclusionMask) {
  CheckActive();
  if (InUpdate()) throw EZEException(kZENativeUpdateNotEnded);
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

  std::lock_guard<std::mutex> lock(CollectionLock());
  const String destination = ResolveBaseDir(FBaseDir);
  for (int i = 0; i < items.Count(); ++i) {
    if (!items[i].Tagged) continue;
    for (;;) {
      try {
        ExtractToFile(*this, items[i], destination, [&](TStream& target) { ExtractItem(i, target); });
        break;
      } catch (const EZEException& e) {
        const TZEAction action = ProcessFileFailure(items[i].Name, poExtract, e);
        if (action == fxaRetry) continue;
        if (action == fxaIgnore) break;
        CancelUpdate();
        return;
      }
    }
  }
}

}  // namespace zo
