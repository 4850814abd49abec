// Entry names for objects found on disk that never merge.
//
// A file name whose bytes are not UTF-8 goes into the archive as it reads in
// Windows-1252, the code page such names were usually written in. Read that
// way it can take the name of a sibling: "caf\xE9.txt" reads as "café.txt",
// and a UTF-8 "café.txt" may lie beside it. Both must become entries, so of
// siblings that read alike only a name that is UTF-8 on disk keeps the
// reading; the others show their foreign bytes as "%XX" ("caf%E9.txt"), and
// everything below a directory renamed so goes under the new name too.
#pragma once

#include <unordered_map>
#include <vector>

#include "core/String.h"
#include "platform/FileSystem.h"

namespace zo {

class TSiblingNames {
 public:
  // Notes what one directory holds (dir without a trailing separator): the
  // objects of one or two listings of it, all names as they are on disk.
  void NoteDirectory(const String& dir, const std::vector<TSearchRec>& listing,
                     const std::vector<TSearchRec>& moreListing = {});

  // The entry name for storedName, the name of the object at fullPath as
  // StoredNameOf gives it (bytes that were not UTF-8 still escaped): each
  // element reads as Windows-1252, unless it was renamed to stay apart.
  String EntryName(const String& storedName, const String& fullPath) const;

 private:
  // Full path of a renamed object -> its last element as stored.
  std::unordered_map<String, String> FRenamed;
};

}  // namespace zo
