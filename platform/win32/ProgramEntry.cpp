#include "platform/ProgramEntry.h"

#include "platform/Process.h"
#include "platform/win32/Win32.h"

// Built with -municode: the C runtime calls wmain with the arguments as
// UTF-16, so names outside the ANSI code page arrive whole.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(zo::FromWide(argv[i]));
  return ProgramMain(arguments);
}

std::vector<std::u16string> zo::UpgradeProgramCommandLine() {
  return SplitProgramCommandLine(FromWide(::GetCommandLineW()));
}
