// platform/FileSystem.h on POSIX.
//
// Attributes: a directory is 0x10; 0x01 (read-only) when the owner may not
// write; 0x02 (hidden) when the name starts with '.'; 0x20 (archive) for every
// regular file; no other bit is ever reported. Restoring attributes only
// honours read-only (it takes the write permissions away, or gives the
// owner's back); the rest has no POSIX counterpart and is ignored.
//
// Paths are bytes on the disk, UTF-8 where they are well-formed; other bytes
// travel as escapes (platform/Utf.h, FromOsPath). Identity is the device and
// the inode; times are the modification time in the local zone; a path is
// too long past PATH_MAX - 1 bytes. A TDirHandle is an open directory
// descriptor and works through the *at calls.
#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <ctime>
#include <memory>
#include <string>

#include "platform/Utf.h"
#include "platform/WorkFileNames.h"

namespace zo {

namespace {

std::string OsPath(std::u16string_view path) { return ToOsPath(path); }

std::uint32_t AttrFromStat(const struct stat& st, std::u16string_view name) {
  std::uint32_t attr = 0;
  if (S_ISDIR(st.st_mode)) attr |= faDirectory;
  else if (S_ISREG(st.st_mode)) attr |= faArchive;
  if ((st.st_mode & S_IWUSR) == 0) attr |= faReadOnly;
  if (!name.empty() && name[0] == u'.') attr |= faHidden;
  return attr;
}

TLocalTime LocalTimeFromTimespec(const struct timespec& ts) {
  struct tm tm {};
  time_t seconds = ts.tv_sec;
  localtime_r(&seconds, &tm);
  TLocalTime t;
  t.Year = tm.tm_year + 1900;
  t.Month = tm.tm_mon + 1;
  t.Day = tm.tm_mday;
  t.Hour = tm.tm_hour;
  t.Minute = tm.tm_min;
  t.Second = tm.tm_sec;
  t.Millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return t;
}

// The permission bits after applying the read-only attribute to old ones:
// all write permissions go, or the owner's comes back.
mode_t ModeWithAttr(mode_t old, std::uint32_t attr) {
  return (attr & faReadOnly) ? old & ~(S_IWUSR | S_IWGRP | S_IWOTH) : old | S_IWUSR;
}

TEntryKind KindOfMode(mode_t mode) {
  if (S_ISREG(mode)) return ekFile;
  if (S_ISDIR(mode)) return ekDirectory;
  if (S_ISLNK(mode)) return ekLink;
  return ekOther;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

}  // namespace

// --- Attributes -------------------------------------------------------------

std::uint32_t FileGetAttr(std::u16string_view path) {
  struct stat st {};
  if (stat(OsPath(path).c_str(), &st) != 0) return kInvalidFileAttributes;
  return AttrFromStat(st, ExtractFileName(ExcludeTrailingPathDelimiter(path)));
}

bool FileSetAttr(std::u16string_view path, std::uint32_t attr) {
  const std::string os = OsPath(path);
  struct stat st {};
  if (lstat(os.c_str(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  const mode_t mode = ModeWithAttr(st.st_mode & 07777, attr);
  return mode == (st.st_mode & 07777) || chmod(os.c_str(), mode) == 0;
}

int FileLookupError(std::u16string_view path) {
  struct stat st {};
  return stat(OsPath(path).c_str(), &st) == 0 ? 0 : errno;
}

bool FileExists(std::u16string_view path) {
  struct stat st {};
  return stat(OsPath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool DirectoryExists(std::u16string_view path) {
  struct stat st {};
  return stat(OsPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool PathEntryExists(std::u16string_view path) {
  struct stat st {};
  return lstat(OsPath(path).c_str(), &st) == 0;
}

bool IsSymbolicLink(std::u16string_view path) {
  struct stat st {};
  return lstat(OsPath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

TEntryKind FileKind(std::u16string_view path) {
  const std::string os = OsPath(path);
  struct stat st {};
  if (stat(os.c_str(), &st) == 0) return KindOfMode(st.st_mode);
  return lstat(os.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? ekLink : ekNone;
}

std::optional<std::int64_t> FileGetSize(std::u16string_view path) {
  struct stat st {};
  if (stat(OsPath(path).c_str(), &st) != 0) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

std::optional<TFileId> FileIdentity(std::u16string_view path) {
  struct stat st {};
  if (stat(OsPath(path).c_str(), &st) != 0) return std::nullopt;
  return TFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
}

// --- Times ------------------------------------------------------------------

std::optional<TLocalTime> FileGetLocalTime(std::u16string_view path) {
  struct stat st {};
  if (stat(OsPath(path).c_str(), &st) != 0) return std::nullopt;
  return LocalTimeFromTimespec(st.st_mtim);
}

namespace {

// A local time as the two timestamps (access, last write) the system sets;
// false when the time cannot be represented.
bool TimesOf(const TLocalTime& time, struct timespec (&times)[2]) {
  struct tm tm {};
  tm.tm_year = time.Year - 1900;
  tm.tm_mon = time.Month - 1;
  tm.tm_mday = time.Day;
  tm.tm_hour = time.Hour;
  tm.tm_min = time.Minute;
  tm.tm_sec = time.Second;
  tm.tm_isdst = -1;  // let the zone rules decide, as the stamp is wall-clock time
  const time_t seconds = mktime(&tm);
  if (seconds == static_cast<time_t>(-1) && errno == EOVERFLOW) return false;
  times[0].tv_sec = times[1].tv_sec = seconds;
  times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(time.Millisecond) * 1000000;
  return true;
}

}  // namespace

bool FileSetLocalTime(std::u16string_view path, const TLocalTime& time) {
  struct timespec times[2];
  // Never through a symbolic link: extraction replaces links, it does not follow them.
  return TimesOf(time, times) && utimensat(AT_FDCWD, OsPath(path).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

TLocalTime NowLocalTime() {
  struct timespec ts {};
  clock_gettime(CLOCK_REALTIME, &ts);
  return LocalTimeFromTimespec(ts);
}

std::optional<TLocalTime> LocalTimeOfUnixTime(std::int64_t seconds) {
  struct tm tm {};
  const time_t value = static_cast<time_t>(seconds);
  if (localtime_r(&value, &tm) == nullptr) return std::nullopt;
  return TLocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, 0};
}

// --- Listing ----------------------------------------------------------------

std::vector<TSearchRec> FindFiles(std::u16string_view pathWithMask, std::uint32_t attr, int* error) {
  std::vector<TSearchRec> result;
  if (error != nullptr) *error = 0;
  const std::u16string dir = ExtractFilePath(pathWithMask);
  const std::u16string mask = ExtractFileName(pathWithMask);
  const std::string osDir = OsPath(dir.empty() ? std::u16string(u".") : dir);
  std::unique_ptr<DIR, DirCloser> handle(opendir(osDir.c_str()));
  if (!handle) {
    if (error != nullptr) *error = errno;
    return result;
  }
  // What a name is cannot be told without looking it up; when that fails for
  // any reason but the name having vanished, the directory's content is
  // unknown, and the listing fails as a whole rather than leaving names out.
  auto failed = [&result, error](int reason) {
    if (error != nullptr) *error = reason;
    result.clear();
    return result;
  };
  for (;;) {
    errno = 0;
    const dirent* entry = readdir(handle.get());
    if (entry == nullptr) {
      if (errno != 0) return failed(errno);
      break;
    }
    const std::string osName = entry->d_name;
    if (osName == "." || osName == "..") continue;
    std::u16string name = FromOsPath(osName);
    if (!MatchesMask(name, mask)) continue;
    // Links are followed: what a link names is what gets listed. A link
    // whose target cannot be reached is listed as the link itself, so the
    // caller meets it (and fails to open it) rather than losing it silently.
    struct stat st {};
    TEntryKind kind = ekNone;
    if (fstatat(dirfd(handle.get()), osName.c_str(), &st, 0) == 0) {
      kind = KindOfMode(st.st_mode);
    } else if (fstatat(dirfd(handle.get()), osName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
      kind = KindOfMode(st.st_mode);
    } else if (errno == ENOENT) {
      continue;   // gone since the directory was read
    } else {
      return failed(errno);
    }
    // Devices, pipes and sockets are not files one can store: opening a pipe
    // for reading would wait for a writer forever.
    if (kind == ekOther) continue;
    TSearchRec rec;
    rec.Attr = AttrFromStat(st, name);
    if (!PassesAttrFilter(rec.Attr, attr)) continue;
    rec.Name = std::move(name);
    rec.Kind = kind;
    rec.Size = kind == ekFile ? static_cast<std::int64_t>(st.st_size) : 0;
    rec.Time = LocalTimeFromTimespec(st.st_mtim);
    // A link still a link here leads nowhere: it has no identity of its own.
    if (kind != ekLink) rec.Id = TFileId{static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino)};
    result.push_back(std::move(rec));
  }
  SortByName(result);
  return result;
}

// --- Paths and directories ----------------------------------------------------

// The kernel counts a path's bytes, without the terminating zero; escaped
// bytes of a name that is not UTF-8 are one byte each on the disk.
bool IsPathTooLong(std::u16string_view path) { return OsPath(path).size() > PATH_MAX - 1; }

std::u16string GetCurrentDir() {
  std::string buffer(4096, '\0');
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return std::u16string();
    buffer.resize(buffer.size() * 2);
  }
  buffer.resize(std::char_traits<char>::length(buffer.c_str()));
  return FromOsPath(buffer);
}

std::u16string ExpandFileName(std::u16string_view path, std::u16string_view base) {
  std::u16string joined;
  if (!path.empty() && IsPathSeparator(path[0])) {
    joined = std::u16string(path);
  } else {
    joined = base.empty() ? GetCurrentDir() : std::u16string(base);
    joined += u'/';
    joined += path;
  }
  return ResolvedSteps(joined);
}

bool ForceDirectories(std::u16string_view path) {
  std::string os = OsPath(ExcludeTrailingPathDelimiter(path));
  if (os.empty()) return false;
  auto isDir = [](const char* p) {
    struct stat st {};
    return stat(p, &st) == 0 && S_ISDIR(st.st_mode);
  };
  auto make = [&](const char* p) { return mkdir(p, 0777) == 0 || (errno == EEXIST && isDir(p)); };
  if (isDir(os.c_str())) return true;
  // One buffer for the whole path, never a copy per level (a name may hold
  // thousands of them): going up, the path is cut at each separator until
  // what is left exists; going down again, each cut is undone and the
  // directory it ends is made.
  std::vector<std::size_t> cuts;
  for (std::size_t end = os.size();;) {
    const std::size_t slash = os.rfind('/', end - 1);
    if (slash == std::string::npos || slash == 0) break;
    os[slash] = '\0';
    cuts.push_back(slash);
    if (isDir(os.c_str())) break;
    end = slash;
  }
  if (!make(os.c_str())) return false;
  for (auto cut = cuts.rbegin(); cut != cuts.rend(); ++cut) {
    os[*cut] = '/';
    if (!make(os.c_str())) return false;
  }
  return true;
}

// --- TDirHandle ------------------------------------------------------------------

int TDirHandle::Open(std::u16string_view path) {
  const int fd = open(OsPath(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  FDir.Reset(fd);
  return 0;
}

int TDirHandle::OpenSubdirectory(std::u16string_view name, bool create, TDirHandle& child) const {
  const std::string os = OsPath(name);
  constexpr int kFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  int fd = openat(FDir.Get(), os.c_str(), kFlags);
  if (fd < 0 && errno == ENOENT && create) {
    if (mkdirat(FDir.Get(), os.c_str(), 0777) != 0 && errno != EEXIST) return errno;
    fd = openat(FDir.Get(), os.c_str(), kFlags);
  }
  if (fd < 0) {
    // O_NOFOLLOW reports a link as ELOOP on Linux, as ENOTDIR elsewhere.
    const int error = errno;
    struct stat st {};
    if (fstatat(FDir.Get(), os.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) return ELOOP;
    return error == ELOOP ? ENOTDIR : error;
  }
  child.FDir.Reset(fd);
  return 0;
}

TEntryInfo TDirHandle::Stat(std::u16string_view name) const {
  TEntryInfo info;
  struct stat st {};
  if (fstatat(FDir.Get(), OsPath(name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return info;
  info.Kind = KindOfMode(st.st_mode);
  info.Attr = AttrFromStat(st, name);
  info.Time = LocalTimeFromTimespec(st.st_mtim);
  return info;
}

int TDirHandle::Remove(std::u16string_view name) const {
  return unlinkat(FDir.Get(), OsPath(name).c_str(), 0) == 0 ? 0 : errno;
}

int TDirHandle::CreateFile(std::u16string_view name, TFileHandle& file) const {
  const int fd =
      openat(FDir.Get(), OsPath(name).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return errno;
  file = TFileHandle(TDescriptor(fd));
  return 0;
}

int TDirHandle::CreateUniqueFile(std::u16string& name, TFileHandle& file) const {
  return CreateUniquelyNamed(kPartUniqueLength, [&](const std::u16string& letters) {
    const std::u16string unique = PartFileName(letters);
    const int error = CreateFile(unique, file);
    if (error != 0) return error;
    // Held while the file is written, so another run knows it is alive.
    flock(static_cast<int>(file.FFile.Get()), LOCK_EX);
    name = unique;
    return 0;
  });
}

void TDirHandle::RemoveLeftoverPartFiles() const {
  const int listed = dup(static_cast<int>(FDir.Get()));
  if (listed < 0) return;
  DIR* dir = fdopendir(listed);
  if (dir == nullptr) {
    close(listed);
    return;
  }
  rewinddir(dir);
  while (dirent* entry = readdir(dir)) {
    if (!IsPartFileName(FromOsPath(entry->d_name))) continue;
    const int fd = openat(FDir.Get(), entry->d_name, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && flock(fd, LOCK_EX | LOCK_NB) == 0) {
      unlinkat(FDir.Get(), entry->d_name, 0);
    }
    close(fd);
  }
  closedir(dir);
}

int TDirHandle::Rename(std::u16string_view from, std::u16string_view to) const {
  return renameat(FDir.Get(), OsPath(from).c_str(), FDir.Get(), OsPath(to).c_str()) == 0 ? 0 : errno;
}

std::optional<TFileTime> FileTimeOf(const TLocalTime& time) {
  struct timespec times[2];
  if (!TimesOf(time, times)) return std::nullopt;
  return TFileTime{static_cast<std::int64_t>(times[0].tv_sec), static_cast<std::int32_t>(times[0].tv_nsec)};
}

// --- TFileHandle's attributes and times (the mapping above) ---------------------

int TFileHandle::SetTime(const TFileTime& time) {
  struct timespec times[2];
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(time.Seconds);
  times[0].tv_nsec = times[1].tv_nsec = time.Nanoseconds;
  return futimens(FFile.Get(), times) == 0 ? 0 : errno;
}

int TFileHandle::SetAttr(std::uint32_t attr) {
  struct stat st {};
  if (fstat(FFile.Get(), &st) != 0) return errno;
  const mode_t mode = ModeWithAttr(st.st_mode & 07777, attr);
  return mode == (st.st_mode & 07777) || fchmod(FFile.Get(), mode) == 0 ? 0 : errno;
}

bool DeleteFile(std::u16string_view path) { return unlink(OsPath(path).c_str()) == 0; }

bool RemoveDir(std::u16string_view path) { return rmdir(OsPath(path).c_str()) == 0; }

}  // namespace zo
