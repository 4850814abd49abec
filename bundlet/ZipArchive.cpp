#include "bundlet/ZipArchive.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>

#include "core/DateTime.h"
#include "core/Exception.h"
#include "core/StringUtils.h"
#include "core/TextFileLines.h"
#include "platform/FileSystem.h"
#include "platform/TextFile.h"
#include "platform/Utf.h"
#include "platform/WorkFileNames.h"

namespace zo {

namespace {

constexpr char16_t kAllFiles[] = u"*.*";

// Dir and Name joined by one separator; an empty Name gives Dir with its
// trailing separator.
String JoinPath(StringView Dir, StringView Name) {
  return IncludeTrailingPathDelimiter(SlashedPath(Dir)) + SlashedPath(Name);
}

// Name of a stored entry for a path relative to a base directory: '/'
// separators and no leading separator (a relative name never starts at a
// root; unpacking tools would take it for an absolute path).
String RelativeEntryName(StringView Path) {
  String name = SlashedPath(Path);
  size_t start = 0;
  while (start < name.size() && name[start] == u'/') ++start;
  return name.substr(start);
}

// The entry a FileFromBinary or FileToBinary name stands for: its last
// element, after a drive ("C:name") too.
String LastElement(StringView FileName) {
  const String name = ExtractFileName(FileName);
  return name.substr(name.find_last_of(u':') + 1);
}

TDateTime LocalTimeToDateTime(const TLocalTime& t) {
  return EncodeDateTime(t.Year, t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Millisecond);
}

}  // namespace

TZECompressionLevel ZipEngineLevel(TZipMethod Method, TZipLevel Level) {
  if (Method == zmStore) return clNone;
  switch (Level) {
    case zlNone: return clNone;
    case zlFastest: return clFastest;
    case zlDefault: return clNormal;
    case zlBest: return clMax;
  }
  return clMax;
}

// --- Creation and opening ----------------------------------------------------

TZipArchive::TZipArchive() : FZipEngine(std::make_unique<TZipEngine>()) {
  // The tool writes many archives that nobody reads at once; flushing each
  // commit to the disk would only slow it down.
  FZipEngine->Options.FlushBuffers = false;
}

TZipArchive::~TZipArchive() { FZipEngine->AbandonArchive(); }

void TZipArchive::Open(const String& Filename, TZipOpenMode Mode, TStream* Stream) {
  if (Stream != nullptr) {
    switch (Mode) {
      case omZip: FZipEngine->OpenArchive(*Stream, true); break;
      case omUnzip:
      case omZipUnzip: FZipEngine->OpenArchive(*Stream, false); break;
      case omNone: break;
    }
  } else {
    FZipEngine->SetFileName(SlashedPath(Filename));
    switch (Mode) {
      case omZip: FZipEngine->OpenArchive(fmCreate); break;
      case omZipUnzip:
        FZipEngine->OpenArchive(FileExists(SlashedPath(Filename)) ? fmOpenReadWrite : fmCreate);
        break;
      case omUnzip: FZipEngine->OpenArchive(fmOpenRead | fmShareDenyWrite); break;
      case omNone: break;
    }
  }
  FMode = Mode;
}

void TZipArchive::Close() { FZipEngine->CloseArchive(); }

void TZipArchive::BeginUpdate() {
  CheckZipMode();
  FZipEngine->BeginUpdate();
}

void TZipArchive::EndUpdate() {
  CheckZipMode();
  StartOperation();
  FZipEngine->EndUpdate();
}

void TZipArchive::CheckZipMode() const {
  if (FMode != omZip && FMode != omZipUnzip) throw EZipError(kZipErrZipModeRequired);
}

void TZipArchive::CheckUnzipMode() const {
  if (FMode != omUnzip && FMode != omZipUnzip) throw EZipError(kZipErrUnzipModeRequired);
}

void TZipArchive::SetLevel(TZipMethod Method, TZipLevel Level) {
  FZipEngine->SetCompressionLevel(ZipEngineLevel(Method, Level));
}

bool TZipArchive::IsOpenArchive(const String& Path) const {
  if (!FZipEngine->Active() || FZipEngine->FileName().empty()) return false;
  return ExpandFileName(SlashedPath(Path)) == ExpandFileName(FZipEngine->FileName()) ||
         FZipEngine->IsArchiveFile(SlashedPath(Path));
}

const EZEException* TZipArchive::AbortedFailure() const { return FZipEngine->AbortedFailure(); }

const TZEBaseArchiver::TZEUnrestored& TZipArchive::Unrestored() const { return FZipEngine->Unrestored(); }

const TZEBaseArchiver::TZEChangedSources& TZipArchive::ChangedSources() const {
  return FZipEngine->ChangedSources();
}

bool TZipArchive::EntriesMayBeMissing() const {
  return FZipEngine->Dir().Recovered && !FZipEngine->Dir().RecoveryComplete;
}

void TZipArchive::SetUserPrompt(TZEUserPrompt* Prompt) { FZipEngine->SetUserPrompt(Prompt); }

void TZipArchive::SetThreadCount(int Threads) { FZipEngine->SetThreadCount(Threads); }

void TZipArchive::SetWorkProgress(TZEWorkProgressEvent OnWorkProgress) {
  FZipEngine->OnWorkProgress = std::move(OnWorkProgress);
}

void TZipArchive::StartOperation() {
  FZipEngine->ClearAbortedFailure();
  FZipEngine->ClearChangedSources();
}

// --- Writing -------------------------------------------------------------------

void TZipArchive::WriteFile(const String& Filename, TZipMethod Method, TZipLevel Level,
                            const String& /*Comment*/) {
  CheckZipMode();
  StartOperation();
  const String path = SlashedPath(Filename);
  // A named pipe, socket or device is no file to store: "(or invalid)".
  if (FileKind(path) != ekFile) throw EZipError(kZipErrFileNotFound, Filename);
  TFileStream source(path, fmOpenRead | fmShareDenyWrite);
  // The file was there a moment ago; should it be gone now, the system says why.
  auto lookupFailed = [&] { throw EInOutError(kSFReadError, {Filename, SystemErrorText(FileLookupError(path))}); };
  const std::optional<TLocalTime> time = FileGetLocalTime(path);
  if (!time) lookupFailed();
  const std::uint32_t attr = FileGetAttr(path);
  if (attr == kInvalidFileAttributes) lookupFailed();
  SetLevel(Method, Level);
  FZipEngine->AddFromStream(Filename, source, false, 0, 0, attr, LocalTimeToDateTime(*time));
}

void TZipArchive::WriteFile(const String& Filename, TStream& Stream, TZipMethod Method, TZipLevel Level,
                            const String& /*Comment*/) {
  CheckZipMode();
  StartOperation();
  SetLevel(Method, Level);
  FZipEngine->AddFromStream(Filename, Stream, false, 0, 0, kZipAttrNormal, Now());
}

void TZipArchive::Pack(const String& Path, bool Recursive, bool StorePathNames, TZipMethod Method,
                       TZipLevel Level) {
  CheckZipMode();
  StartOperation();
  SetLevel(Method, Level);
  FZipEngine->SetBaseDir(SlashedPath(Path));
  const bool withPaths = StorePathNames && Recursive;
  FZipEngine->Options.StorePath = withPaths ? spRelativePath : spNoPath;
  FZipEngine->Options.Recurse = Recursive;
  FZipEngine->AddFiles(kAllFiles, withPaths ? kZipAttrWithDirs : kZipAttrWithoutDirs, String());
}

void TZipArchive::PackDirectory(const String& MainDirPath, const String& PartDirPath) {
  CheckZipMode();
  StartOperation();
  std::vector<TFileId> walking;
  TSiblingNames names;
  PackDirectoryBelow(MainDirPath, PartDirPath, walking, names);
}

void TZipArchive::PackDirectoryBelow(const String& MainDirPath, const String& PartDirPath,
                                     std::vector<TFileId>& walking, TSiblingNames& names) {
  // An empty part is the main directory itself; its children are then stored
  // under their bare names.
  const String partPrefix = PartDirPath.empty() ? String() : IncludeTrailingPathDelimiter(PartDirPath);
  const String directory = JoinPath(MainDirPath, partPrefix);
  // A symbolic link back to a directory being walked would make the walk
  // endless: it is not followed.
  const std::optional<TFileId> id = FileIdentity(directory);
  if (!id || std::find(walking.begin(), walking.end(), *id) != walking.end()) return;
  int error = 0;
  const std::vector<TSearchRec> listing = FindFiles(directory + kAllFiles, 0xFF, &error);
  // A directory that cannot be read fails as a file that cannot be opened
  // fails here: with the system's reason, ending the operation, so that its
  // content never goes missing in silence.
  if (error != 0) RaiseOpenError(ExcludeTrailingPathDelimiter(directory), error);
  walking.push_back(*id);
  names.NoteDirectory(directory, listing);
  for (const TSearchRec& found : listing) {
    const String childPart = partPrefix + found.Name;
    if (found.Kind == ekDirectory) {
      PackDirectoryBelow(MainDirPath, childPart, walking, names);
    } else if ((found.Kind == ekFile || found.Kind == ekLink) && !IsWorkFileName(found.Name)) {
      // A link that leads nowhere fails when it is opened, as any file
      // that cannot be opened does. Our own work in progress (a stand-in,
      // a part file, a journal) is never the user's data, and half written.
      PackFile(MainDirPath, childPart, names);
    }
    // Anything else is a named pipe, a socket or a device: no content to
    // store, and opening a pipe for reading would wait for a writer forever.
    // An aborted file ends the walk, as an abort ends any other operation.
    if (AbortedFailure() != nullptr) break;
  }
  walking.pop_back();
}

void TZipArchive::PackFile(const String& MainDirPath, const String& PartFilePath) {
  PackFile(MainDirPath, PartFilePath, TSiblingNames());
}

void TZipArchive::PackFile(const String& MainDirPath, const String& PartFilePath, const TSiblingNames& names) {
  CheckZipMode();
  const String path = JoinPath(MainDirPath, PartFilePath);
  // Reading the archive while it grows would store a torn copy of itself.
  if (IsOpenArchive(path)) return;
  // Opening a named pipe would wait for a writer; it is no file to store.
  if (FileKind(path) == ekOther) RaiseOpenError(path, EINVAL);
  SetLevel(zmDeflate, zlBest);
  // A name whose bytes on disk are not UTF-8 is stored as it reads, as long
  // as no sibling reads the same.
  FZipEngine->AddFromFile(names.EntryName(RelativeEntryName(PartFilePath), path), path, kZipAttrNormal, Now());
}

void TZipArchive::FileFromBinary(const String& FileName, const Bytes& FileData) {
  TMemoryStream data;
  data.WriteBuffer(FileData.data(), static_cast<std::int64_t>(FileData.size()));
  data.SetPosition(0);
  WriteFile(LastElement(FileName), data, zmDeflate, zlBest, String());
}

void TZipArchive::FileFromSL(const String& FileName, const std::vector<String>& SL) {
  const std::string text = LinesToText(SL);
  FileFromBinary(FileName, Bytes(text.begin(), text.end()));
}

// --- Reading -------------------------------------------------------------------

void TZipArchive::ReadFile(const String& Filename, TStream& Stream) {
  CheckUnzipMode();
  StartOperation();
  FZipEngine->ExtractToStream(Filename, Stream);
}

void TZipArchive::Unpack(const String& Path, TZipUnpackMode /*Mode*/, bool /*RestorePaths*/) {
  CheckUnzipMode();
  StartOperation();
  FZipEngine->SetBaseDir(SlashedPath(Path));
  FZipEngine->ExtractFiles(kAllFiles, kZipAttrWithDirs, String());
}

void TZipArchive::ListFiles(std::vector<String>& List) {
  CheckUnzipMode();
  List.clear();
  TZEArchiveItem item;
  bool found = FZipEngine->FindFirst(kAllFiles, item, String(), faAnyFile);
  while (found) {
    List.push_back(item.StoredPath + item.FileName);
    found = FZipEngine->FindNext(item);
  }
}

bool TZipArchive::Locate(const String& Filename, TZEArchiveItem* ZEArchiveItem) {
  CheckUnzipMode();
  TZEArchiveItem own;
  TZEArchiveItem& item = ZEArchiveItem != nullptr ? *ZEArchiveItem : own;
  if (!FZipEngine->FindFirst(Filename, item, String(), kZipAttrWithDirs)) {
    throw EZipError(kZipErrFileNotFound, Filename);
  }
  return true;
}

Bytes TZipArchive::FileToBinary(const String& FileName) {
  TMemoryStream data;
  ReadFile(LastElement(FileName), data);
  return data.Memory();
}

void TZipArchive::FileToSL(const String& FileName, std::vector<String>& SL) {
  const Bytes data = FileToBinary(FileName);
  SL = TextToLines(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

}  // namespace zo
