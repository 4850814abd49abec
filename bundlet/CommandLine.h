// The command line of the console zip tool: its grammar, its checks and the
// messages for a wrong one.
//
//   -Aza                  pack the directory of the one -D argument
//   -Azp                  pack the parts given by one or more -D arguments
//   -Aua                  unpack the archive into the directory of the one -D
//   -D<directory>         for -Aza and -Aua
//   -D<base>\\<part>      for -Azp: part is relative to base; it names a file
//                         when it holds a '.', a subdirectory otherwise
//   -Z<archive>           the archive file
//
// Arguments are read in order and the first wrong one ends the run. An action
// must come before the -D arguments it governs; a later action or -Z replaces
// an earlier one.
#pragma once

#include <vector>

#include "core/String.h"
#include "core/StringList.h"

namespace zo {

// The three actions, by the two letters after "-A".
inline constexpr char16_t kBundletPackAll[] = u"za";
inline constexpr char16_t kBundletPackParts[] = u"zp";
inline constexpr char16_t kBundletUnpack[] = u"ua";

// What one run is asked to do.
struct TBundletCommand {
  String Action;       // empty, "za", "zp" or "ua"
  String ArchivePath;
  // The -D arguments in command-line order: for "zp" base directory (name)
  // and part path (value), for the others the directory as a name only.
  TVStringList Directories;
};

// Reads the arguments (without the program's own name) into Command. A wrong
// argument raises Exception("Incorrect parameter <argument>").
void ParseBundletArguments(const std::vector<String>& Arguments, TBundletCommand& Command);

// The checks made after parsing and before any file is touched, so that a
// wrong command line never empties an existing archive:
// "Incorrect number of parameters." and "Incorrect number of -D parameters ".
void CheckBundletCommand(const TBundletCommand& Command);

}  // namespace zo
