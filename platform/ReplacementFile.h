// A new version of a file, built apart from it and put in its place only
// when it is complete.
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
// read-only directory), the stand-in is built in the temporary directory
// instead, and Commit copies it over the target. The copy is all or nothing
// too: before the target is touched, its old bytes go into a journal in the
// temporary directory, flushed to the disk, which names the target; the
// journal goes only once the new bytes are complete and flushed. A run that
// is killed during the copy leaves the journal, and the next run for the
// same target (RestoreInterruptedCopy) puts the old bytes back before it does
// anything else. The journal is locked while its run lives, so a copy still
// going on is never undone.
//
// The target is what the caller named: a symbolic link (or a chain of them)
// is followed, whether its target exists or not, so the file it names is
// replaced and the link stays. A directory, a named pipe, a socket or a
// device there is refused and left as it is.
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

  // Prepares the replacement of target. Returns 0, or the errno that
  // creating target itself would meet now: a directory sits there (EISDIR),
  // something that is not a file (ENOTSUP), a chain of links that does not
  // end (ELOOP), or the file may not be written. The caller reports that as
  // its own failure to create target. A journal that a killed run left for
  // target is played back first.
  int Begin(const std::u16string& target);

  // The file to write: the stand-in, beside the target or in the temporary
  // directory.
  const std::u16string& WritePath() const { return FWritePath; }
  // True when Commit copies the stand-in over the target rather than
  // renaming it.
  bool InPlace() const { return FInPlace; }

  // Puts the stand-in in the target's place: flushed to the disk first, with
  // the permissions (and, where allowed, the owner) of the file it replaces,
  // or those of a newly created file; or, in place, copied over the target
  // under a journal. Returns 0 or the errno; on failure the stand-in is gone
  // and the target is as it was.
  int Commit();

  // Drops the new version: the stand-in is removed. Safe to call twice.
  void Abandon();

 private:
  void Release();

  // The system's steps (posix/, win32/ReplacementFile.cpp).
  // Resolves target into FTarget and learns what the replacement keeps of
  // it; returns what Begin refuses with, after playing back a journal.
  int TakeTarget(const std::u16string& target);
  // The stand-in, flushed and given the target's permissions (or those of a
  // new file), renamed over the target. 0 or the errno.
  int MoveIntoPlace();
  // The copy in place under a journal. 0 or the errno.
  int CopyOverTarget();
  // Removes the stand-in (FWritePath).
  void RemoveStandIn();

  std::u16string FTarget;      // the file to replace, links resolved
  std::u16string FWritePath;
  bool FInPlace = false;
  bool FTargetExisted = false;
  unsigned FMode = 0;          // permissions (attributes on Windows) of the replaced file
  unsigned FOwner = 0, FGroup = 0;
  TDescriptor FLock;           // open on the stand-in, holding its lock
  bool FActive = false;
};

// Puts back the old bytes of target when a run was killed while it copied a
// new version over it in place (its journal is still there, and no living
// run holds it). Every run that opens target calls it first; it does nothing
// when there is nothing to put back, or when it cannot.
void RestoreInterruptedCopy(const std::u16string& target);

}  // namespace zo
