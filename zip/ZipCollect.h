// Collection of files and directories on disk for adding to an archive.
//
// One search walks the base directory (and, as asked, its subdirectories),
// picks objects by a mask and an attribute filter, leaves out what the
// exclusion masks name, and gives each picked object its stored name. The
// engine's AddFiles registers what comes back, in the order it comes back:
// within one directory all files first, then each subdirectory, a directory
// entry immediately followed by everything below it.
//
// Paths are absolute and worked out as text; the process's current directory
// is never changed, so a collection in one engine cannot disturb anything
// else in the process.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "core/String.h"
#include "platform/FileSystem.h"
#include "zip/ZipEngine.h"

namespace zo {

// One object picked for adding.
struct TZEFoundFile {
  String FullPath;       // absolute, '/' separators; directories without a trailing '/'
  String StoredName;     // the entry's name: '/' separators, a trailing '/' for directories
  bool IsDirectory = false;
  std::uint32_t Attr = 0;
  std::int64_t Size = 0;
  TLocalTime Time;       // last write, as listed
  bool Dangling = false; // a symbolic link to nothing: listed, but with nothing behind it
};

struct TZECollectSettings {
  String BaseDir;                 // absolute, with a trailing '/'
  TZEStorePathMode StorePath = spRelativePath;
  bool Recurse = true;
  std::vector<String> ExclusionMasks;  // absolute or relative to BaseDir
  // The archive under every name it has (the file and the new archive built
  // for it): never collected, whatever name or link leads to them.
  std::vector<String> ArchivePaths;
};

// What to do about a directory below the base that cannot be listed (its
// path, the system's errno): retry the listing, ignore the directory (its
// entry stays, its content is left out) or abort the whole collection.
using TZEListingFailure = std::function<TZEAction(const String& directory, int error)>;

// Runs the search of mask below settings.BaseDir and returns the objects in
// registration order; nothing when a listing failure was answered with
// abort (*aborted is then set). Without onFailure a directory that cannot be
// listed is left out.
std::vector<TZEFoundFile> CollectFiles(StringView fileMask, std::uint32_t searchAttr,
                                       const TZECollectSettings& settings,
                                       const TZEListingFailure& onFailure = {}, bool* aborted = nullptr);

// Whether the file pass takes a listed object under the attribute filter
// searchAttr: a regular file (or a link that leads nowhere) whose attribute
// bits share one with the filter, or that has none at all when the filter
// asks for every kind of ordinary file.
bool IsTakenAsFile(const TSearchRec& rec, std::uint32_t searchAttr);

// Receives each object as the search finds it, in registration order.
using TZEFoundSink = std::function<void(TZEFoundFile&& found)>;

// The same search, handing each object to onFound as it is found rather than
// gathering them all first: a caller that registers them as they come holds
// no list of a whole tree. On abort (*aborted set) objects already handed
// over stay handed over; the caller undoes what it did with them.
void CollectFilesInto(StringView fileMask, std::uint32_t searchAttr, const TZECollectSettings& settings,
                      const TZEFoundSink& onFound, const TZEListingFailure& onFailure = {},
                      bool* aborted = nullptr);

// The base directory a collection or extraction works in: baseDir made
// absolute with a trailing '/' when it exists, unchanged when it does not,
// the process's current directory when it is empty.
String ResolveBaseDir(StringView baseDir);

// The stored name of an object at fullPath under the path mode (without the
// trailing '/' that directories get at registration).
String StoredNameOf(StringView fullPath, StringView baseDir, TZEStorePathMode mode);

// fullPath without its drive part: a leading "X:" (before a separator), or for a path that opens
// with two separators the "//server/share/" part; then one leading separator.
String RemoveDrivePart(StringView path);

// True when fullPath is excluded by mask (see the exclusion rules in
// ZipCollect.cpp); currentDir anchors relative masks.
bool IsExcludedBy(StringView fullPath, StringView mask, StringView currentDir);

// The process-wide lock held around each collection pass and each
// extraction pass.
std::mutex& CollectionLock();

}  // namespace zo
