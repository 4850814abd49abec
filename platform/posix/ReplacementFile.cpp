#include "platform/ReplacementFile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/Utf.h"

namespace zo {

namespace {

// A stand-in is named ".<target name>.partial-XXXXXX" in the target's
// directory: hidden, and plainly what it is when someone finds one. Long
// names are cut so that the stand-in's name stays within the system's limit.
constexpr std::size_t kNameRoom = 200;
constexpr char kStandInMark[] = ".partial-";
constexpr std::size_t kUniqueLength = 6;   // the XXXXXX of mkostemp

struct Split {
  std::string dir;    // with a trailing '/'
  std::string name;
};

Split SplitPath(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {"./", path};
  return {path.substr(0, slash + 1), path.substr(slash + 1)};
}

std::string StandInPrefix(const std::string& name) {
  return "." + name.substr(0, kNameRoom) + kStandInMark;
}

// The file a path names, symbolic links resolved; the path itself when it
// does not exist (yet) or cannot be resolved.
std::string ResolvedTarget(const std::string& path) {
  char resolved[PATH_MAX];
  if (::realpath(path.c_str(), resolved) != nullptr) return resolved;
  return path;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// Removes the stand-ins for target that no living run holds: those of runs
// that were killed before they could finish or clean up.
void RemoveLeftoverStandIns(const Split& target) {
  std::unique_ptr<DIR, DirCloser> dir(::opendir(target.dir.c_str()));
  if (!dir) return;
  const std::string prefix = StandInPrefix(target.name);
  while (dirent* entry = ::readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name.size() != prefix.size() + kUniqueLength || name.compare(0, prefix.size(), prefix) != 0) continue;
    const int fd = ::openat(::dirfd(dir.get()), name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) continue;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
      ::unlinkat(::dirfd(dir.get()), name.c_str(), 0);
    }
    ::close(fd);
  }
}

// The permissions a newly created file gets: 0666 less the umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

// Makes a rename durable: the directory entry itself is flushed.
void SyncDirectory(const std::string& dir) {
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

int TReplacementFile::Begin(const std::u16string& target) {
  Abandon();
  const std::string resolved = ResolvedTarget(ToOsPath(target));
  struct stat st {};
  FTargetExisted = ::stat(resolved.c_str(), &st) == 0;
  if (FTargetExisted) {
    // What opening the target for writing would refuse, refused now: the
    // rename would otherwise replace what may not be written.
    if (S_ISDIR(st.st_mode)) return EISDIR;
    if (::access(resolved.c_str(), W_OK) != 0) return errno;
    FMode = st.st_mode & 07777;
    FOwner = st.st_uid;
    FGroup = st.st_gid;
  }
  FTarget = FromOsPath(resolved);
  FActive = true;

  const Split parts = SplitPath(resolved);
  RemoveLeftoverStandIns(parts);
  std::string pattern = parts.dir + StandInPrefix(parts.name) + std::string(kUniqueLength, 'X');
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    // Nothing can be made beside it: write the target itself.
    FInPlace = true;
    FWritePath = FTarget;
    return 0;
  }
  FLock.Reset(fd);
  ::flock(fd, LOCK_EX);
  FInPlace = false;
  FWritePath = FromOsPath(buffer.data());
  return 0;
}

int TReplacementFile::Commit() {
  if (!FActive) return 0;
  if (FInPlace) {
    Release();
    return 0;
  }
  const std::string standIn = ToOsPath(FWritePath);
  const std::string target = ToOsPath(FTarget);
  int error = 0;
  if (::fsync(FLock.Get()) != 0) error = errno;
  if (error == 0 && ::fchmod(FLock.Get(), FTargetExisted ? FMode : NewFileMode()) != 0) error = errno;
  if (error == 0 && FTargetExisted && (FOwner != ::geteuid() || FGroup != ::getegid())) {
    // The file keeps its owner where the system lets us give it back (a
    // privileged run); otherwise the replacement belongs to whoever wrote it.
    if (::fchown(FLock.Get(), FOwner, FGroup) != 0 && errno != EPERM) error = errno;
  }
  if (error == 0 && ::rename(standIn.c_str(), target.c_str()) != 0) error = errno;
  if (error != 0) {
    Abandon();
    return error;
  }
  SyncDirectory(SplitPath(target).dir);
  Release();
  return 0;
}

void TReplacementFile::Abandon() {
  if (!FActive) return;
  if (!FInPlace) {
    ::unlink(ToOsPath(FWritePath).c_str());
  } else if (!FTargetExisted) {
    ::unlink(ToOsPath(FTarget).c_str());
  }
  Release();
}

void TReplacementFile::Release() {
  FLock.Reset();
  FActive = false;
}

}  // namespace zo
