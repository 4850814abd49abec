// The entry point of a console program, the same on every system.
//
// The system's own entry (main with bytes on POSIX, wmain with UTF-16 on
// Windows) lives in platform/ (target zo_platform_entry) and hands the
// arguments over as UTF-16 text, so a program's code never sees how the
// system passed them. A program defines ProgramMain and links
// zo_platform_entry.
#pragma once

#include <string>
#include <vector>

// The arguments after the program's name; the result is the exit code.
int ProgramMain(const std::vector<std::u16string>& arguments);

namespace zo {

// The command line as an upgrade program reads it, the program's path
// first: on Windows the process's own command line split by
// SplitProgramCommandLine (platform/Process.h), since the C runtime's
// splitting reads the backslash that ends a quoted folder as an escaped
// quote; on POSIX the program's name and arguments as the system passed
// them. Valid once ProgramMain runs.
std::vector<std::u16string> UpgradeProgramCommandLine();

}  // namespace zo
