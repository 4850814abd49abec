// The upgrade tool's program entry on Windows: a window program (no console).
#include <windows.h>

#include <shellapi.h>

#include <vector>

#include "core/StartupValues.h"
#include "platform/Environment.h"
#include "upliner/win32/ReinstallWindow.h"
#include "upliner/win32/Win32Dialogs.h"
#include "upliner/win32/WideText.h"

namespace {

// The tool's own switches, without its name; read by the C runtime's rules,
// which are the rules an installer quotes them by.
std::vector<zo::String> Arguments() {
  std::vector<zo::String> args;
  int count = 0;
  LPWSTR* items = CommandLineToArgvW(GetCommandLineW(), &count);
  if (items == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(zo::FromWide(items[i]));
  LocalFree(items);
  return args;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // The core library's start-up values are fixed before anything reads them.
  (void)zo::ComputerName();
  zo::TWin32FormDialogs dialogs;
  return zo::RunUpliner(Arguments(), zo::ExecutableDirectory(), dialogs);
}
