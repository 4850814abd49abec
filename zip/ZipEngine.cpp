#include "zip/ZipEngine.h"

#include <algorithm>

#include "platform/FileSystem.h"
#include "platform/TempFile.h"

namespace zo {

namespace {

bool IsSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

// The name part of a path, after the last '/' or '\'.
StringView NamePart(StringView path) {
  const auto slash = std::find_if(path.rbegin(), path.rend(), IsSeparator);
  return path.substr(static_cast<std::size_t>(path.rend() - slash));
}

// The stored form of a name given with a stream: one trailing '\' removed,
// every '\' turned into '/'.
String StoredStreamName(String name) {
  if (!name.empty() && name.back() == u'\\') name.pop_back();
  std::replace(name.begin(), name.end(), u'\\', u'/');
  return name;
}

// A temporary file that is deleted on every way out.
class TTempTail {
 public:
  explicit TTempTail(const String& dir) {
    int error = 0;
    path_ = CreateTempFile(dir, u"FC", &error);
    if (path_.empty()) {
      const String where = (dir.empty() ? TempDirectory() : dir) + u"/FC";
      throw EFCreateError(kSFCreateError, {where, SystemErrorText(error)});
    }
    stream_ = std::make_unique<TFileStream>(path_, fmOpenReadWrite | fmShareExclusive);
  }
  ~TTempTail() {
    stream_.reset();
    DeleteFile(path_);
  }
  TTempTail(const TTempTail&) = delete;
  TTempTail& operator=(const TTempTail&) = delete;

  TStream& Stream() { return *stream_; }

 private:
  String path_;
  std::unique_ptr<TFileStream> stream_;
};

// The byte length of an entry as it sits in the archive: local header, name,
// extra field, data and, when the entry has one, its data descriptor.
std::int64_t StoredLength(TStream& source, std::int64_t headerPos, const TDirItem& item,
                          TZELocalFileHeader& header) {
  std::uint8_t raw[kZipLocalHeaderSize];
  source.SetPosition(headerPos);
  source.ReadBuffer(raw, sizeof raw);
  header.Read(raw);
  if (header.signature != kZipLocalHeaderSignature) throw EZEException(kZENativeInvalidArchive);
  std::int64_t length = static_cast<std::int64_t>(kZipLocalHeaderSize) + header.nameLength +
                        header.extraLength + static_cast<std::int64_t>(item.CompressedSize());
  if ((header.genPurposeFlag & kZipFlagDataDescriptor) != 0) {
    // CRC and sizes follow the data, with or without their signature.
    std::uint8_t sig[4] = {};
    source.SetPosition(headerPos + length);
    const bool signed_ = source.Read(sig, 4) == 4 && GetLE32(sig) == kZipDataDescriptorSignature;
    length += (signed_ ? 4 : 0) + 4 + (item.bHugeFile ? 16 : 8);
  }
  return length;
}

// Copies count bytes of source from position to the current position of
// target, a megabyte at a time.
void CopyRange(TStream& source, std::int64_t position, TStream& target, std::int64_t count) {
  constexpr std::int64_t kChunk = 1 << 20;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(count, kChunk)));
  source.SetPosition(position);
  while (count > 0) {
    const std::int64_t n = std::min(count, kChunk);
    source.ReadBuffer(buffer.data(), n);
    target.WriteBuffer(buffer.data(), n);
    count -= n;
  }
}

}  // namespace

std::uint16_t ShareModeBits(TZEFileShareMode mode) {
  switch (mode) {
    case smShareCompat: return fmShareCompat;
    case smShareExclusive: return fmShareExclusive;
    case smShareDenyWrite: return fmShareDenyWrite;
    case smShareDenyRead: return fmShareDenyRead;
    case smShareDenyNone: return fmShareDenyNone;
  }
  return fmShareDenyNone;
}

// --- Construction and settings ------------------------------------------------------

TZEBaseArchiver::TZEBaseArchiver() = default;

TZEBaseArchiver::~TZEBaseArchiver() {
  try {
    CloseArchive();
  } catch (...) {
    // A destructor has nobody to report to; closing swallows its own errors.
  }
}

TZipEngine::TZipEngine() {
  FZip64Mode = zmDisabled;
  UpdateCompressionMethod();
}

void TZipEngine::UpdateCompressionMethod() {
  FCompressionMethod = CompressionMode() == 0 ? kZipMethodStored : kZipMethodDeflate;
}

void TZEBaseArchiver::SetCompressionLevel(TZECompressionLevel value) {
  static constexpr int kModes[] = {0, 1, 6, 9};
  FCompressionLevel = value;
  FCompressionMode = kModes[static_cast<int>(value)];
  UpdateCompressionMethod();
}

void TZEBaseArchiver::SetCompressionMode(int value) {
  if (value < 0 || value > 9) throw EZEException(kZENativeInvalidMode, this);
  FCompressionMode = value;
  FCompressionLevel = value == 0 ? clNone : value <= 3 ? clFastest : value <= 6 ? clNormal : clMax;
  UpdateCompressionMethod();
}

TZEUserPrompt& TZEBaseArchiver::UserPrompt() const {
  return FUserPrompt != nullptr ? *FUserPrompt : DefaultUserPrompt();
}

// --- Opening and closing -------------------------------------------------------------

void TZEBaseArchiver::OpenArchive(std::uint16_t Mode) {
  if (NamePart(FFileName).empty()) throw EZEException(kZENativeBlankFileName, this);
  if (Mode != fmCreate && !FileExists(FFileName))
    throw EZEException(kZENativeArchiveNotFound, {FFileName}, this);
  CloseArchive();
  auto stream = std::make_unique<TFileStream>(FFileName, Mode);
  FStream = stream.get();
  FOwnedStream = std::move(stream);
  FCallerStream = false;
  FFileMode = Mode;
  FDir.Clear();
  if (Mode != fmCreate) {
    try {
      LoadDir();
    } catch (...) {
      FOwnedStream.reset();
      FStream = nullptr;
      FDir.Clear();
      throw;
    }
  }
  FActive = true;
}

void TZEBaseArchiver::OpenArchive(TStream& Stream, bool Create) {
  CloseArchive();
  FStream = &Stream;
  FCallerStream = true;
  FFileMode = fmOpenReadWrite;
  FDir.Clear();
  try {
    if (Create) {
      Stream.SetSize(0);
      Stream.SetPosition(0);
      FDir.SaveDir(true, Stream, DirSettings());
    } else {
      LoadDir();
    }
  } catch (...) {
    FStream = nullptr;
    FCallerStream = false;
    FDir.Clear();
    throw;
  }
  FActive = true;
}

void TZEBaseArchiver::CloseArchive() {
  if (FActive) {
    try {
      if (FUpdateCount > 0) Commit();
      // A new archive that never received an entry still has to be a valid
      // archive: the bare end record.
      if (IsWritable() && FStream->Size() == FDir.StubSize) {
        FStream->SetPosition(FDir.StubSize);
        FDir.SaveDir(true, *FStream, DirSettings());
      }
    } catch (...) {
      // Closing always closes; a failed commit has already restored the
      // archive.
    }
  }
  FOwnedStream.reset();
  FStream = nullptr;
  FCallerStream = false;
  FDir.Clear();
  FUpdateCount = 0;
  FActive = false;
}

void TZEBaseArchiver::CheckActive() const {
  if (!FActive) throw EZEException(kZENativeNotActive, this);
}

bool TZEBaseArchiver::IsWritable() const {
  return FStream != nullptr && (FCallerStream || (FFileMode & 0xFF03) != 0);
}

TZEDirSettings TZEBaseArchiver::DirSettings() const {
  TZEDirSettings settings;
  settings.OEMFileNames = Options.OEMFileNames;
  return settings;
}

// --- Transactions ---------------------------------------------------------------------

void TZEBaseArchiver::BeginUpdate() {
  CheckActive();
  if (FUpdateCount == 0) {
    if (!IsWritable()) throw EZEException(kZENativeReadOnly, this);
    for (int i = 0; i < FDir.CDir.Count(); ++i) FDir.CDir[i].Modified = false;
    FDir.RBCDir = FDir.CDir;
  }
  ++FUpdateCount;
}

void TZEBaseArchiver::EndUpdate() {
  if (FUpdateCount > 1) {
    --FUpdateCount;
  } else if (FUpdateCount == 1) {
    Commit();
  }
}

void TZEBaseArchiver::CancelUpdate() {
  // The entries registered since the transaction began were never written;
  // they leave the directory too, or a later commit would take them for
  // entries of the archive.
  if (FUpdateCount > 0) FDir.CDir = FDir.RBCDir;
  FUpdateCount = 0;
}

// --- Adding from a stream ------------------------------------------------------------

void TZEBaseArchiver::AddFromStream(const String& FileName, TStream& Stream, bool CopyToBuffer,
                                    std::int64_t Position, std::int64_t Count, std::uint32_t Attr,
                                    TDateTime DateTime) {
  CheckActive();
  BeginUpdate();
  try {
    const bool isDirectory = (Attr & faDirectory) != 0;
    const std::uint32_t stamp = DateTimeToDosStamp(DateTime == 0 ? Now() : DateTime);
    String name = StoredStreamName(FileName);
    // A directory entry ends with "/" whatever the caller wrote: other tools
    // tell directories by that, not by the attribute.
    if (isDirectory && !name.empty() && name.back() != u'/') name += u'/';
    const int index = RegisterItem(name, String(), Attr, stamp, isDirectory);
    if (index >= 0 && !isDirectory) {
      TDirItem& item = FDir.CDir[index];
      if (CopyToBuffer) {
        auto copy = std::make_shared<TMemoryStream>();
        const std::int64_t saved = Stream.Position();
        if (Count == 0) {
          Stream.SetPosition(0);
          Count = Stream.Size();
        } else {
          Stream.SetPosition(Position);
        }
        std::vector<std::uint8_t> chunk(10000);
        for (std::int64_t left = Count; left > 0;) {
          const std::int64_t n = Stream.Read(chunk.data(), std::min<std::int64_t>(left, 10000));
          if (n <= 0) break;
          copy->WriteBuffer(chunk.data(), n);
          left -= n;
        }
        Stream.SetPosition(saved);
        item.OwnedStream = copy;
        item.Stream = copy.get();
      } else {
        item.Stream = &Stream;
      }
      item.Position = Position;
      item.SetUncompressedSize(static_cast<std::uint64_t>(item.Stream->Size()), FZip64Mode == zmAlways);
    }
    EndUpdate();
  } catch (...) {
    CancelUpdate();
    throw;
  }
}

// --- Entry registration ---------------------------------------------------------------

int TZEBaseArchiver::RegisterItem(String Name, const String& SrcFileName, std::uint32_t Attr,
                                  std::uint32_t DosStamp, bool IsDirectory) {
  AnsiText comment;
  if (OnStoreFile) OnStoreFile(*this, Name, Attr, comment, SrcFileName.empty() ? Name : SrcFileName);

  TZEDirArray& dir = FDir.CDir;
  int index = dir.IndexOf(Name);
  TZEProcessOperation operation = poAdd;
  if (index >= 0) {
    const TDirItem& existing = dir[index];
    const std::uint32_t stored =
        static_cast<std::uint32_t>(existing.lastModDate) << 16 | existing.lastModTime;
    bool replace = false;
    switch (Options.OverwriteMode) {
      case omPrompt: {
        String dest = existing.Name;
        replace = ConfirmOverwrite(SrcFileName.empty() ? Name : SrcFileName, dest);
        break;
      }
      case omAlways: replace = true; break;
      case omNever: replace = false; break;
      case omIfNewer: replace = DosStamp > stored; break;
      case omIfOlder: replace = DosStamp < stored; break;
    }
    if (!replace) return -1;
    dir.Rename(index, Name);
    operation = poUpdate;
  } else {
    TDirItem item;
    item.Name = Name;
    index = dir.Add(std::move(item));
  }

  // (Re)initialise the entry: nothing of a replaced entry survives but its
  // place in the directory.
  TDirItem& item = dir[index];
  TDirItem fresh;
  fresh.Name = item.Name;
  item = std::move(fresh);
  const std::uint16_t version = Options.OEMFileNames ? kZipVersion20 : kZipVersionAnsiNames;
  item.versionMadeBy = version;
  item.extractVersion = version;
  item.genPurposeFlag = Password.empty() ? 0 : kZipFlagEncrypted;
  item.compMethod = FCompressionMethod;
  item.CompressionMethod = FCompressionMethod;
  item.CompressionMode = static_cast<std::uint8_t>(IsDirectory ? 0 : FCompressionMode);
  item.crc32 = 0xFFFFFFFF;
  item.lastModTime = static_cast<std::uint16_t>(DosStamp & 0xFFFF);
  item.lastModDate = static_cast<std::uint16_t>(DosStamp >> 16);
  item.nameLength = static_cast<std::uint16_t>(item.Name.size());
  item.externalAttr = Attr;
  item.Modified = true;
  item.SrcFileName = SrcFileName;
  item.Comment = comment;
  item.Operation = operation;
  if (IsDirectory) {
    item.compMethod = kZipMethodStored;
    item.CompressionMethod = kZipMethodStored;
    item.crc32 = 0;
    item.genPurposeFlag = kZipFlagDirectory;
    // A directory is known by its attribute bit when the entry is stored.
    item.externalAttr |= faDirectory;
  }
  return index;
}

// --- Decisions and hooks --------------------------------------------------------------

TZEAction TZEBaseArchiver::ProcessFileFailure(const String& FileName, TZEProcessOperation Operation,
                                              const EZEException& E) {
  const TZEAction action = DecideFileFailure(FileName, Operation, E);
  if (action == fxaAbort) FAbortedFailure = std::make_shared<const EZEException>(E);
  return action;
}

TZEAction TZEBaseArchiver::DecideFileFailure(const String& FileName, TZEProcessOperation Operation,
                                             const EZEException& E) {
  if (OnProcessFileFailure) {
    TZEAction action = fxaIgnore;
    OnProcessFileFailure(*this, FileName, Operation, E.NativeError, E.ErrorCode, E.Message(), action);
    return action;
  }
  if (E.NativeError == kZENativeOpenAborted) return fxaAbort;
  if (E.NativeError == kZENativeNameTooLong)
    return UserPrompt().Ask(E.Message(), qkAbortIgnore) == zaIgnore ? fxaIgnore : fxaAbort;
  const String question = Format(u"%s. File processing error, possibly disk is full", {E.Message()});
  switch (UserPrompt().Ask(question, qkAbortRetryIgnore)) {
    case zaRetry: return fxaRetry;
    case zaIgnore: return fxaIgnore;
    default: return fxaAbort;
  }
}

bool TZEBaseArchiver::ConfirmProcessFile(const String& FileName, TZEProcessOperation Operation) {
  bool confirm = true;
  if (OnConfirmProcessFile) OnConfirmProcessFile(*this, FileName, Operation, confirm);
  return confirm;
}

bool TZEBaseArchiver::ConfirmOverwrite(const String& SourceFileName, String& DestFileName) {
  bool confirm = true, yesToAll = false, noToAll = false;
  if (OnConfirmOverwrite) {
    OnConfirmOverwrite(*this, SourceFileName, DestFileName, confirm, yesToAll, noToAll);
  } else {
    const String question = Format(u"Overwrite file \"%s\" with \"%s\"", {DestFileName, SourceFileName});
    switch (UserPrompt().Ask(question, qkYesNoAll)) {
      case zaYes: confirm = true; break;
      case zaYesToAll: confirm = true; yesToAll = true; break;
      case zaNoToAll: confirm = false; noToAll = true; break;
      default: confirm = false; break;
    }
  }
  if (noToAll) {
    Options.OverwriteMode = omNever;
    return false;
  }
  if (yesToAll) Options.OverwriteMode = omAlways;
  return confirm;
}

// --- Writing to the archive ------------------------------------------------------------

void TZEBaseArchiver::WriteToArchive(const void* data, std::int64_t count) {
  const auto* p = static_cast<const std::uint8_t*>(data);
  while (count > 0) {
    const std::int64_t n = FStream->Write(p, count);
    p += n;
    count -= n;
    if (count > 0) {
      bool cancel = true;
      if (OnDiskFull) {
        cancel = false;
        OnDiskFull(*this, 0, FFileName, cancel);
      }
      if (cancel) throw EZEException(kZENativeDiskFull, this);
    }
  }
}

// --- The commit --------------------------------------------------------------------------

namespace {

// What the end of the archive looked like before the commit, to be put back
// when the commit does not complete.
struct TDirEndState {
  TZEZipCentralDirEnd end;
  TZEZip64CentralDirEnd zip64End;
  TZEZip64CentralDirEndLocator locator;
  std::int64_t centralDirOffset;
  bool zip64;
};

}  // namespace

// Copies entry index, unchanged, from where it sat before the commit (in the
// temporary tail when one was made, else in the archive itself) to the
// archive's current position, and records its new offset.
void TZEBaseArchiver::CopyItemUnchanged(int index, TStream* tail, std::int64_t tailStart) {
  TDirItem& item = FDir.CDir[index];
  const auto oldOffset = static_cast<std::int64_t>(item.LocalHeaderOffset());
  const bool fromTail = tail != nullptr && oldOffset >= tailStart;
  TStream& source = fromTail ? *tail : *FStream;
  const std::int64_t sourcePos = fromTail ? oldOffset - tailStart : oldOffset;
  const std::int64_t target = FStream->Position();

  TZELocalFileHeader header;
  const std::int64_t length = StoredLength(source, sourcePos, item, header);
  FStream->SetPosition(target);
  if (FZip64Mode == zmDisabled && static_cast<std::uint64_t>(target) >= kZip64Marker32)
    throw EZEException(kZENativeZip64Needed, {item.Name}, this);
  // An entry whose offset was in its Zip64 block keeps it there.
  item.SetLocalHeaderOffset(static_cast<std::uint64_t>(target), item.relOffsetLH == kZip64Marker32);
  CopyRange(source, sourcePos, *FStream, length);
  FStream->SetPosition(target + length);
}

void TZEBaseArchiver::Commit() {
  FUpdateCount = 0;
  TZEDirArray& dir = FDir.CDir;
  const TZEDirArray& old = FDir.RBCDir;
  TStream& stream = *FStream;

  // The first entry that differs from the archive on disk; everything before
  // it stays where it is.
  const int common = std::min(dir.Count(), old.Count());
  int first = common;
  for (int i = 0; i < common; ++i) {
    if (dir[i].Modified || dir[i].Name != old[i].Name) {
      first = i;
      break;
    }
  }

  std::int64_t writePos;
  if (first < old.Count()) {
    writePos = static_cast<std::int64_t>(old[first].LocalHeaderOffset());
  } else if (old.Count() == 0) {
    writePos = FDir.StubSize;
  } else {
    writePos = FDir.CentralDirOffset;
  }
  std::int64_t oldSize = 0;

  const TDirEndState endState{FDir.CentralDirEnd, FDir.Zip64CentralDirEnd,
                              FDir.Zip64CentralDirEndLocator, FDir.CentralDirOffset, FDir.FZip64};
  // Everything after the write position is kept until the commit is done: in
  // a temporary file when entries there must be copied back, else (only the
  // old central directory and end records) in memory.
  std::unique_ptr<TTempTail> tail;
  Bytes savedEnd;
  bool truncated = false;

  auto rollback = [&] {
    FDir.CDir = FDir.RBCDir;
    FDir.CentralDirEnd = endState.end;
    FDir.Zip64CentralDirEnd = endState.zip64End;
    FDir.Zip64CentralDirEndLocator = endState.locator;
    FDir.CentralDirOffset = endState.centralDirOffset;
    FDir.FZip64 = endState.zip64;
    if (!truncated) return;   // the archive itself was not touched yet
    stream.SetSize(writePos);
    stream.SetPosition(writePos);
    if (tail) {
      CopyRange(tail->Stream(), 0, stream, oldSize - writePos);
    } else {
      stream.WriteBuffer(savedEnd.data(), static_cast<std::int64_t>(savedEnd.size()));
    }
  };

  bool aborted = false;
  try {
    oldSize = stream.Size();
    writePos = std::clamp<std::int64_t>(writePos, 0, oldSize);
    if (first < old.Count()) {
      tail = std::make_unique<TTempTail>(FTempDir);
      CopyRange(stream, writePos, tail->Stream(), oldSize - writePos);
    } else {
      savedEnd.resize(static_cast<std::size_t>(oldSize - writePos));
      stream.SetPosition(writePos);
      stream.ReadBuffer(savedEnd.data(), static_cast<std::int64_t>(savedEnd.size()));
    }
    truncated = true;
    stream.SetSize(writePos);
    stream.SetPosition(writePos);
    const int oldCount = old.Count();
    for (int i = first; i < dir.Count() && !aborted; ++i) {
      TDirItem& item = dir[i];
      const bool store = item.Modified && item.Operation != poRename &&
                         item.Operation != poChangeAttr && item.Operation != poChangeComment;
      if (!store) {
        CopyItemUnchanged(i, tail ? &tail->Stream() : nullptr, writePos);
        continue;
      }
      for (;;) {
        const std::int64_t start = stream.Position();
        try {
          if (!StoreItem(i)) aborted = true;   // cancelled by a progress hook
          break;
        } catch (const EZEException& e) {
          // Whatever part of the entry was written goes again.
          stream.SetSize(start);
          stream.SetPosition(start);
          const String name = item.SrcFileName.empty() ? item.Name : item.SrcFileName;
          const TZEAction action = ProcessFileFailure(name, item.Operation, e);
          if (action == fxaRetry) continue;
          if (action == fxaAbort) {
            aborted = true;
            break;
          }
          // Ignore: a new entry leaves the directory; a replaced one keeps its
          // old content. Entries are only ever appended, so up to oldCount the
          // indices still match the old directory.
          const bool hadOld = i < oldCount && TZEDirArray::NameKey(old[i].Name) ==
                                                  TZEDirArray::NameKey(item.Name);
          if (hadOld) {
            dir[i] = old[i];
            CopyItemUnchanged(i, tail ? &tail->Stream() : nullptr, writePos);
          } else {
            dir.Delete(i);
            --i;
          }
          break;
        }
      }
    }
    if (aborted) {
      rollback();
      return;
    }
    FDir.SaveDir(true, stream, DirSettings());
  } catch (...) {
    rollback();
    throw;
  }
  for (int i = 0; i < dir.Count(); ++i) {
    dir[i].Stream = nullptr;
    dir[i].OwnedStream.reset();
  }
  if (Options.FlushBuffers) {
    if (auto* file = dynamic_cast<TFileStream*>(FStream)) file->Flush();
  }
}

}  // namespace zo
