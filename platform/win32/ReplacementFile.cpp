#include "platform/ReplacementFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ReplacementJournal.h"
#include "platform/StandIn.h"
#include "platform/TempFile.h"
#include "platform/Utf.h"
#include "platform/WorkFileNames.h"
#include "platform/win32/Win32.h"

namespace zo {

namespace {

// True when what sits at path is not a file on a disk (a device such as NUL,
// a named pipe): nothing to be replaced by a file.
bool IsNotAFile(const std::u16string& path) {
  const HANDLE h = ::CreateFileW(Wide(NativePath(path)), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  const DWORD type = ::GetFileType(h);
  ::CloseHandle(h);
  return type != FILE_TYPE_DISK;
}

// --- Plain reads and writes at a position -------------------------------------

// Moves count bytes between data and the file at position: written, or
// read (then a file that ends first is EIO).
int TransferAt(HANDLE file, char* data, std::size_t count, std::int64_t position, bool write) {
  while (count > 0) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD n = 0;
    const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count, 1u << 30));
    const BOOL done = write ? ::WriteFile(file, data, ask, &n, &at) : ::ReadFile(file, data, ask, &n, &at);
    if (!done) return !write && ::GetLastError() == ERROR_HANDLE_EOF ? EIO : LastErrno();
    if (n == 0) return write ? ENOSPC : EIO;
    data += n;
    count -= n;
    position += n;
  }
  return 0;
}

int WriteAt(HANDLE file, const void* data, std::size_t count, std::int64_t position) {
  return TransferAt(file, static_cast<char*>(const_cast<void*>(data)), count, position, true);
}

int ReadAt(HANDLE file, void* data, std::size_t count, std::int64_t position) {
  return TransferAt(file, static_cast<char*>(data), count, position, false);
}

int CopyBytes(HANDLE source, std::int64_t from, HANDLE target, std::int64_t to, std::int64_t count) {
  return CopyBytesWith([](HANDLE file, char* data, std::size_t n, std::int64_t at) { return ReadAt(file, data, n, at); },
                       [](HANDLE file, char* data, std::size_t n, std::int64_t at) { return WriteAt(file, data, n, at); },
                       source, from, target, to, count);
}

int Truncate(HANDLE file, std::int64_t size) {
  LARGE_INTEGER at{};
  at.QuadPart = size;
  if (!::SetFilePointerEx(file, at, nullptr, FILE_BEGIN) || !::SetEndOfFile(file)) return LastErrno();
  return 0;
}

int Flush(HANDLE file) { return ::FlushFileBuffers(file) ? 0 : LastErrno(); }

struct TIdentity {
  std::uint64_t Device = 0, Number = 0;
  std::int64_t Size = 0;
};

int IdentityOf(HANDLE file, TIdentity& id) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return LastErrno();
  id.Device = info.dwVolumeSerialNumber;
  id.Number = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  id.Size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  return 0;
}

// --- The journal of a copy in place (platform/ReplacementJournal.h) ---------------

std::u16string JournalPath(const std::string& target, const TIdentity& id) {
  return TempDirectory() + u"/" + JournalFileName(JournalKey(target, id.Device, id.Number));
}

// A journal is held open without any sharing at all: that is its lock.
class TJournal {
 public:
  ~TJournal() {
    if (FFile != INVALID_HANDLE_VALUE) ::CloseHandle(FFile);
  }

  // Opens the journal, creating it, with no sharing: waiting while a living
  // run holds it, or, without wait, giving up (EWOULDBLOCK).
  int Lock(const std::u16string& path, bool wait) {
    for (;;) {
      FFile = ::CreateFileW(Wide(NativePath(path)), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
      if (FFile != INVALID_HANDLE_VALUE) return 0;
      const DWORD error = ::GetLastError();
      // A journal being removed refuses opening as access denied for a moment.
      if (error != ERROR_SHARING_VIOLATION && error != ERROR_ACCESS_DENIED) return ErrnoOf(error);
      if (!wait) return EWOULDBLOCK;
      ::Sleep(20);
    }
  }

  int Record(const std::string& target, HANDLE file, const TIdentity& id) {
    const TJournalHeader header = NewJournalHeader(target, id.Device, id.Number, static_cast<std::uint64_t>(id.Size));
    int error = Truncate(FFile, 0);
    if (error == 0) error = WriteAt(FFile, &header, sizeof header, 0);
    if (error == 0) error = WriteAt(FFile, target.data(), target.size(), sizeof header);
    if (error == 0) error = CopyBytes(file, 0, FFile, JournalDataAt(header), id.Size);
    if (error == 0) error = Flush(FFile);
    if (error == 0) error = WriteAt(FFile, &kJournalSealed, sizeof kJournalSealed, kJournalSealedAt);
    if (error == 0) error = Flush(FFile);
    return error;
  }

  TJournalState Read(const std::string& target) {
    TJournalHeader header{};
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(FFile, &size) || size.QuadPart < static_cast<LONGLONG>(sizeof header) ||
        ReadAt(FFile, &header, sizeof header, 0) != 0 || !IsSealedJournal(header)) {
      return TJournalState::jsEmpty;
    }
    std::string path(header.PathLength, '\0');
    if (ReadAt(FFile, path.data(), path.size(), sizeof header) != 0) return TJournalState::jsEmpty;
    if (path != target) return TJournalState::jsForeign;
    FHeader = header;
    return TJournalState::jsSealed;
  }

  int PlayBack(HANDLE file) {
    TIdentity id;
    if (const int error = IdentityOf(file, id)) return error;
    if (id.Device != FHeader.Device || id.Number != FHeader.Number) return EBUSY;   // not the file the journal was made for
    const std::int64_t size = static_cast<std::int64_t>(FHeader.OldSize);
    int error = CopyBytes(FFile, JournalDataAt(FHeader), file, 0, size);
    if (error == 0) error = Truncate(file, size);
    if (error == 0) error = Flush(file);
    return error;
  }

  // Removed as it is closed, while no other run can open it.
  void Drop() {
    if (FFile == INVALID_HANDLE_VALUE) return;
    FILE_DISPOSITION_INFO disposition{TRUE};   // its one member: delete as it is closed
    ::SetFileInformationByHandle(FFile, FileDispositionInfo, &disposition, sizeof disposition);
    ::CloseHandle(FFile);
    FFile = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE FFile = INVALID_HANDLE_VALUE;
  TJournalHeader FHeader{};
};

// The target opened for reading and writing, shared as any reader expects.
HANDLE OpenTarget(const std::u16string& target) {
  return ::CreateFileW(Wide(NativePath(target)), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

void RestoreInterruptedCopy(const std::u16string& target) {
  const std::u16string resolved = ExpandFileName(target);
  if (IsNotAFile(resolved)) return;
  const HANDLE file = OpenTarget(resolved);
  if (file == INVALID_HANDLE_VALUE) return;
  TDescriptor held(ValueOf(file));
  TIdentity id;
  if (IdentityOf(file, id) != 0) return;
  const std::string key = ToUtf8(resolved);
  const std::u16string path = JournalPath(key, id);
  if (::GetFileAttributesW(Wide(NativePath(path))) == INVALID_FILE_ATTRIBUTES) return;
  TJournal journal;
  if (journal.Lock(path, false) != 0) return;   // a living run is copying: it finishes or puts back itself
  if (PlayBackLeftover(journal, key, file) == 0) journal.Drop();
}

// --- The stand-ins (platform/StandIn.h) ------------------------------------------

TStandInPlace StandInBeside(const std::u16string& target) { return {ExtractFilePath(target), ExtractFileName(target)}; }

// A stand-in's writer holds it open without sharing it for deletion: that is
// the lock. Another run cannot remove it while the writer lives, and can once
// the writer is gone (closed or killed).
void RemoveLeftoverStandIns(const TStandInPlace& place) {
  const std::u16string prefix = StandInPrefix(place.Name);
  for (const TSearchRec& rec : FindFiles(place.Dir + prefix + u"*", faHidden | faSysFile | faReadOnly | faArchive)) {
    if (rec.Name.size() == prefix.size() + kStandInUniqueLength) ::DeleteFileW(Wide(NativePath(place.Dir + rec.Name)));
  }
}

int CreateStandIn(const TStandInPlace& place, TDescriptor& lock, std::u16string& path) {
  const std::u16string prefix = place.Dir + StandInPrefix(place.Name);
  return CreateUniquelyNamed(kStandInUniqueLength, [&](const std::u16string& letters) {
    const std::u16string candidate = prefix + letters;
    const HANDLE file = ::CreateFileW(Wide(NativePath(candidate)), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LastErrno();
    lock.Reset(ValueOf(file));
    path = candidate;
    return 0;
  });
}

// --- The replacement's steps on this system ----------------------------------------

int TReplacementFile::TakeTarget(const std::u16string& target) {
  const std::u16string resolved = ExpandFileName(target);
  if (IsNotAFile(resolved)) return ENOTSUP;
  const DWORD attributes = ::GetFileAttributesW(Wide(NativePath(resolved)));
  FTargetExisted = attributes != INVALID_FILE_ATTRIBUTES;
  if (FTargetExisted) {
    // What opening the target for writing would refuse, refused now: the
    // move would otherwise replace what may not be written.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    if (attributes & FILE_ATTRIBUTE_READONLY) return EACCES;
    FMode = attributes;
    RestoreInterruptedCopy(resolved);
  }
  FTarget = resolved;
  return 0;
}

int TReplacementFile::MoveIntoPlace() {
  int error = ::FlushFileBuffers(HandleOf(FLock)) ? 0 : LastErrno();
  // The move needs the stand-in unlocked (no handle that refuses deletion).
  FLock.Reset();
  const std::u16string standIn = NativePath(FWritePath);
  // The replacement keeps the attributes of the file it replaces (hidden,
  // system, archive); a new file gets the system's usual ones.
  if (error == 0 && FTargetExisted && !::SetFileAttributesW(Wide(standIn), FMode)) error = LastErrno();
  if (error == 0 &&
      !::MoveFileExW(Wide(standIn), Wide(NativePath(FTarget)), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    error = LastErrno();
  return error;
}

// Closed first: the system deletes no file that is still open without
// sharing its deletion.
void TReplacementFile::RemoveStandIn() {
  FLock.Reset();
  ::DeleteFileW(Wide(NativePath(FWritePath)));
}

// The copy in place, as on POSIX: old bytes into the journal, new ones over
// them, the target cut to its new length, the journal dropped last.
int TReplacementFile::CopyOverTarget() {
  const HANDLE file = OpenTarget(FTarget);
  if (file == INVALID_HANDLE_VALUE) return LastErrno();
  TDescriptor held(ValueOf(file));
  TIdentity id, built;
  if (const int error = IdentityOf(file, id)) return error;
  if (const int error = IdentityOf(HandleOf(FLock), built)) return error;
  const std::string key = ToUtf8(FTarget);

  TJournal journal;
  if (const int error = journal.Lock(JournalPath(key, id), true)) return error;
  if (const int error = PlayBackLeftover(journal, key, file)) return error;
  if (const int error = IdentityOf(file, id)) return error;
  if (const int error = journal.Record(key, file, id)) {
    journal.Drop();
    return error;
  }
  int error = CopyBytes(HandleOf(FLock), 0, file, 0, built.Size);
  if (error == 0) error = Truncate(file, built.Size);
  if (error == 0) error = Flush(file);
  return SettleCopy(journal, key, file, error);
}

}  // namespace zo
