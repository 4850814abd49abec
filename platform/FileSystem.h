// File attributes, times, listings and directories, in the terms the ZIP
// engine and the console tool think in: DOS attribute bits, local date and
// time, errno values for failures. Each system's body (posix/, win32/) says
// at its top how its own facts map onto these.
//
// Attribute bits are DOS attributes and nothing more: read-only, hidden,
// system, directory, archive, as the system knows them; a system without
// one never reports it, and restoring attributes sets what the system can
// keep and ignores the rest. A regular file need not carry the archive bit.
// What kind of object sits at a path is a fact of its own, TEntryKind, which
// listings carry and FileKind answers.
//
// Paths are UTF-16 inside the system; every name a listing gives opens the
// same object again when given back, whatever bytes the system stores it as.
// Functions that take a path given by a user treat both '\' and '/' as
// separators; paths they return use '/'.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileStream.h"

namespace zo {

inline constexpr std::uint32_t faReadOnly = 0x01;
inline constexpr std::uint32_t faHidden = 0x02;
inline constexpr std::uint32_t faSysFile = 0x04;
inline constexpr std::uint32_t faVolumeID = 0x08;
inline constexpr std::uint32_t faDirectory = 0x10;
inline constexpr std::uint32_t faArchive = 0x20;
inline constexpr std::uint32_t faNormal = 0x80;
inline constexpr std::uint32_t faAnyFile = 0x1FF;
// The bits by which an attribute-filtered search leaves objects out: one
// that carries a bit of these the search's attributes lack is not found.
inline constexpr std::uint32_t kFilteredAttrBits = faHidden | faSysFile | faVolumeID | faDirectory;
inline bool PassesAttrFilter(std::uint32_t attr, std::uint32_t searchAttr) {
  return (attr & kFilteredAttrBits & ~searchAttr) == 0;
}
// What FileGetAttr answers for a path that does not exist.
inline constexpr std::uint32_t kInvalidFileAttributes = 0xFFFFFFFF;

// A moment in local time, broken down, as file times are read and set here
// (and ZIP entries' DOS stamps are written). Month and Day count from 1.
struct TLocalTime {
  int Year = 1980, Month = 1, Day = 1, Hour = 0, Minute = 0, Second = 0, Millisecond = 0;
  bool operator==(const TLocalTime&) const = default;
};

// What tells one file from another whatever name it is reached by: the
// device and the file number. Symbolic links are followed.
struct TFileId {
  std::uint64_t Device = 0;
  std::uint64_t Number = 0;
  bool operator==(const TFileId&) const = default;
};

// What kind of object sits somewhere: a regular file, a directory, a
// symbolic link (only where it is not followed, or leads nowhere), anything
// else (a named pipe, a socket, a device), or nothing.
enum class TEntryKind : std::uint8_t { ekNone, ekFile, ekDirectory, ekLink, ekOther };
using enum TEntryKind;

// One object of a directory listing.
struct TSearchRec {
  std::u16string Name;            // the name alone, no directory
  std::uint32_t Attr = 0;  // attribute bits as above
  std::int64_t Size = 0;   // bytes; 0 for directories
  TLocalTime Time;         // last write, local time
  // The object's identity, where the listing learns it without a further
  // look-up (what FileIdentity would answer); nothing elsewhere.
  std::optional<TFileId> Id;
  // ekFile or ekDirectory, as the object is behind any symbolic link; ekLink
  // for a link whose target cannot be reached (it names nothing, or a place
  // that cannot be looked up), listed from the link itself.
  TEntryKind Kind = ekNone;
};

// --- Attributes -----------------------------------------------------------

// The attribute bits of an existing file or directory (symbolic links are
// followed), or kInvalidFileAttributes when there is none.
std::uint32_t FileGetAttr(std::u16string_view path);
// Applies the read-only bit; false when the path is missing or the change
// is refused. A symbolic link is never changed through.
bool FileSetAttr(std::u16string_view path, std::uint32_t attr);

// Why path cannot be looked up (symbolic links followed): the errno, or 0
// when something is there.
int FileLookupError(std::u16string_view path);

bool FileExists(std::u16string_view path);        // exists and is not a directory
bool DirectoryExists(std::u16string_view path);   // exists and is a directory
// True when anything at all sits at path, a dangling symbolic link included.
bool PathEntryExists(std::u16string_view path);
bool IsSymbolicLink(std::u16string_view path);
// What sits at path, symbolic links followed: ekFile, ekDirectory or ekOther;
// ekLink for a link whose target cannot be reached; ekNone for nothing.
TEntryKind FileKind(std::u16string_view path);

std::optional<TFileId> FileIdentity(std::u16string_view path);

// The size in bytes of an existing file (symbolic links are followed).
std::optional<std::int64_t> FileGetSize(std::u16string_view path);

// --- Times ----------------------------------------------------------------

// Last write time in local time; nothing when it cannot be read.
std::optional<TLocalTime> FileGetLocalTime(std::u16string_view path);
// Sets the last write (and access) time; false when that fails.
bool FileSetLocalTime(std::u16string_view path, const TLocalTime& time);
TLocalTime NowLocalTime();
// Seconds since 1970-01-01 UTC as local time; nothing when out of range.
std::optional<TLocalTime> LocalTimeOfUnixTime(std::int64_t seconds);

// --- Listing --------------------------------------------------------------

// Lists the directory part of pathWithMask for names that match its last
// element under the wildcard rules ('*', '?', ASCII case ignored, "*.*"
// matches every name). Objects are left out when they carry one of the bits
// hidden, system, volume or directory that attr lacks, as the classic
// attribute-filtered listing does; "." and ".." are never listed, nor are
// devices, pipes and sockets (nothing a file could be read from). Entries come
// sorted by name so that results do not depend on the file system. Errors
// give an empty list, and the errno in *error when it is given (0 when the
// directory was read): a missing or unreadable directory, and one whose
// names can be read but not looked up (read permission without search
// permission, an I/O error): its content is unknown, not empty. A name that
// vanished between reading and looking it up is left out without an error.
std::vector<TSearchRec> FindFiles(std::u16string_view pathWithMask, std::uint32_t attr, int* error = nullptr);
// The order FindFiles gives on every system: by name, unit by unit.
void SortByName(std::vector<TSearchRec>& listing);

// The wildcard test: ASCII case ignored, '*' any run of characters (also
// none), '?' exactly one character, anything else itself; a mask that is
// exactly "*.*" matches everything.
bool MatchesMask(std::u16string_view name, std::u16string_view mask);

// --- Paths and directories --------------------------------------------------

// True when path is longer than the system takes a path, in the system's
// own terms: nothing at it could be opened or made by anyone, so callers
// refuse it up front with a message of their own.
bool IsPathTooLong(std::u16string_view path);

// Both '\' and '/' separate the elements of a path given by a user.
inline bool IsPathSeparator(char16_t c) { return c == u'/' || c == u'\\'; }

std::u16string GetCurrentDir();
// An absolute path for path ('\' and '/' both separate): relative paths are
// joined to base (the current directory when base is empty); "." and ".."
// elements and repeated separators are resolved textually. A trailing
// separator is kept.
std::u16string ExpandFileName(std::u16string_view path, std::u16string_view base = {});
std::u16string IncludeTrailingPathDelimiter(std::u16string_view path);
std::u16string ExcludeTrailingPathDelimiter(std::u16string_view path);
// The path with every '\' turned into '/': users and callers may write either
// separator, this platform's file calls and archive entry names take '/'.
std::u16string SlashedPath(std::u16string_view path);
// The part of an absolute path after its root, its steps resolved: "." gone,
// ".." taking away the step before it (never climbing above the root), '/'
// before each step, a trailing separator kept. "a/./b/../c/" gives "/a/c/",
// no steps at all "/". ExpandFileName joins it to the root.
std::u16string ResolvedSteps(std::u16string_view steps);
// Up to and including the last separator ('\' or '/'); empty when none.
// The two split a path at the same place: path = ExtractFilePath(path) +
// ExtractFileName(path).
std::u16string ExtractFilePath(std::u16string_view path);
// After the last separator.
std::u16string ExtractFileName(std::u16string_view path);

// Creates the directory and every missing parent; true when it exists
// afterwards. Memory stays that of the path itself however deep it goes.
bool ForceDirectories(std::u16string_view path);
// Removes a file or a symbolic link (never what a link points to).
bool DeleteFile(std::u16string_view path);
bool RemoveDir(std::u16string_view path);

// --- Work below one directory, never through a symbolic link -------------------
//
// Extraction creates what an archive names below one destination directory.
// Calls by path would follow any symbolic link met on the way, resolve the
// whole path again at every step (quadratic for deep names) and fail past the
// system's path length. A TDirHandle holds a directory open and works
// relative to it, one path element at a time: a symbolic link below it is
// never followed, and every step costs the same however deep it lies.
// Names given to it are single path elements. Errors are errno values.

struct TEntryInfo {
  TEntryKind Kind = ekNone;
  std::uint32_t Attr = 0;   // attribute bits as above (of the link itself for ekLink)
  TLocalTime Time;          // last write, local time
};

class TDirHandle {
 public:
  bool IsOpen() const { return FDir.IsOpen(); }

  // Opens the directory at path; symbolic links in path itself are followed,
  // as the caller chose it. 0 or errno.
  int Open(std::u16string_view path);
  // Opens the subdirectory name into child, creating it first when create is
  // set and nothing is there. A symbolic link there gives ELOOP and anything
  // but a directory ENOTDIR. 0 or errno.
  int OpenSubdirectory(std::u16string_view name, bool create, TDirHandle& child) const;
  // What sits at name (a link is reported as a link, not followed).
  TEntryInfo Stat(std::u16string_view name) const;
  // Removes the file or link at name (never what a link points to). 0 or errno.
  int Remove(std::u16string_view name) const;
  // Creates the file name and opens it into file; EEXIST when anything is
  // there already (a link too). 0 or errno.
  int CreateFile(std::u16string_view name, TFileHandle& file) const;
  // As CreateFile, under a name of its own choosing that nothing has yet,
  // which it fills in: a part file (platform/WorkFileNames.h), held as
  // alive until file is closed.
  int CreateUniqueFile(std::u16string& name, TFileHandle& file) const;
  // Removes the part files here that no living run holds open: those of
  // runs killed before they could finish or clean up.
  void RemoveLeftoverPartFiles() const;
  // Moves from to to within this directory, replacing a file or link at to
  // (a link is replaced, not followed). 0 or errno.
  int Rename(std::u16string_view from, std::u16string_view to) const;

 private:
  TDescriptor FDir;
  // The directory's full path, on systems whose calls name files by path
  // alone (Windows); FDir then keeps the directory from being removed or
  // renamed while it is held.
  std::u16string FPath;
};

// A local time as the system keeps file times, for TFileHandle::SetTime.
// Working out the local time zone is not safe to do on several threads at
// once: threads that set file times take the conversion made beforehand.
std::optional<TFileTime> FileTimeOf(const TLocalTime& time);

}  // namespace zo
