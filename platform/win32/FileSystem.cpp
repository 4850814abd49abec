// platform/FileSystem.h on Windows.
//
// Attributes are the DOS bits the system keeps (read-only, hidden, system,
// directory, archive), reported and restored as they are. Paths go to the
// wide-character calls absolute, with '\' and the \\?\ prefix, which lifts the
// limit of MAX_PATH: a path is too long past 32,767 UTF-16 units in that form.
// Identity is the volume serial number and the file index; times are
// FILETIMEs turned into local time by the zone rules of their moment. A
// TDirHandle holds the directory open without sharing its deletion and
// works by its full path, since the system's calls name files by path.
#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <vector>

#include "platform/WorkFileNames.h"
#include "platform/win32/Win32.h"

namespace zo {

// --- Paths as the system takes them ------------------------------------------

namespace {

constexpr std::u16string_view kLongPrefix = u"\\\\?\\";
constexpr std::u16string_view kLongUncPrefix = u"\\\\?\\UNC\\";

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool HasDrive(std::u16string_view path) { return path.size() >= 2 && IsDriveLetter(path[0]) && path[1] == u':'; }
bool IsUnc(std::u16string_view path) {
  return path.size() >= 2 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]);
}
bool HasLongPrefix(std::u16string_view path) {
  return path.size() >= 4 && IsPathSeparator(path[0]) && IsPathSeparator(path[1]) && path[2] == u'?' &&
         IsPathSeparator(path[3]);
}

// The root of an absolute path ("C:" or "//server/share") and the length of
// path it takes up.
std::size_t RootLength(std::u16string_view path) {
  if (HasDrive(path)) return 2;
  if (!IsUnc(path)) return 0;
  std::size_t i = 2;
  for (int element = 0; element < 2; ++element) {
    while (i < path.size() && !IsPathSeparator(path[i])) ++i;
    if (element == 0 && i < path.size()) ++i;
  }
  return i;
}

TLocalTime LocalTimeOfSystemTime(const SYSTEMTIME& st) {
  return TLocalTime{st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds};
}

// The file time (UTC) of a local time, by the zone rules of that moment.
bool FileTimeOfLocal(const TLocalTime& time, FILETIME& result) {
  SYSTEMTIME local{};
  local.wYear = static_cast<WORD>(time.Year);
  local.wMonth = static_cast<WORD>(time.Month);
  local.wDay = static_cast<WORD>(time.Day);
  local.wHour = static_cast<WORD>(time.Hour);
  local.wMinute = static_cast<WORD>(time.Minute);
  local.wSecond = static_cast<WORD>(time.Second);
  local.wMilliseconds = static_cast<WORD>(time.Millisecond);
  SYSTEMTIME utc{};
  return ::TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) && ::SystemTimeToFileTime(&utc, &result);
}

// Seconds between 1601-01-01 (FILETIME's start) and 1970-01-01 (TFileTime's).
constexpr std::int64_t kFileTimeToUnixSeconds = 11644473600;
constexpr std::int64_t kTicksPerSecond = 10000000;   // FILETIME counts 100 ns

FILETIME StampOf(const TFileTime& time) {
  const std::uint64_t ticks = static_cast<std::uint64_t>((time.Seconds + kFileTimeToUnixSeconds) * kTicksPerSecond +
                                                         time.Nanoseconds / 100);
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

bool GetAttributes(std::u16string_view path, WIN32_FILE_ATTRIBUTE_DATA& data) {
  return ::GetFileAttributesExW(Wide(NativePath(path)), GetFileExInfoStandard, &data);
}

DWORD AttributesOf(std::u16string_view path) { return ::GetFileAttributesW(Wide(NativePath(path))); }

// The attributes to set for the DOS bits: read-only, hidden, system and
// archive; none of them is "normal".
DWORD SettableAttributes(std::uint32_t attr) {
  const DWORD bits = attr & (faReadOnly | faHidden | faSysFile | faArchive);
  return bits == 0 ? FILE_ATTRIBUTE_NORMAL : bits;
}

// The kind of an object by its system attributes. The archive bit has no
// say in it: backup tools and "attrib -a" clear it on ordinary files.
TEntryKind KindOfAttributes(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ekDirectory;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return ekOther;
  return ekFile;
}

// Whatever sits at native may be replaced or removed as on POSIX, where the
// permissions of a file do not guard its name: its read-only bit goes first.
void ClearReadOnly(const std::u16string& native) {
  const DWORD attributes = ::GetFileAttributesW(Wide(native));
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
    ::SetFileAttributesW(Wide(native), attributes & ~FILE_ATTRIBUTE_READONLY);
}

}  // namespace

std::u16string NativePath(std::u16string_view path) {
  if (HasLongPrefix(path)) {
    std::u16string native(path);
    std::replace(native.begin(), native.end(), u'/', u'\\');
    return native;
  }
  std::u16string full = ExpandFileName(path);
  // The root keeps its separator ("C:\"); elsewhere a trailing one is not
  // part of the name.
  if (full.size() > RootLength(full) + 1 && IsPathSeparator(full.back())) full.pop_back();
  std::replace(full.begin(), full.end(), u'/', u'\\');
  if (IsUnc(full)) return std::u16string(kLongUncPrefix) + full.substr(2);
  return std::u16string(kLongPrefix) + full;
}

// The wide-character calls take a path of at most 32,767 UTF-16 units, its
// \\?\ prefix included (a counted string of 16-bit length in bytes).
bool IsPathTooLong(std::u16string_view path) {
  constexpr std::size_t kLongestNativePath = 32767;
  return NativePath(path).size() > kLongestNativePath;
}

std::u16string FromNativePath(std::u16string_view path) {
  std::u16string result;
  if (path.substr(0, kLongUncPrefix.size()) == kLongUncPrefix) result = u"//" + std::u16string(path.substr(kLongUncPrefix.size()));
  else if (path.substr(0, kLongPrefix.size()) == kLongPrefix) result = path.substr(kLongPrefix.size());
  else result = path;
  return SlashedPath(result);
}

TLocalTime LocalTimeOf(const FILETIME& time) {
  SYSTEMTIME utc{}, local{};
  if (!::FileTimeToSystemTime(&time, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) return {};
  return LocalTimeOfSystemTime(local);
}

HANDLE OpenForMetadata(const std::u16string& nativePath, DWORD access) {
  return ::CreateFileW(Wide(nativePath), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
}

// --- Attributes -------------------------------------------------------------

std::uint32_t FileGetAttr(std::u16string_view path) {
  const DWORD attributes = AttributesOf(path);
  return attributes == INVALID_FILE_ATTRIBUTES ? kInvalidFileAttributes : DosAttributes(attributes);
}

bool FileSetAttr(std::u16string_view path, std::uint32_t attr) {
  const DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  return ::SetFileAttributesW(Wide(NativePath(path)), SettableAttributes(attr));
}

int FileLookupError(std::u16string_view path) {
  return AttributesOf(path) != INVALID_FILE_ATTRIBUTES ? 0 : LastErrno();
}

bool FileExists(std::u16string_view path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(std::u16string_view path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool PathEntryExists(std::u16string_view path) { return AttributesOf(path) != INVALID_FILE_ATTRIBUTES; }

bool IsSymbolicLink(std::u16string_view path) {
  const DWORD attributes = AttributesOf(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

TEntryKind FileKind(std::u16string_view path) {
  DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return ekNone;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // The attributes are the link's own: what it leads to is found by
    // opening it.
    const HANDLE target = ::CreateFileW(Wide(NativePath(path)), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (target == INVALID_HANDLE_VALUE) return ekLink;
    TDescriptor owner(ValueOf(target));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(target, &info)) return ekLink;
    attributes = info.dwFileAttributes;
  }
  return KindOfAttributes(attributes);
}

std::optional<std::int64_t> FileGetSize(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetAttributes(path, data)) return std::nullopt;
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

std::optional<TFileId> FileIdentity(std::u16string_view path) {
  const HANDLE file = ::CreateFileW(Wide(NativePath(path)), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  TDescriptor owner(ValueOf(file));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(file, &info)) return std::nullopt;
  return TFileId{info.dwVolumeSerialNumber, (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow};
}

// --- Times ------------------------------------------------------------------

std::optional<TLocalTime> FileGetLocalTime(std::u16string_view path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetAttributes(path, data)) return std::nullopt;
  return LocalTimeOf(data.ftLastWriteTime);
}

bool FileSetLocalTime(std::u16string_view path, const TLocalTime& time) {
  FILETIME stamp{};
  if (!FileTimeOfLocal(time, stamp)) return false;
  TDescriptor file(ValueOf(OpenForMetadata(NativePath(path), FILE_WRITE_ATTRIBUTES)));
  return file.IsOpen() && ::SetFileTime(HandleOf(file), nullptr, &stamp, &stamp);
}

TLocalTime NowLocalTime() {
  SYSTEMTIME now{};
  ::GetLocalTime(&now);
  return LocalTimeOfSystemTime(now);
}

std::optional<TLocalTime> LocalTimeOfUnixTime(std::int64_t seconds) {
  if (seconds < -kFileTimeToUnixSeconds || seconds > (INT64_MAX / kTicksPerSecond) - kFileTimeToUnixSeconds)
    return std::nullopt;
  const FILETIME stamp = StampOf(TFileTime{seconds, 0});
  SYSTEMTIME utc{}, local{};
  if (!::FileTimeToSystemTime(&stamp, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
    return std::nullopt;
  return LocalTimeOfSystemTime(local);
}

std::optional<TFileTime> FileTimeOf(const TLocalTime& time) {
  FILETIME stamp{};
  if (!FileTimeOfLocal(time, stamp)) return std::nullopt;
  const std::int64_t ticks =
      static_cast<std::int64_t>((static_cast<std::uint64_t>(stamp.dwHighDateTime) << 32) | stamp.dwLowDateTime);
  return TFileTime{ticks / kTicksPerSecond - kFileTimeToUnixSeconds,
                   static_cast<std::int32_t>(ticks % kTicksPerSecond * 100)};
}

// --- Listing ----------------------------------------------------------------

namespace {

struct FindCloser {
  HANDLE Handle;
  ~FindCloser() {
    if (Handle != INVALID_HANDLE_VALUE) ::FindClose(Handle);
  }
};

}  // namespace

std::vector<TSearchRec> FindFiles(std::u16string_view pathWithMask, std::uint32_t attr, int* error) {
  std::vector<TSearchRec> result;
  if (error != nullptr) *error = 0;
  const std::u16string dir = ExtractFilePath(pathWithMask);
  const std::u16string mask = ExtractFileName(pathWithMask);
  // Every name is listed and the mask applied here, as on POSIX: the system's
  // own matching would also match the short 8.3 names.
  const std::u16string all = NativePath(dir.empty() ? std::u16string(u".") : dir) + u"\\*";
  WIN32_FIND_DATAW found{};
  FindCloser search{::FindFirstFileExW(Wide(all), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr, 0)};
  if (search.Handle == INVALID_HANDLE_VALUE) {
    if (error == nullptr) return result;
    const DWORD code = ::GetLastError();
    const int reason = LastErrno();
    // The system's answers for a missing dir, or a file in its place, differ
    // (and Wine's from Windows'), so what dir is tells them apart: either is
    // a failed listing, never an empty one. "dir\*" matches nothing only in
    // an empty root.
    std::u16string dirPath = all.substr(0, all.size() - 2);
    while (dirPath.size() > 1 && dirPath.back() == u'\\' && dirPath[dirPath.size() - 2] != u':') dirPath.pop_back();
    const DWORD attributes = ::GetFileAttributesW(Wide(dirPath));
    if (attributes == INVALID_FILE_ATTRIBUTES) *error = ENOENT;
    else if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) *error = ENOTDIR;
    else if (code != ERROR_FILE_NOT_FOUND) *error = reason;
    return result;
  }
  do {
    std::u16string name = FromWide(found.cFileName);
    if (name == u"." || name == u".." || !MatchesMask(name, mask)) continue;
    const TEntryKind kind = KindOfAttributes(found.dwFileAttributes);
    if (kind == ekOther) continue;   // a device: nothing a file could be read from
    TSearchRec rec;
    rec.Attr = DosAttributes(found.dwFileAttributes);
    if (!PassesAttrFilter(rec.Attr, attr)) continue;
    rec.Name = std::move(name);
    rec.Kind = kind;
    rec.Size = kind == ekDirectory
                   ? 0
                   : static_cast<std::int64_t>((static_cast<std::uint64_t>(found.nFileSizeHigh) << 32) |
                                               found.nFileSizeLow);
    rec.Time = LocalTimeOf(found.ftLastWriteTime);
    result.push_back(std::move(rec));
  } while (::FindNextFileW(search.Handle, &found));
  // A listing cut short is no listing: its content is unknown, not empty.
  if (::GetLastError() != ERROR_NO_MORE_FILES) {
    if (error != nullptr) *error = LastErrno();
    return {};
  }
  SortByName(result);
  return result;
}

// --- Paths and directories ----------------------------------------------------

std::u16string GetCurrentDir() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetCurrentDirectoryW(static_cast<DWORD>(buffer.size()), buffer.data());
    if (n == 0) return {};
    if (n < buffer.size()) return FromNativePath(FromWide(buffer.data(), n));
    buffer.resize(n);
  }
}

std::u16string ExpandFileName(std::u16string_view path, std::u16string_view base) {
  if (HasLongPrefix(path)) return FromNativePath(path);
  std::u16string joined;
  const std::size_t rootLength = RootLength(path);
  if (rootLength > 0 && (IsUnc(path) || (path.size() > 2 && IsPathSeparator(path[2])))) {
    joined = std::u16string(path);   // "C:\x" or "\\server\share\x"
  } else {
    // Relative to base (or the current directory); "\x" to its root, "C:x"
    // to the drive's root, as no per-drive current directory is kept here.
    const std::u16string from = base.empty() ? GetCurrentDir() : ExpandFileName(base);
    if (rootLength == 2) joined = std::u16string(path.substr(0, 2)) + u'/' + std::u16string(path.substr(2));
    else if (!path.empty() && IsPathSeparator(path[0])) joined = from.substr(0, RootLength(from)) + std::u16string(path);
    else joined = from + u'/' + std::u16string(path);
  }
  const std::size_t root = RootLength(joined);
  return SlashedPath(joined.substr(0, root)) + ResolvedSteps(std::u16string_view(joined).substr(root));
}

bool ForceDirectories(std::u16string_view path) {
  const std::u16string full = ExcludeTrailingPathDelimiter(ExpandFileName(path));
  if (DirectoryExists(full)) return true;
  // Down from the root, each missing level made in turn.
  std::size_t at = RootLength(full);
  while (at < full.size()) {
    const std::size_t next = full.find(u'/', at + 1);
    const std::u16string level = full.substr(0, next);
    if (!::CreateDirectoryW(Wide(NativePath(level)), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS &&
        !DirectoryExists(level))
      return false;
    if (next == std::u16string::npos) break;
    at = next;
  }
  return DirectoryExists(full);
}

bool DeleteFile(std::u16string_view path) { return ::DeleteFileW(Wide(NativePath(path))); }

bool RemoveDir(std::u16string_view path) { return ::RemoveDirectoryW(Wide(NativePath(path))); }

// --- TDirHandle ------------------------------------------------------------------
//
// Windows' calls name files by path (relative opens exist only below the
// documented API), so a TDirHandle keeps the directory's path and an open
// handle on it; a reparse point below it (a symbolic link or junction) is
// found by its attribute and never entered.

namespace {

HANDLE OpenDirectory(const std::u16string& path) {
  return ::CreateFileW(Wide(NativePath(path)), FILE_LIST_DIRECTORY,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                       FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

int TDirHandle::Open(std::u16string_view path) {
  const std::u16string full = ExcludeTrailingPathDelimiter(ExpandFileName(path));
  const DWORD attributes = AttributesOf(full);
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrno();
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ENOTDIR;
  const HANDLE dir = OpenDirectory(full);
  if (dir == INVALID_HANDLE_VALUE) return LastErrno();
  FDir.Reset(ValueOf(dir));
  FPath = full;
  return 0;
}

int TDirHandle::OpenSubdirectory(std::u16string_view name, bool create, TDirHandle& child) const {
  const std::u16string path = IncludeTrailingPathDelimiter(FPath) + std::u16string(name);
  DWORD attributes = AttributesOf(path);
  if (attributes == INVALID_FILE_ATTRIBUTES && create) {
    if (!::CreateDirectoryW(Wide(NativePath(path)), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
      return LastErrno();
    attributes = AttributesOf(path);
  }
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastErrno();
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return ELOOP;
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return ENOTDIR;
  const HANDLE dir = OpenDirectory(path);
  if (dir == INVALID_HANDLE_VALUE) return LastErrno();
  child.FDir.Reset(ValueOf(dir));
  child.FPath = path;
  return 0;
}

TEntryInfo TDirHandle::Stat(std::u16string_view name) const {
  TEntryInfo info;
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetAttributes(IncludeTrailingPathDelimiter(FPath) + std::u16string(name), data)) return info;
  const DWORD attributes = data.dwFileAttributes;
  info.Kind = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) ? ekLink : KindOfAttributes(attributes);
  info.Attr = DosAttributes(attributes);
  info.Time = LocalTimeOf(data.ftLastWriteTime);
  return info;
}

int TDirHandle::Remove(std::u16string_view name) const {
  const std::u16string native = NativePath(IncludeTrailingPathDelimiter(FPath) + std::u16string(name));
  ClearReadOnly(native);
  const DWORD attributes = ::GetFileAttributesW(Wide(native));
  // A link to a directory is removed as a directory, never what it names.
  const bool directoryLink = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
                             (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
  if (directoryLink ? ::RemoveDirectoryW(Wide(native)) : ::DeleteFileW(Wide(native))) return 0;
  return LastErrno();
}

int TDirHandle::CreateFile(std::u16string_view name, TFileHandle& file) const {
  const std::u16string native = NativePath(IncludeTrailingPathDelimiter(FPath) + std::u16string(name));
  // Shared for deleting, so that the finished file can take its name while
  // it is still open.
  const HANDLE created = ::CreateFileW(Wide(native), GENERIC_READ | GENERIC_WRITE | FILE_WRITE_ATTRIBUTES,
                                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
  if (created == INVALID_HANDLE_VALUE) return LastErrno();
  file = TFileHandle(TDescriptor(ValueOf(created)));
  return 0;
}

int TDirHandle::CreateUniqueFile(std::u16string& name, TFileHandle& file) const {
  return CreateUniquelyNamed(kPartUniqueLength, [&](const std::u16string& letters) {
    const std::u16string candidate = PartFileName(letters);
    const int error = CreateFile(candidate, file);
    if (error == 0) name = candidate;
    return error;
  });
}

// A part file that its writer still holds open cannot be opened without
// sharing: only a dead run's opens so, and is deleted as it is closed.
void TDirHandle::RemoveLeftoverPartFiles() const {
  const std::u16string prefix = IncludeTrailingPathDelimiter(FPath);
  for (const TSearchRec& rec : FindFiles(prefix + u".zo-*.part", faHidden | faSysFile | faReadOnly | faArchive)) {
    if (!IsPartFileName(rec.Name)) continue;
    const HANDLE file = ::CreateFileW(Wide(NativePath(prefix + rec.Name)), DELETE | FILE_READ_ATTRIBUTES |
                                      FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) continue;
    // Windows deletes no read-only file, and a killed writer may have set
    // the bit already, as the entry's attribute.
    FILE_BASIC_INFO basic{};
    if (::GetFileInformationByHandleEx(file, FileBasicInfo, &basic, sizeof basic) &&
        (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
      basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
      ::SetFileInformationByHandle(file, FileBasicInfo, &basic, sizeof basic);
    }
    FILE_DISPOSITION_INFO disposition{TRUE};   // its one member: delete as it is closed
    ::SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof disposition);
    ::CloseHandle(file);
  }
}

int TDirHandle::Rename(std::u16string_view from, std::u16string_view to) const {
  const std::u16string prefix = IncludeTrailingPathDelimiter(FPath);
  const std::u16string target = NativePath(prefix + std::u16string(to));
  ClearReadOnly(target);
  if (::MoveFileExW(Wide(NativePath(prefix + std::u16string(from))), Wide(target), MOVEFILE_REPLACE_EXISTING))
    return 0;
  return LastErrno();
}

// --- TFileHandle's attributes and times ------------------------------------------

int TFileHandle::SetTime(const TFileTime& time) {
  const FILETIME stamp = StampOf(time);
  return ::SetFileTime(HandleOf(FFile), nullptr, &stamp, &stamp) ? 0 : LastErrno();
}

int TFileHandle::SetAttr(std::uint32_t attr) {
  FILE_BASIC_INFO basic{};
  if (!::GetFileInformationByHandleEx(HandleOf(FFile), FileBasicInfo, &basic, sizeof basic)) return LastErrno();
  basic.FileAttributes = SettableAttributes(attr);
  return ::SetFileInformationByHandle(HandleOf(FFile), FileBasicInfo, &basic, sizeof basic) ? 0 : LastErrno();
}

}  // namespace zo
