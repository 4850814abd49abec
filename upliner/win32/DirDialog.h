// TIDirDialog: the modal picker in which the user chooses a directory for
// the archive and external-database actions: a folder tree of every drive.
#pragma once

#include <windows.h>

#include <optional>

#include "core/String.h"

namespace zo {

class TIDirDialog {
 public:
  // Opens at InitialDir when that names a directory. Returns the chosen
  // directory after Ok, nothing after Cancel, Esc or the close box.
  static std::optional<String> Choose(HWND Owner, const String& InitialDir);
};

}  // namespace zo
