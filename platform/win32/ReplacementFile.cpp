#include "platform/ReplacementFile.h"

#include <cerrno>

#include "platform/FileSystem.h"
#include "platform/win32/Win32.h"

namespace zo {

namespace {

// A stand-in is named ".<target name>.partial-XXXXXX" in the target's
// directory, as on POSIX. Its writer holds it open without sharing it for
// deletion: that is the lock. Another run cannot remove it while the writer
// lives, and can once the writer is gone (closed or killed).
constexpr std::size_t kNameRoom = 200;
constexpr std::u16string_view kStandInMark = u".partial-";
constexpr std::size_t kUniqueLength = 6;

std::u16string StandInPrefix(const std::u16string& name) {
  return u"." + name.substr(0, kNameRoom) + std::u16string(kStandInMark);
}

void RemoveLeftoverStandIns(const std::u16string& dir, const std::u16string& name) {
  const std::u16string prefix = StandInPrefix(name);
  for (const TSearchRec& rec : FindFiles(dir + prefix + u"*", faHidden | faSysFile | faReadOnly | faArchive)) {
    if (rec.Name.size() == prefix.size() + kUniqueLength) ::DeleteFileW(Wide(NativePath(dir + rec.Name)));
  }
}

// Creates a new stand-in and holds it open as the lock; its name on success.
std::u16string CreateStandIn(const std::u16string& dir, const std::u16string& name, TDescriptor& lock) {
  static constexpr char16_t kLetters[] = u"abcdefghijklmnopqrstuvwxyz0123456789";
  LARGE_INTEGER counter{};
  ::QueryPerformanceCounter(&counter);
  std::uint64_t state = static_cast<std::uint64_t>(counter.QuadPart) ^
                        (static_cast<std::uint64_t>(::GetCurrentProcessId()) << 32);
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::u16string candidate = dir + StandInPrefix(name);
    for (std::size_t i = 0; i < kUniqueLength; ++i) {
      state = state * 6364136223846793005ull + 1442695040888963407ull;
      candidate += kLetters[(state >> 33) % (sizeof kLetters / sizeof kLetters[0] - 1)];
    }
    const HANDLE file = ::CreateFileW(Wide(NativePath(candidate)), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
      lock.Reset(ValueOf(file));
      return candidate;
    }
    if (::GetLastError() != ERROR_FILE_EXISTS) return {};
  }
  return {};
}

}  // namespace

int TReplacementFile::Begin(const std::u16string& target) {
  Abandon();
  const std::u16string resolved = ExpandFileName(target);
  const DWORD attributes = ::GetFileAttributesW(Wide(NativePath(resolved)));
  FTargetExisted = attributes != INVALID_FILE_ATTRIBUTES;
  if (FTargetExisted) {
    // What opening the target for writing would refuse, refused now: the
    // move would otherwise replace what may not be written.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return EISDIR;
    if (attributes & FILE_ATTRIBUTE_READONLY) return EACCES;
    FMode = attributes;
  }
  FTarget = resolved;
  FActive = true;

  const std::u16string dir = ExtractFilePath(resolved);
  const std::u16string name = ExtractFileName(resolved);
  RemoveLeftoverStandIns(dir, name);
  const std::u16string standIn = CreateStandIn(dir, name, FLock);
  if (standIn.empty()) {
    // Nothing can be made beside it: write the target itself.
    FInPlace = true;
    FWritePath = FTarget;
    return 0;
  }
  FInPlace = false;
  FWritePath = standIn;
  return 0;
}

int TReplacementFile::Commit() {
  if (!FActive) return 0;
  if (FInPlace) {
    Release();
    return 0;
  }
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
  if (error != 0) {
    Abandon();
    return error;
  }
  Release();
  return 0;
}

void TReplacementFile::Abandon() {
  if (!FActive) return;
  FLock.Reset();
  if (!FInPlace) {
    ::DeleteFileW(Wide(NativePath(FWritePath)));
  } else if (!FTargetExisted) {
    ::DeleteFileW(Wide(NativePath(FTarget)));
  }
  Release();
}

void TReplacementFile::Release() {
  FLock.Reset();
  FActive = false;
}

}  // namespace zo
