#include "zip/ZipCollect.h"

#include <algorithm>
#include <cerrno>
#include <utility>

#include "core/StringUtils.h"
#include "platform/FileSystem.h"
#include "platform/ReplacementFile.h"
#include "platform/WorkFileNames.h"
#include "zip/ZipSiblingNames.h"

namespace zo {

namespace {

bool StartsWithAscii(StringView text, StringView prefix) {
  return text.size() >= prefix.size() && SameTextAscii(text.substr(0, prefix.size()), prefix);
}

// A mask that names its own place: rooted at "/", at a drive ("C:/", as
// RemoveDrivePart reads a drive), opening with two separators, or climbing
// out with "..". Everything else is relative to the directory being searched.
bool IsPlacedMask(StringView mask) {
  if (mask.empty()) return false;
  if (mask[0] == u'/') return true;
  const bool letter = mask.size() >= 3 && ((mask[0] >= u'A' && mask[0] <= u'Z') || (mask[0] >= u'a' && mask[0] <= u'z'));
  if (letter && mask[1] == u':' && IsPathSeparator(mask[2])) return true;
  if (mask.size() >= 2 && IsPathSeparator(mask[0]) && IsPathSeparator(mask[1])) return true;
  return mask.find(u"../") != StringView::npos || mask.find(u"..\\") != StringView::npos;
}

// The relative path from base (a directory, trailing '/') to path, with "../"
// steps where path lies outside base.
String RelativePath(StringView base, StringView path) {
  auto split = [](StringView p) {
    std::vector<String> parts;
    String part;
    for (char16_t c : p) {
      if (IsPathSeparator(c)) {
        if (!part.empty()) parts.push_back(std::move(part));
        part.clear();
      } else {
        part += c;
      }
    }
    if (!part.empty()) parts.push_back(std::move(part));
    return parts;
  };
  const std::vector<String> b = split(base);
  const std::vector<String> p = split(path);
  size_t common = 0;
  while (common < b.size() && common < p.size() && b[common] == p[common]) ++common;
  String result;
  for (size_t i = common; i < b.size(); ++i) result += u"../";
  for (size_t i = common; i < p.size(); ++i) {
    if (i > common) result += u'/';
    result += p[i];
  }
  return result;
}

// The identities of a file under each of its names.
std::vector<TFileId> IdentitiesOf(const std::vector<String>& paths) {
  std::vector<TFileId> ids;
  for (const String& path : paths) {
    if (std::optional<TFileId> id = FileIdentity(path)) ids.push_back(*id);
  }
  return ids;
}

// What the directory pass lists: every subdirectory, hidden or not.
constexpr std::uint32_t kDirectoryFilter = faHidden | faSysFile | faDirectory;

class Collector {
 public:
  Collector(std::uint32_t searchAttr, const TZECollectSettings& settings, const TZEFoundSink& onFound,
            const TZEListingFailure& onFailure)
      : FAttr(searchAttr), FSettings(settings), FArchiveIds(IdentitiesOf(settings.ArchivePaths)),
        FOnFound(onFound), FOnFailure(onFailure) {}

  void SearchDirectory(const String& dir, const String& mask, bool recursive) {
    // A directory met again below itself (a symbolic link to a parent) is
    // left out, or the walk would never end.
    const std::optional<TFileId> id = Identify(dir);
    if (FAborted || !id || std::find(FStack.begin(), FStack.end(), *id) != FStack.end()) return;
    FStack.push_back(*id);
    const String searchPath = IncludeTrailingPathDelimiter(dir) + mask;
    const bool walkDirectories = (FAttr & faDirectory) || recursive;
    // Where the mask names files of dir itself, one listing of everything
    // serves both passes, so that every name is looked up once.
    const bool oneListing = walkDirectories && mask.find_first_of(u"/\\") == String::npos;
    bool listed = false;
    const std::vector<TSearchRec> listing =
        oneListing ? List(dir, IncludeTrailingPathDelimiter(dir) + u"*", FAttr | kDirectoryFilter, listed)
                   : List(dir, searchPath, FAttr & ~faDirectory, listed);
    // The subdirectories are listed before the files are taken, so that the
    // names of both are known when a name is chosen for either.
    std::vector<TSearchRec> directories;
    if (listed && walkDirectories && !oneListing)
      directories = List(dir, IncludeTrailingPathDelimiter(dir) + u"*", kDirectoryFilter, listed);
    FNames.NoteDirectory(dir, listing, directories);
    FilePass(searchPath, listing);
    if (listed && walkDirectories) DirectoryPass(dir, searchPath, mask, recursive, oneListing ? listing : directories);
    FStack.pop_back();
  }

  bool Aborted() const { return FAborted; }

 private:
  // The identity of a directory about to be searched. One that cannot be
  // looked up (other than by having vanished) is put to the failure
  // decision, as one that cannot be listed is.
  std::optional<TFileId> Identify(const String& dir) {
    for (;;) {
      if (std::optional<TFileId> id = FileIdentity(dir)) return id;
      const int error = FileLookupError(dir);
      if (error == 0 || error == ENOENT || !FOnFailure) return std::nullopt;
      switch (FOnFailure(ExcludeTrailingPathDelimiter(dir), error)) {
        case fxaRetry: continue;
        case fxaIgnore: return std::nullopt;
        case fxaAbort: FAborted = true; return std::nullopt;
      }
    }
  }

  // A listing of dir; a directory that cannot be read is put to the failure
  // decision rather than passed over as if it were empty.
  std::vector<TSearchRec> List(const String& dir, const String& searchPath, std::uint32_t filter, bool& listed) {
    for (;;) {
      int error = 0;
      std::vector<TSearchRec> listing = FindFiles(searchPath, filter, &error);
      listed = error == 0;
      if (listed || !FOnFailure) return listing;
      switch (FOnFailure(ExcludeTrailingPathDelimiter(dir), error)) {
        case fxaRetry: continue;
        case fxaIgnore: return {};
        case fxaAbort: FAborted = true; return {};
      }
    }
  }

  // The files of a listing of dir that the search asks for: those that
  // match the mask and the attribute filter.
  void FilePass(const String& searchPath, const std::vector<TSearchRec>& listing) {
    const String mask = ExtractFileName(searchPath);
    for (const TSearchRec& rec : listing) {
      if (!IsTakenAsFile(rec, FAttr)) continue;
      // Our own work in progress (a stand-in, a part file, a journal), of
      // this run or another: never the user's data, and half written.
      if (IsWorkFileName(rec.Name)) continue;
      if (!MatchesMask(rec.Name, mask)) continue;
      const String full = ExpandFileName(ExtractFilePath(SlashedPath(searchPath)) + rec.Name);
      if (IsExcluded(full, rec)) continue;
      Add(full, false, rec);
    }
  }

  void DirectoryPass(const String& dir, const String& searchPath, const String& mask, bool recursive,
                     const std::vector<TSearchRec>& listing) {
    for (const TSearchRec& rec : listing) {
      if (FAborted) return;
      if (rec.Kind != ekDirectory) continue;
      const String full = IncludeTrailingPathDelimiter(dir) + rec.Name;
      if (IsExcluded(full, rec)) continue;
      if ((FAttr & faDirectory) &&
          (MatchesMask(full, SlashedPath(searchPath)) || MatchesMask(full + u".", SlashedPath(searchPath)))) {
        Add(full, true, rec);
        SearchDirectory(full, ExtractFileName(mask), true);
      } else if (recursive) {
        SearchDirectory(full, mask, recursive);
      }
    }
  }

  bool IsExcluded(const String& full, const TSearchRec& rec) const {
    for (const String& archive : FSettings.ArchivePaths) {
      if (full == archive) return true;
    }
    if (!FArchiveIds.empty()) {
      const std::optional<TFileId> id = rec.Id ? rec.Id : FileIdentity(full);
      if (id && std::find(FArchiveIds.begin(), FArchiveIds.end(), *id) != FArchiveIds.end()) return true;
    }
    for (const String& mask : FSettings.ExclusionMasks) {
      if (IsExcludedBy(full, mask, FSettings.BaseDir)) return true;
    }
    return false;
  }

  void Add(const String& full, bool isDirectory, const TSearchRec& rec) {
    TZEFoundFile f;
    f.FullPath = full;
    // A name whose bytes on disk are not UTF-8 is stored as it reads, as
    // long as no sibling reads the same.
    f.StoredName = FNames.EntryName(StoredNameOf(full, FSettings.BaseDir, FSettings.StorePath), full);
    if (isDirectory) f.StoredName += u'/';
    f.IsDirectory = isDirectory;
    f.Attr = rec.Attr;
    f.Size = rec.Size;
    f.Time = rec.Time;
    f.Dangling = rec.Kind == ekLink;
    FOnFound(std::move(f));
  }

  std::uint32_t FAttr;
  const TZECollectSettings& FSettings;
  std::vector<TFileId> FArchiveIds;
  const TZEFoundSink& FOnFound;
  const TZEListingFailure& FOnFailure;
  std::vector<TFileId> FStack;
  TSiblingNames FNames;
  bool FAborted = false;
};

}  // namespace

void CollectFilesInto(StringView fileMask, std::uint32_t searchAttr, const TZECollectSettings& settings,
                      const TZEFoundSink& onFound, const TZEListingFailure& onFailure, bool* aborted) {
  if (aborted != nullptr) *aborted = false;
  String mask = SlashedPath(fileMask);
  String dir = ExcludeTrailingPathDelimiter(settings.BaseDir);
  if (IsPlacedMask(mask)) {
    // A mask with its own directory is searched there, so that recursion
    // walks below that directory rather than repeating it.
    dir = ExcludeTrailingPathDelimiter(ExpandFileName(ExtractFilePath(mask), settings.BaseDir));
    mask = ExtractFileName(mask);
  } else if (mask.starts_with(u"./")) {
    mask.erase(0, 2);
  }
  if (mask.empty()) return;
  Collector collector(searchAttr, settings, onFound, onFailure);
  collector.SearchDirectory(dir, mask, settings.Recurse);
  if (aborted != nullptr) *aborted = collector.Aborted();
}

std::vector<TZEFoundFile> CollectFiles(StringView fileMask, std::uint32_t searchAttr,
                                       const TZECollectSettings& settings, const TZEListingFailure& onFailure,
                                       bool* aborted) {
  std::vector<TZEFoundFile> found;
  bool stopped = false;
  CollectFilesInto(fileMask, searchAttr, settings, [&](TZEFoundFile&& f) { found.push_back(std::move(f)); },
                   onFailure, &stopped);
  if (aborted != nullptr) *aborted = stopped;
  return stopped ? std::vector<TZEFoundFile>{} : found;
}

bool IsTakenAsFile(const TSearchRec& rec, std::uint32_t searchAttr) {
  // Only what holds content is stored as a file: a regular file, or a link
  // that leads nowhere (it fails when it is read, and so is reported). A
  // named pipe would wait for a writer forever. The kind decides this, not
  // an attribute bit: the archive bit says nothing about it on Windows.
  if (rec.Kind != ekFile && rec.Kind != ekLink) return false;
  const std::uint32_t filter = searchAttr & ~faDirectory;
  // The bits that leave an object out unless the filter asks for them, as
  // the listing itself applies them.
  const std::uint32_t excluded = ~filter & (faHidden | faSysFile | faVolumeID | faDirectory);
  if (rec.Attr & excluded) return false;
  // Objects without any attribute bit are taken only by a filter that asks
  // for every kind of ordinary file.
  constexpr std::uint32_t kPlainFilter = faArchive | faReadOnly | faHidden | faSysFile;
  return (rec.Attr & filter) != 0 || (rec.Attr == 0 && (filter & kPlainFilter) == kPlainFilter);
}

String ResolveBaseDir(StringView baseDir) {
  if (baseDir.empty()) return IncludeTrailingPathDelimiter(GetCurrentDir());
  return IncludeTrailingPathDelimiter(ExpandFileName(baseDir));
}

String RemoveDrivePart(StringView path) {
  String p(path);
  auto isLetter = [](char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); };
  // "X:" counts as a drive only before a separator or at the end: on this
  // platform "a:b.txt" is an ordinary file name.
  if (p.size() >= 2 && isLetter(p[0]) && p[1] == u':' && (p.size() == 2 || IsPathSeparator(p[2]))) {
    p.erase(0, 2);
  } else if (p.size() >= 2 && IsPathSeparator(p[0]) && IsPathSeparator(p[1])) {
    size_t i = 2;
    while (i < p.size() && IsPathSeparator(p[i])) ++i;
    while (i < p.size() && !IsPathSeparator(p[i])) ++i;  // the server
    if (i < p.size()) ++i;                           // and its separator
    p.erase(0, i);
  }
  if (!p.empty() && IsPathSeparator(p[0])) p.erase(0, 1);
  return p;
}

String StoredNameOf(StringView fullPath, StringView baseDir, TZEStorePathMode mode) {
  String full = ExpandFileName(fullPath, baseDir);
  if (full.size() > 1 && IsPathSeparator(full.back())) full.pop_back();
  if (full.size() > 1 && full.back() == u'.') full.pop_back();
  String name;
  switch (mode) {
    case spNoPath:
      name = ExtractFileName(full);
      break;
    case spRelativePath:
      name = RelativePath(baseDir, full);
      if (name.find(u"../") != String::npos || name.starts_with(u"..")) name = full;
      break;
    case spFullPath:
      name = full;
      break;
    case spFullPathWithDrive:
      name = ExpandFileName(full);
      break;
  }
  if (mode != spFullPathWithDrive) name = RemoveDrivePart(name);
  return SlashedPath(name);
}

bool IsExcludedBy(StringView fullPath, StringView mask, StringView currentDir) {
  String m = SlashedPath(mask);
  if (m.empty()) return false;
  if (m.find(u'/') == String::npos) return MatchesMask(ExtractFileName(fullPath), m);
  if (m[0] != u'/') m = ExpandFileName(m, currentDir);
  const String maskDir = ExtractFilePath(m);
  const String candidateDir = ExtractFilePath(fullPath);
  if (SameTextAscii(maskDir, candidateDir)) return MatchesMask(fullPath, m);
  return ExtractFileName(m) == u"*.*" && StartsWithAscii(candidateDir, maskDir);
}

std::mutex& CollectionLock() {
  static std::mutex lock;
  return lock;
}

}  // namespace zo

namespace zo {

void TZEBaseArchiver::AddFiles(const String& FileMask, std::uint32_t SearchAttr, const String& ExclusionMask) {
  CheckActive();
  TZECollectSettings settings;
  if (!ExclusionMask.empty()) settings.ExclusionMasks.push_back(ExclusionMask);
  // The archive itself is never collected, wherever it lies: neither the file
  // it replaces nor the new one being built.
  if (FOwnedStream && !FFileName.empty()) {
    settings.ArchivePaths.push_back(ExpandFileName(FFileName));
    if (FReplacement) settings.ArchivePaths.push_back(FReplacement->WritePath());
  }
  settings.StorePath = Options.StorePath;
  settings.Recurse = Options.Recurse;
  // A directory that cannot be listed is a source that cannot be read, and
  // is decided on like one: its content must not go missing in silence.
  const TZEListingFailure onListingFailure = [this](const String& directory, int) {
    return ProcessFileFailure(directory, poAdd, EZEException(kZENativeCannotOpenSource, {directory}, this));
  };

  BeginUpdate();
  try {
    {
      std::lock_guard<std::mutex> lock(CollectionLock());
      settings.BaseDir = ResolveBaseDir(FBaseDir);
      FCurrentDir = settings.BaseDir;
      // Each object is registered as the search finds it, so that no list
      // of the whole tree is held beside the entries made from it. An
      // aborted search takes back what it registered.
      const TZEFoundSink registerFound = [&](TZEFoundFile&& found) {
        if (!found.IsDirectory && !ConfirmProcessFile(found.FullPath, poAdd)) return;
        // What the listing read is used as it stands. A dangling link has
        // no attributes or time of its own: it goes in as a system object
        // stamped now, and fails when it is read.
        const std::uint32_t attr = found.Dangling ? faSysFile : found.Attr;
        const std::optional<TLocalTime> time =
            found.IsDirectory || found.Dangling ? std::nullopt : std::optional<TLocalTime>(found.Time);
        const std::uint32_t stamp = LocalTimeToDos(time ? *time : NowLocalTime());
        const int index = RegisterItem(std::move(found.StoredName), found.FullPath, attr, stamp, found.IsDirectory);
        if (index >= 0 && found.Size >= static_cast<std::int64_t>(kZip64Marker32)) FDir.CDir[index].bHugeFile = true;
      };
      bool aborted = false;
      CollectFilesInto(FileMask, SearchAttr, settings, registerFound, onListingFailure, &aborted);
      if (aborted) {
        FCurrentDir.clear();
        CancelUpdate();
        return;
      }
      FCurrentDir.clear();
    }
    EndUpdate();
  } catch (...) {
    FCurrentDir.clear();
    CancelUpdate();
    throw;
  }
}

}  // namespace zo
