#include "zip/ZipEngine.h"

#include <algorithm>

#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"

namespace zo {

namespace {

// The stored form of a name given with a stream: one trailing '\' removed,
// every '\' turned into '/'.
String StoredStreamName(String name) {
  if (!name.empty() && name.back() == u'\\') name.pop_back();
  return SlashedPath(name);
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
  if (ExtractFileName(FFileName).empty()) throw EZEException(kZENativeBlankFileName, this);
  if (Mode != fmCreate && !FileExists(FFileName))
    throw EZEException(kZENativeArchiveNotFound, {FFileName}, this);
  CloseArchive();
  if (Mode == fmCreate) {
    // A new archive is built beside the file it replaces, so a run that
    // fails, is aborted or killed leaves the old one as it was.
    auto replacement = std::make_unique<TReplacementFile>();
    if (const int error = replacement->Begin(FFileName))
      RaiseCreateError(FFileName, error);
    FOwnedStream = std::make_unique<TFileStream>(replacement->WritePath(), Mode, FFileName);
    FReplacement = std::move(replacement);
  } else {
    // A run killed while it copied a new version over this archive in place
    // left the old bytes in a journal: they are put back before reading.
    RestoreInterruptedCopy(FFileName);
    FOwnedStream = std::make_unique<TFileStream>(FFileName, Mode);
  }
  FStream = FOwnedStream.get();
  FCallerStream = false;
  FFileMode = Mode;
  FDir.Clear();
  if (Mode != fmCreate) {
    try {
      LoadDir();
    } catch (...) {
      ReleaseArchive();
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
  bool complete = true;
  if (FActive) {
    try {
      if (FUpdateCount > 0) complete = Commit();
      // A new archive that never received an entry still has to be a valid
      // archive: the bare end record.
      if (IsWritable() && FStream->Size() == FDir.StubSize) {
        FStream->SetPosition(FDir.StubSize);
        FDir.SaveDir(true, *FStream, DirSettings());
      }
    } catch (...) {
      // Closing always closes; a failed commit has already restored the
      // archive. A created archive whose last commit failed is not put in
      // place of the old file, though.
      complete = false;
    }
  }
  std::unique_ptr<TReplacementFile> replacement = std::move(FReplacement);
  ReleaseArchive();
  if (!replacement) return;
  if (!complete) {
    replacement->Abandon();
    return;
  }
  if (const int error = replacement->Commit())
    RaiseCreateError(FFileName, error);
}

void TZEBaseArchiver::AbandonArchive() {
  FUpdateCount = 0;
  std::unique_ptr<TReplacementFile> replacement = std::move(FReplacement);
  ReleaseArchive();
  if (replacement) replacement->Abandon();
}

void TZEBaseArchiver::ReleaseArchive() {
  FOwnedStream.reset();
  FStream = nullptr;
  FCallerStream = false;
  FDir.Clear();
  FUpdateCount = 0;
  FActive = false;
}

bool TZEBaseArchiver::IsArchiveFile(StringView path) const {
  const std::optional<TFileId> id = FileIdentity(path);
  if (!id) return false;
  if (!FFileName.empty() && FileIdentity(FFileName) == id) return true;
  return FReplacement && FileIdentity(FReplacement->WritePath()) == id;
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
        item.SetStream(copy.get(), copy, Position);
      } else {
        item.SetStream(&Stream, nullptr, Position);
      }
      item.SetUncompressedSize(static_cast<std::uint64_t>(item.Stream()->Size()), FZip64Mode == zmAlways);
    }
    EndUpdate();
  } catch (...) {
    CancelUpdate();
    throw;
  }
}

void TZEBaseArchiver::AddFromFile(const String& FileName, const String& SourcePath, std::uint32_t Attr,
                                  TDateTime DateTime) {
  CheckActive();
  BeginUpdate();
  try {
    const std::uint32_t stamp = DateTimeToDosStamp(DateTime == 0 ? Now() : DateTime);
    const int index = RegisterItem(StoredStreamName(FileName), SourcePath, Attr & ~faDirectory, stamp, false);
    if (index >= 0) FDir.CDir[index].OpenFailureIsCallers = true;
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
  // Files on this system are told apart by case: a file from disk replaces
  // only an entry of exactly its name, so "README" and "readme" of one
  // directory both stay.
  if (index >= 0 && !SrcFileName.empty() && dir[index].Name != Name) index = dir.IndexOfExact(Name);
  TZEProcessOperation operation = poAdd;
  if (index >= 0) {
    const TDirItem& existing = dir[index];
    const std::uint32_t stored = existing.DosStamp();
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
    // A name met twice within one transaction replaces an entry that is new
    // itself: it stays an addition (on Ignore it then leaves, rather than
    // taking back content it never had).
    if (!(existing.Modified && existing.Operation == poAdd)) operation = poUpdate;
    if (existing.Name != Name) dir.Rename(index, Name);
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
  item.SetDosStamp(DosStamp);
  item.nameLength = static_cast<std::uint16_t>(item.Name.size());
  item.externalAttr = Attr;
  item.Modified = true;
  dir.SetSrcFileName(index, SrcFileName);
  item.SetComment(comment);
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

}  // namespace zo
