#include "upliner/win32/Win32Dialogs.h"

#include <commdlg.h>

#include "upliner/win32/DirDialog.h"
#include "upliner/win32/WideText.h"

namespace zo {

namespace {

constexpr wchar_t kTitle[] = L"Upliner";

// The system's messages break lines with CR LF already; a lone LF is made
// CR LF so that every box shows the same line breaks.
std::wstring MessageText(const String& Text) {
  std::wstring text;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (Text[i] == u'\n' && (i == 0 || Text[i - 1] != u'\r')) text += L'\r';
    text += static_cast<wchar_t>(Text[i]);
  }
  return text;
}

UINT IconFlags(TMessageIcon Icon) {
  switch (Icon) {
    case miInformation: return MB_ICONINFORMATION;
    case miQuestion: return MB_ICONQUESTION;
    case miWarning: return MB_ICONWARNING;
    case miError: return MB_ICONERROR;
    default: return 0;
  }
}

}  // namespace

std::wstring ToWin32Filter(StringView Filter) {
  std::wstring filter = ToWide(Filter);
  for (wchar_t& c : filter)
    if (c == L'|') c = L'\0';
  filter.push_back(L'\0');
  filter.push_back(L'\0');
  return filter;
}

HWND TWin32FormDialogs::Owner() const {
  // While the window is hidden for the upgrade program a box has no owner:
  // owned by a hidden window it would not appear on the task bar.
  return FOwner != nullptr && IsWindowVisible(FOwner) ? FOwner : nullptr;
}

void TWin32FormDialogs::ShowMessage(const String& Text) {
  MessageBoxW(Owner(), MessageText(Text).c_str(), kTitle, MB_OK | MB_TASKMODAL);
}

void TWin32FormDialogs::ShowError(const String& Text) {
  MessageBoxW(Owner(), MessageText(Text).c_str(), kTitle, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}

bool TWin32FormDialogs::AskYesNo(const String& Text, const String& Caption, TMessageIcon Icon) {
  return MessageBoxW(Owner(), MessageText(Text).c_str(), ToWide(Caption).c_str(),
                     MB_YESNO | IconFlags(Icon) | MB_TASKMODAL) == IDYES;
}

std::optional<String> TWin32FormDialogs::AskSaveFileName(const String& DefaultExt, const String& Filter) {
  const std::wstring filter = ToWin32Filter(Filter);
  const std::wstring extension = ToWide(DefaultExt);
  std::wstring fileName(32768, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof(dialog);
  dialog.hwndOwner = Owner();
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = fileName.data();
  dialog.nMaxFile = static_cast<DWORD>(fileName.size());
  dialog.lpstrDefExt = extension.c_str();
  // The report replaces an existing file without a question; the current
  // directory of the process stays where it was.
  dialog.Flags = OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_EXPLORER;
  if (!GetSaveFileNameW(&dialog)) return std::nullopt;
  fileName.resize(fileName.find(L'\0'));
  return FromWide(fileName);
}

std::optional<String> TWin32FormDialogs::ChooseDirectory(const String& InitialDir) {
  return TIDirDialog::Choose(Owner(), InitialDir);
}

}  // namespace zo
