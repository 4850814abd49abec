// The upgrade tool's command line: at most one action switch ("-li", "-ad",
// "-ea", ...) choosing the window's mode, and "-n<left>;<top>" for a window
// started by an installer.
#pragma once

#include <cstdint>
#include <vector>

#include "core/ActionSet.h"
#include "core/String.h"

namespace zo {

// The window's mode; which action button it offers.
enum class TRReinstallAction : std::uint8_t {
  rraReinstall = 0,
  rraAlterLangs = 1,
  rraAlterArchive = 2,
  rraAlterExternalDB = 3,
};
using enum TRReinstallAction;

// What the command line chose.
struct TStartParameters {
  TRReinstallAction ReinstallAction = rraReinstall;
  TMTSActionType LangActions;
  TMTSActionType ArchiveActions;
  TMTSActionType ExtDBActions;
  bool InnosetupForm = false;  // "-n" given: banner shown, window positioned
  int Left = 0;                // window position from the last "-n"
  int Top = 0;
};

// Reads Args (the program's arguments, its own name excluded) from first to
// last into Params. The first bad argument raises an error whose message is
// what the user is shown; later arguments are not looked at.
void ReadCommandLine(const std::vector<String>& Args, TStartParameters& Params);

}  // namespace zo
