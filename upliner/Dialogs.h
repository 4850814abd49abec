// Everything modal the upgrade window shows: message boxes, the save-file
// dialog and the directory picker.
//
// The window's rules reach the user only through this interface. The Qt
// program implements it with real dialogs; tests implement it with scripted
// answers and keep a record of what was shown.
#pragma once

#include <cstdint>
#include <optional>

#include "core/String.h"

namespace zo {

enum class TMessageIcon : std::uint8_t { miNone, miInformation, miQuestion, miWarning, miError };
using enum TMessageIcon;

// The caption of the questions that confirm a change to the database.
inline constexpr char16_t kSQuestionCaption[] = u"Question";

class IFormDialogs {
 public:
  virtual ~IFormDialogs() = default;

  // A message box with an OK button: how the window reports the errors it
  // catches itself.
  virtual void ShowMessage(const String& Text) = 0;

  // The standard error box: how errors that escape a handler are shown.
  virtual void ShowError(const String& Text) = 0;

  // A question with the buttons Yes and No; true when the answer is Yes.
  virtual bool AskYesNo(const String& Text, const String& Caption, TMessageIcon Icon) = 0;

  // The save-file dialog. Returns the file name the user confirmed, or
  // nothing when the dialog was cancelled. An existing file is not
  // questioned: the caller replaces it.
  virtual std::optional<String> AskSaveFileName(const String& DefaultExt, const String& Filter) = 0;

  // The directory picker (TIDirDialog), opened at InitialDir when that names
  // a directory. Returns the chosen directory after Ok, nothing after Cancel.
  virtual std::optional<String> ChooseDirectory(const String& InitialDir) = 0;
};

}  // namespace zo
