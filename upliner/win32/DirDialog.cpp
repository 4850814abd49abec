#include "upliner/win32/DirDialog.h"

#include <shlobj.h>

#include "upliner/win32/WideText.h"

namespace zo {

namespace {

// Selects the starting directory once the picker's tree exists.
int CALLBACK BrowseCallback(HWND Dialog, UINT Message, LPARAM, LPARAM Data) {
  if (Message == BFFM_INITIALIZED && Data != 0) SendMessageW(Dialog, BFFM_SETSELECTIONW, TRUE, Data);
  return 0;
}

// Frees what the shell allocated for an item list.
struct TItemList {
  PIDLIST_ABSOLUTE Items = nullptr;
  ~TItemList() {
    if (Items != nullptr) CoTaskMemFree(Items);
  }
};

}  // namespace

std::optional<String> TIDirDialog::Choose(HWND Owner, const String& InitialDir) {
  const std::wstring initial = ToWide(InitialDir);
  const DWORD attributes = initial.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(initial.c_str());
  const bool startThere = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;

  BROWSEINFOW browse{};
  browse.hwndOwner = Owner;
  browse.lpszTitle = L"Choosing Directory";
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_NONEWFOLDERBUTTON;
  browse.lpfn = BrowseCallback;
  browse.lParam = startThere ? reinterpret_cast<LPARAM>(initial.c_str()) : 0;
  TItemList chosen{SHBrowseForFolderW(&browse)};
  if (chosen.Items == nullptr) return std::nullopt;
  std::wstring path(MAX_PATH * 4, L'\0');
  if (!SHGetPathFromIDListEx(chosen.Items, path.data(), static_cast<DWORD>(path.size()), GPFIDL_DEFAULT))
    return std::nullopt;
  path.resize(path.find(L'\0'));
  return FromWide(path);
}

}  // namespace zo
