// The system's side of TReplacementFile (platform/ReplacementFile.h): where a
// target's stand-ins lie and how one is made and cleared away. The states of
// a replacement run once, in platform/ReplacementFile.cpp; each system's body
// gives these calls (and the private members the class names as its
// system's). Not for callers outside this folder.
#pragma once

#include <string>

#include "platform/Descriptor.h"

namespace zo {

// A directory (with its trailing separator) and the name of the file whose
// stand-ins lie there.
struct TStandInPlace {
  std::u16string Dir;
  std::u16string Name;
};

// The target's own directory and name.
TStandInPlace StandInBeside(const std::u16string& target);

// Removes the stand-ins for place.Name in place.Dir that no living run
// holds: those of runs killed before they could finish or clean up.
void RemoveLeftoverStandIns(const TStandInPlace& place);

// Makes a new stand-in for place.Name in place.Dir, held in lock, which
// marks it alive while its writer lives. 0 and its path, or the errno.
int CreateStandIn(const TStandInPlace& place, TDescriptor& lock, std::u16string& path);

}  // namespace zo
