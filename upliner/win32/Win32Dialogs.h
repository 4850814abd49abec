// The upgrade window's modal boxes as Windows shows them: MessageBoxW, the
// common save dialog and the directory picker window.
#pragma once

#include <windows.h>

#include "upliner/Dialogs.h"

namespace zo {

class TWin32FormDialogs : public IFormDialogs {
 public:
  // The window the boxes belong to while it is shown; nullptr before it
  // exists and while it is hidden for the upgrade program.
  void SetOwner(HWND Owner) { FOwner = Owner; }

  void ShowMessage(const String& Text) override;
  void ShowError(const String& Text) override;
  bool AskYesNo(const String& Text, const String& Caption, TMessageIcon Icon) override;
  std::optional<String> AskSaveFileName(const String& DefaultExt, const String& Filter) override;
  std::optional<String> ChooseDirectory(const String& InitialDir) override;

 private:
  HWND Owner() const;
  HWND FOwner = nullptr;
};

// "Text files|*.txt|All|*.*" as the common dialogs want it: pairs separated
// by NUL characters, the list ended by a second NUL.
std::wstring ToWin32Filter(StringView Filter);

}  // namespace zo
