#include "platform/ReplacementFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/ReplacementJournal.h"
#include "platform/StandIn.h"
#include "platform/TempFile.h"
#include "platform/Utf.h"
#include "platform/WorkFileNames.h"

namespace zo {

namespace {

// Links followed before a chain is taken for a loop, as the system counts.
constexpr int kMaxLinkHops = 40;

struct Split {
  std::string dir;    // with a trailing '/'
  std::string name;
};

Split SplitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"./", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

// The file a path names: every symbolic link at its end followed, whether
// what the last one names exists or not, and the directory made canonical
// where it exists. Empty, with *error set, for a chain that does not end.
std::string ResolvedTarget(const std::string& path, int* error) {
  std::string current = path;
  for (int hops = 0;; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
    if (hops == kMaxLinkHops) {
      *error = ELOOP;
      return {};
    }
    std::vector<char> link(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t length = ::readlink(current.c_str(), link.data(), link.size());
    if (length < 0 || static_cast<std::size_t>(length) >= link.size()) break;
    const std::string to(link.data(), static_cast<std::size_t>(length));
    current = to.starts_with('/') ? to : SplitPath(current).dir + to;
  }
  const Split parts = SplitPath(current);
  char resolved[PATH_MAX];
  if (::realpath(parts.dir.c_str(), resolved) == nullptr) return current;
  std::string dir = resolved;
  if (dir.back() != '/') dir += '/';
  return dir + parts.name;
}

std::string OsText(const std::u16string& text) { return ToOsPath(text); }

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// The permissions a newly created file gets: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Makes a rename or a new name durable: the directory entry itself is flushed.
void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

// --- Plain reads and writes at a position -------------------------------------

int WriteAt(int fd, const void* data, std::size_t count, off_t position) {
  const char* bytes = static_cast<const char*>(data);
  while (count > 0) {
    const ssize_t n = ::pwrite(fd, bytes, count, position);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return ENOSPC;
    bytes += n;
    count -= static_cast<std::size_t>(n);
    position += n;
  }
  return 0;
}

int ReadAt(int fd, void* data, std::size_t count, off_t position) {
  char* bytes = static_cast<char*>(data);
  while (count > 0) {
    const ssize_t n = ::pread(fd, bytes, count, position);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return errno;
    if (n == 0) return EIO;   // shorter than it was
    bytes += n;
    count -= static_cast<std::size_t>(n);
    position += n;
  }
  return 0;
}

int CopyBytes(int source, off_t from, int target, off_t to, std::int64_t count) {
  return CopyBytesWith([](int fd, char* data, std::size_t n, std::int64_t at) { return ReadAt(fd, data, n, at); },
                       [](int fd, char* data, std::size_t n, std::int64_t at) { return WriteAt(fd, data, n, at); },
                       source, from, target, to, count);
}

// --- The journal of a copy in place (platform/ReplacementJournal.h) ---------------

std::string JournalPath(const std::string& target, const struct stat& st) {
  return OsText(TempDirectory()) + "/" +
         OsText(JournalFileName(JournalKey(target, static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino))));
}

class TJournal {
 public:
  // Opens the journal at path, creating it, and takes its lock: waiting for
  // a living run that holds it, or, without wait, giving up (EWOULDBLOCK).
  int Lock(const std::string& path, bool wait) {
    FPath = path;
    for (;;) {
      const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
      if (fd < 0) return errno;
      if (::flock(fd, LOCK_EX | (wait ? 0 : LOCK_NB)) != 0) {
        const int error = errno;
        ::close(fd);
        return error;
      }
      // The run we waited for may have removed it meanwhile: then the lock
      // is on a file nobody will find, and the name is taken again.
      struct stat held {}, named {};
      if (::fstat(fd, &held) == 0 && ::stat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
          held.st_ino == named.st_ino) {
        FFd.Reset(fd);
        return 0;
      }
      ::close(fd);
    }
  }

  // Writes the old bytes of target (open as fd, described by st) and seals
  // them, all flushed to the disk.
  int Record(const std::string& target, int fd, const struct stat& st) {
    const TJournalHeader header = NewJournalHeader(target, static_cast<std::uint64_t>(st.st_dev),
                                                   static_cast<std::uint64_t>(st.st_ino), static_cast<std::uint64_t>(st.st_size));
    const int journal = Fd();
    int error = ::ftruncate(journal, 0) == 0 ? 0 : errno;
    if (error == 0) error = WriteAt(journal, &header, sizeof header, 0);
    if (error == 0) error = WriteAt(journal, target.data(), target.size(), sizeof header);
    if (error == 0) error = CopyBytes(fd, 0, journal, static_cast<off_t>(JournalDataAt(header)), st.st_size);
    if (error == 0 && ::fsync(journal) != 0) error = errno;
    if (error == 0) error = WriteAt(journal, &kJournalSealed, sizeof kJournalSealed, kJournalSealedAt);
    if (error == 0 && ::fsync(journal) != 0) error = errno;
    if (error == 0) SyncDirectory(SplitPath(FPath).dir);
    return error;
  }

  // Reads the journal, for target.
  TJournalState Read(const std::string& target) {
    TJournalHeader header{};
    struct stat st {};
    if (::fstat(Fd(), &st) != 0 || st.st_size < static_cast<off_t>(sizeof header) ||
        ReadAt(Fd(), &header, sizeof header, 0) != 0 || !IsSealedJournal(header)) {
      return TJournalState::jsEmpty;
    }
    std::string path(header.PathLength, '\0');
    if (ReadAt(Fd(), path.data(), path.size(), sizeof header) != 0) return TJournalState::jsEmpty;
    if (path != target) return TJournalState::jsForeign;
    FHeader = header;
    return TJournalState::jsSealed;
  }

  // Puts the old bytes back into target (open as fd), flushed to the disk.
  // Refused (ESTALE) when fd is not the file the journal was made for.
  int PlayBack(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return errno;
    if (static_cast<std::uint64_t>(st.st_dev) != FHeader.Device || static_cast<std::uint64_t>(st.st_ino) != FHeader.Number)
      return ESTALE;
    const off_t at = static_cast<off_t>(JournalDataAt(FHeader));
    const off_t size = static_cast<off_t>(FHeader.OldSize);
    int error = CopyBytes(Fd(), at, fd, 0, size);
    if (error == 0 && ::ftruncate(fd, size) != 0) error = errno;
    if (error == 0 && ::fsync(fd) != 0) error = errno;
    return error;
  }

  // The journal is no longer needed: removed while its lock is still held.
  void Drop() {
    if (!FFd.IsOpen()) return;
    ::unlink(FPath.c_str());
    FFd.Reset();
  }

  int Fd() const { return static_cast<int>(FFd.Get()); }

 private:
  std::string FPath;
  TDescriptor FFd;
  TJournalHeader FHeader{};
};

}  // namespace

void RestoreInterruptedCopy(const std::u16string& target) {
  int error = 0;
  const std::string resolved = ResolvedTarget(OsText(target), &error);
  if (resolved.empty()) return;
  const int fd = ::open(resolved.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return;
  TDescriptor file(fd);
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return;
  const std::string path = JournalPath(resolved, st);
  if (::access(path.c_str(), F_OK) != 0) return;
  TJournal journal;
  if (journal.Lock(path, false) != 0) return;   // a living run is copying: it finishes or puts back itself
  if (PlayBackLeftover(journal, resolved, fd) == 0) journal.Drop();
}

// --- The stand-ins (platform/StandIn.h) ------------------------------------------

TStandInPlace StandInBeside(const std::u16string& target) {
  const Split parts = SplitPath(OsText(target));
  return {FromOsPath(parts.dir), FromOsPath(parts.name)};
}

// A stand-in is locked (flock) while its writer lives: one that can be
// locked without waiting is a killed run's.
void RemoveLeftoverStandIns(const TStandInPlace& place) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(OsText(place.Dir).c_str()));
  if (!dir) return;
  const std::string prefix = OsText(StandInPrefix(place.Name));
  while (dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + kStandInUniqueLength || name.compare(0, prefix.size(), prefix) != 0) continue;
    const int fd = ::openat(::dirfd(dir.get()), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ::unlinkat(::dirfd(dir.get()), name.c_str(), 0);
    }
    ::close(fd);
  }
}

int CreateStandIn(const TStandInPlace& place, TDescriptor& lock, std::u16string& path) {
  const std::string prefix = OsText(place.Dir + StandInPrefix(place.Name));
  return CreateUniquelyNamed(kStandInUniqueLength, [&](const std::u16string& letters) {
    const std::string candidate = prefix + OsText(letters);
    const int fd = ::open(candidate.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno;
    lock.Reset(fd);
    ::flock(fd, LOCK_EX);
    path = FromOsPath(candidate);
    return 0;
  });
}

// --- The replacement's steps on this system ----------------------------------------

int TReplacementFile::TakeTarget(const std::u16string& target) {
  int error = 0;
  const std::string resolved = ResolvedTarget(OsText(target), &error);
  if (resolved.empty()) return error;
  struct stat st {};
  FTargetExisted = ::stat(resolved.c_str(), &st) == 0;
  if (FTargetExisted) {
    // What opening the target for writing would refuse, refused now: the
    // rename would otherwise replace what may not be written. Nor is what is
    // not a file replaced by one (a pipe, a socket, a device such as
    // /dev/null): the user named it, and it stays.
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (!S_ISREG(st.st_mode)) return ENOTSUP;
    if (::access(resolved.c_str(), W_OK) != 0) return errno;
    FMode = st.st_mode & 07777;
    FOwner = st.st_uid;
    FGroup = st.st_gid;
    RestoreInterruptedCopy(FromOsPath(resolved));
  }
  FTarget = FromOsPath(resolved);
  return 0;
}

int TReplacementFile::MoveIntoPlace() {
  const std::string standIn = OsText(FWritePath);
  const std::string target = OsText(FTarget);
  int error = 0;
  if (::fsync(FLock.Get()) != 0) error = errno;
  if (error == 0 && ::fchmod(FLock.Get(), FTargetExisted ? FMode : NewFileMode()) != 0) error = errno;
  if (error == 0 && FTargetExisted && (FOwner != ::geteuid() || FGroup != ::getegid())) {
    // The file keeps its owner where the system lets us give it back (a
    // privileged run); otherwise the replacement belongs to whoever wrote it.
    if (::fchown(FLock.Get(), FOwner, FGroup) != 0 && errno != EPERM) error = errno;
  }
  if (error == 0 && ::rename(standIn.c_str(), target.c_str()) != 0) error = errno;
  if (error == 0) SyncDirectory(SplitPath(target).dir);
  return error;
}

// Removed while its lock is still held, so no other run takes it for a
// leftover meanwhile.
void TReplacementFile::RemoveStandIn() { ::unlink(OsText(FWritePath).c_str()); }

// The copy in place: the target's old bytes into the journal, the new ones
// over them, the target cut to its new length; the journal goes when all of
// it is on the disk. The target keeps its own permissions and owner: it is
// the same file.
int TReplacementFile::CopyOverTarget() {
  const std::string target = OsText(FTarget);
  const int fd = ::open(target.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  TDescriptor file(fd);
  struct stat st {}, built {};
  if (::fstat(fd, &st) != 0 || ::fstat(static_cast<int>(FLock.Get()), &built) != 0) return errno;
  if (!S_ISREG(st.st_mode)) return ENOTSUP;

  TJournal journal;
  // Another run copying over the same file is waited for: one copy at a time.
  if (const int error = journal.Lock(JournalPath(target, st), true)) return error;
  if (const int error = PlayBackLeftover(journal, target, fd)) return error;
  if (::fstat(fd, &st) != 0) return errno;
  if (const int error = journal.Record(target, fd, st)) {
    journal.Drop();
    return error;
  }
  int error = CopyBytes(static_cast<int>(FLock.Get()), 0, fd, 0, built.st_size);
  if (error == 0 && ::ftruncate(fd, built.st_size) != 0) error = errno;
  if (error == 0 && ::fsync(fd) != 0) error = errno;
  return SettleCopy(journal, target, fd, error);
}

}  // namespace zo
