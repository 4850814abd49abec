// Finding entries in the directory by mask, exclusion mask and attribute
// filter (FindFirst, FindNext), as a listing on disk finds files.

#include <algorithm>

#include "core/StringUtils.h"
#include "platform/FileSystem.h"
#include "zip/ZipCollect.h"
#include "zip/ZipEngine.h"
#include "zip/ZipReadSupport.h"

namespace zo {

bool HasWildcards(StringView mask) { return mask.find_first_of(u"*?") != StringView::npos; }

namespace {

bool ItemMatches(const TDirItem& item, const TInternalSearchRec& handle) {
  String name = item.Name;
  if (!name.empty() && name.back() == u'/') name.pop_back();
  const String last = ExtractFileName(name);
  if (!MatchesMask(name, handle.FileMask) && !MatchesMask(last, handle.FileMask)) return false;
  if (!handle.ExclusionMask.empty() &&
      (MatchesMask(name, handle.ExclusionMask) || MatchesMask(last, handle.ExclusionMask))) {
    return false;
  }
  return true;
}

// The search's attribute filter, as a listing on disk applies it.
bool ItemPassesAttrFilter(const TDirItem& item, std::uint32_t searchAttr) {
  std::uint32_t attr = item.externalAttr & 0xFF;
  if (item.IsDirectory()) attr |= faDirectory;
  return PassesAttrFilter(attr, searchAttr);
}

void FillItem(const TDirItem& entry, TZEArchiveItem& item) {
  String name = entry.Name;
  if (!name.empty() && name.back() == u'/') name.pop_back();
  item.FileName = ExtractFileName(name);
  String path = ExtractFilePath(name);
  std::replace(path.begin(), path.end(), u'/', u'\\');
  item.StoredPath = path;
  item.CompressedSize = static_cast<std::int64_t>(entry.CompressedSize());
  item.UncompressedSize = static_cast<std::int64_t>(entry.UncompressedSize());
  if (item.UncompressedSize == 0) {
    item.CompressionRate = 100;
  } else {
    item.CompressionRate = (1.0 - static_cast<double>(item.CompressedSize) / static_cast<double>(item.UncompressedSize)) * 100;
    if (item.CompressionRate < 0) item.CompressionRate = 0;
  }
  item.Encrypted = (entry.genPurposeFlag & kZipFlagEncrypted) != 0;
  item.LastModFileDate = entry.lastModDate;
  item.LastModFileTime = entry.lastModTime;
  item.CRC = entry.crc32;
  item.ExternalFileAttributes = entry.externalAttr;
  item.Comment = entry.Comment();
}

// Searches from the handle's position on; fills Item with the first match.
bool FindFrom(const TZEDirArray& items, const TZEOptions& Options, TZEArchiveItem& Item) {
  TInternalSearchRec& h = Item.Handle;
  if (h.ItemNo < 0) return false;
  if (!h.Wildcards && !Options.Recurse) {
    // One name: the index answers directly. Entries before the handle's
    // position were already reported.
    const int index = items.IndexOf(h.FileMask);
    if (index < h.ItemNo || !ItemPassesAttrFilter(items[index], h.FFindAttr)) return false;
    h.ItemNo = index;
    FillItem(items[index], Item);
    return true;
  }
  const String maskDir = ExtractFilePath(h.FileMask);
  for (int i = h.ItemNo; i < items.Count(); ++i) {
    const TDirItem& entry = items[i];
    if (!Options.Recurse) {
      String name = entry.Name;
      if (!name.empty() && name.back() == u'/') name.pop_back();
      if (!SameTextAscii(ExtractFilePath(name), maskDir)) continue;
    }
    if (!ItemMatches(entry, h) || !ItemPassesAttrFilter(entry, h.FFindAttr)) continue;
    h.ItemNo = i;
    FillItem(entry, Item);
    return true;
  }
  h.ItemNo = items.Count();
  return false;
}

}  // namespace

bool TZEBaseArchiver::FindFirst(const String& FileMask, TZEArchiveItem& Item, const String& ExclusionMask,
                                std::uint32_t SearchAttr) {
  CheckActive();
  TInternalSearchRec& h = Item.Handle;
  h = TInternalSearchRec{};
  h.FileMask = SlashedPath(Options.StorePath == spFullPathWithDrive ? FileMask : RemoveDrivePart(FileMask));
  h.Wildcards = HasWildcards(h.FileMask);
  h.FFindAttr = SearchAttr;
  h.ExclusionMask = SlashedPath(ExclusionMask);
  h.ItemNo = 0;
  return FindFrom(FDir.CDir, Options, Item);
}

bool TZEBaseArchiver::FindNext(TZEArchiveItem& Item) {
  CheckActive();
  ++Item.Handle.ItemNo;
  return FindFrom(FDir.CDir, Options, Item);
}

}  // namespace zo
