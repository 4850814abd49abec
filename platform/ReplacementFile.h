// A new version of a file, built beside it and moved into its place in one
// step only when it is complete.
//
// Writing a file in place loses its old content the moment it is emptied: a
// run that then fails, is aborted or is killed leaves neither version. So the
// new content goes into a stand-in in the same directory (a rename within one
// directory is atomic), which takes the old file's place only on Commit.
// Until then the old file is untouched. A stand-in holds a lock while its
// writer lives; one left behind by a killed run is removed by the next run
// for the same target, and one still being written is never taken for a
// leftover.
//
// Where nothing can be created beside the target (a writable file in a
// read-only directory), the target itself is written, as before; that is the
// one case in which a failure cannot leave the old content.
//
//   TReplacementFile replacement;
//   if (int error = replacement.Begin(u"/data/a.zip")) ... report error for the target
//   write replacement.WritePath() ...
//   if (int error = replacement.Commit()) ... report; the old file is still there
#pragma once

#include <string>

#include "platform/Descriptor.h"

namespace zo {

class TReplacementFile {
 public:
  TReplacementFile() = default;
  ~TReplacementFile() { Abandon(); }
  TReplacementFile(const TReplacementFile&) = delete;
  TReplacementFile& operator=(const TReplacementFile&) = delete;

  // Prepares the replacement of target (a symbolic link is followed, so the
  // file it names is replaced and the link stays). Returns 0, or the errno
  // that creating target itself would meet now: a directory sits there, or
  // the file may not be written. The caller reports that as its own failure
  // to create target.
  int Begin(const std::u16string& target);

  // The file to write: the stand-in, or the target itself when nothing could
  // be created beside it.
  const std::u16string& WritePath() const { return FWritePath; }
  bool InPlace() const { return FInPlace; }

  // Puts the stand-in in the target's place: flushed to the disk first, with
  // the permissions (and, where allowed, the owner) of the file it replaces,
  // or those of a newly created file. Returns 0 or the errno; on failure the
  // stand-in is gone and the target is as it was.
  int Commit();

  // Drops the new version: the stand-in is removed, or, when the target was
  // written in place and did not exist before, the target. Safe to call twice.
  void Abandon();

 private:
  void Release();

  std::u16string FTarget;      // the file to replace, links resolved
  std::u16string FWritePath;
  bool FInPlace = false;
  bool FTargetExisted = false;
  unsigned FMode = 0;          // permissions (attributes on Windows) of the replaced file
  unsigned FOwner = 0, FGroup = 0;
  TDescriptor FLock;           // open on the stand-in, holding its lock
  bool FActive = false;
};

}  // namespace zo
