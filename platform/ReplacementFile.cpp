// The states of a replacement, the same on every system: a stand-in beside
// the target (or, where nothing can be made there, in the temporary
// directory), then either moved into the target's place or copied over it,
// or removed. What each step does on the disk is the system's
// (platform/StandIn.h and the private members of TReplacementFile).
#include "platform/ReplacementFile.h"

#include "platform/StandIn.h"
#include "platform/TempFile.h"

namespace zo {

int TReplacementFile::Begin(const std::u16string& target) {
  Abandon();
  if (const int error = TakeTarget(target)) return error;

  const TStandInPlace beside = StandInBeside(FTarget);
  const TStandInPlace apart{TempDirectory() + u"/", beside.Name};
  RemoveLeftoverStandIns(beside);
  RemoveLeftoverStandIns(apart);
  std::u16string standIn;
  int error = CreateStandIn(beside, FLock, standIn);
  FInPlace = error != 0;
  if (FInPlace) {
    // Nothing can be made beside it. A file that is not there yet could not
    // be made either; one that is there is copied over in the end.
    if (!FTargetExisted) return error;
    error = CreateStandIn(apart, FLock, standIn);
    if (error != 0) return error;
  }
  FWritePath = standIn;
  FActive = true;
  return 0;
}

int TReplacementFile::Commit() {
  if (!FActive) return 0;
  if (FInPlace) {
    const int error = CopyOverTarget();
    Abandon();
    return error;
  }
  if (const int error = MoveIntoPlace()) {
    Abandon();
    return error;
  }
  Release();
  return 0;
}

void TReplacementFile::Abandon() {
  if (!FActive) return;
  RemoveStandIn();
  Release();
}

void TReplacementFile::Release() {
  FLock.Reset();
  FActive = false;
}

}  // namespace zo
