#include "upliner/win32/DirDialog.h"

#include <vector>

#include "upliner/win32/WideText.h"
#include "upliner/win32/WindowProcedure.h"

namespace zo {

namespace {

constexpr wchar_t kDialogClass[] = L"TIDirDialog";
constexpr DWORD kDialogStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
constexpr DWORD kDialogExStyle = WS_EX_DLGMODALFRAME;
constexpr int kClientWidth = 201;
constexpr int kClientHeight = 288;
constexpr int kDriveListHeight = 160;  // the drive list's field and its open list
constexpr int kDriveListId = 100;
constexpr int kTreeId = 101;

// A tree item whose folders have not been read yet holds one child of this
// text, so that the tree offers to open it.
constexpr wchar_t kUnread[] = L"\x1";

std::wstring WithSlash(std::wstring Path) {
  if (!Path.empty() && Path.back() != L'\\') Path += L'\\';
  return Path;
}

bool IsDirectory(const std::wstring& Path) {
  const DWORD attributes = GetFileAttributesW(Path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The folders directly below Path, in the order the file system lists them,
// without "." and "..".
std::vector<std::wstring> FoldersIn(const std::wstring& Path) {
  std::vector<std::wstring> folders;
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileExW((WithSlash(Path) + L"*").c_str(), FindExInfoBasic, &found,
                                         FindExSearchLimitToDirectories, nullptr, 0);
  if (search == INVALID_HANDLE_VALUE) return folders;
  do {
    const std::wstring name = found.cFileName;
    if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && name != L"." && name != L"..")
      folders.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return folders;
}

std::wstring ItemText(HWND Tree, HTREEITEM Item) {
  wchar_t text[MAX_PATH] = {};
  TVITEMW item{};
  item.mask = TVIF_TEXT;
  item.hItem = Item;
  item.pszText = text;
  item.cchTextMax = MAX_PATH;
  TreeView_GetItem(Tree, &item);
  return text;
}

HTREEITEM ChildNamed(HWND Tree, HTREEITEM Parent, const std::wstring& Name) {
  for (HTREEITEM child = Parent == TVI_ROOT ? TreeView_GetRoot(Tree) : TreeView_GetChild(Tree, Parent);
       child != nullptr; child = TreeView_GetNextSibling(Tree, child))
    if (_wcsicmp(ItemText(Tree, child).c_str(), Name.c_str()) == 0) return child;
  return nullptr;
}

}  // namespace

TIDirDialog::TIDirDialog(HWND Owner) : FOwner(Owner) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(instance, kDialogClass, WindowProc);

  const INITCOMMONCONTROLSEX controls{sizeof(INITCOMMONCONTROLSEX), ICC_TREEVIEW_CLASSES};
  InitCommonControlsEx(&controls);
  CreateWindowExW(kDialogExStyle, kDialogClass, L"Choosing Directory", kDialogStyle, CW_USEDEFAULT, CW_USEDEFAULT,
                  CW_USEDEFAULT, CW_USEDEFAULT, Owner, nullptr, instance, this);
  FDpi = GetDpiForWindow(FHandle);
  RECT frame{0, 0, Scaled(kClientWidth), Scaled(kClientHeight)};
  AdjustWindowRectExForDpi(&frame, kDialogStyle, FALSE, kDialogExStyle, FDpi);
  // Centred on the owner, or on the screen while the owner is hidden.
  RECT area{};
  if (Owner != nullptr && IsWindowVisible(Owner)) {
    GetWindowRect(Owner, &area);
  } else {
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
  }
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(FHandle, nullptr, area.left + (area.right - area.left - width) / 2,
               area.top + (area.bottom - area.top - height) / 2, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
  CreateControls();

  // Like a directory list, the tree starts at the working directory.
  std::wstring current(MAX_PATH * 4, L'\0');
  current.resize(GetCurrentDirectoryW(static_cast<DWORD>(current.size()), current.data()));
  if (!SetDirectory(FromWide(current))) {
    SendMessageW(CBDrive, CB_SETCURSEL, 0, 0);
    CBDriveChange();
  }
}

TIDirDialog::~TIDirDialog() {
  if (FHandle != nullptr) DestroyWindow(FHandle);
  if (FFont != nullptr) DeleteObject(FFont);
}

int TIDirDialog::Scaled(int DesignPixels) const {
  return MulDiv(DesignPixels, static_cast<int>(FDpi), USER_DEFAULT_SCREEN_DPI);
}

void TIDirDialog::CreateControls() {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, FDpi);
  FFont = CreateFontIndirectW(&metrics.lfMessageFont);
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const auto make = [&](const wchar_t* Class, const wchar_t* Text, DWORD Style, DWORD ExStyle, int Left, int Top,
                        int Width, int Height, int Id) {
    const HWND control = CreateWindowExW(ExStyle, Class, Text, WS_CHILD | WS_VISIBLE | WS_TABSTOP | Style,
                                         Scaled(Left), Scaled(Top), Scaled(Width), Scaled(Height), FHandle,
                                         reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), instance, nullptr);
    SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(FFont), FALSE);
    return control;
  };
  LBDir = make(WC_TREEVIEWW, L"", TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | TVS_SHOWSELALWAYS,
               WS_EX_CLIENTEDGE, 8, 8, 185, 217, kTreeId);
  CBDrive = make(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL, 0, 8, 232, 185, kDriveListHeight, kDriveListId);
  OkBtn = make(L"BUTTON", L"Ok", BS_DEFPUSHBUTTON, 0, 40, 256, 75, 25, IDOK);
  CancelBtn = make(L"BUTTON", L"Cancel", BS_PUSHBUTTON, 0, 120, 256, 75, 25, IDCANCEL);

  // Every drive the system has, "C:\" and so on.
  std::wstring drives(GetLogicalDriveStringsW(0, nullptr) + 1, L'\0');
  drives.resize(GetLogicalDriveStringsW(static_cast<DWORD>(drives.size()), drives.data()));
  for (const wchar_t* drive = drives.c_str(); *drive != L'\0'; drive += wcslen(drive) + 1)
    SendMessageW(CBDrive, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(drive));
}

std::wstring TIDirDialog::CurrentDrive() const {
  const LRESULT index = SendMessageW(CBDrive, CB_GETCURSEL, 0, 0);
  if (index < 0) return {};
  std::wstring drive(static_cast<std::size_t>(SendMessageW(CBDrive, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
  drive.resize(static_cast<std::size_t>(SendMessageW(CBDrive, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(drive.data()))));
  return drive;
}

void TIDirDialog::AddFolders(HTREEITEM Parent, const std::wstring& Path) {
  for (const std::wstring& name : FoldersIn(Path)) {
    TVINSERTSTRUCTW insert{};
    insert.hParent = Parent;
    insert.hInsertAfter = TVI_SORT;
    insert.item.mask = TVIF_TEXT;
    insert.item.pszText = const_cast<wchar_t*>(name.c_str());
    const HTREEITEM item = TreeView_InsertItem(LBDir, &insert);
    insert.hParent = item;
    insert.item.pszText = const_cast<wchar_t*>(kUnread);
    TreeView_InsertItem(LBDir, &insert);
  }
}

void TIDirDialog::ShowDrive(const std::wstring& Root) {
  TreeView_DeleteAllItems(LBDir);
  AddFolders(TVI_ROOT, Root);
}

void TIDirDialog::CBDriveChange() { ShowDrive(CurrentDrive()); }

std::wstring TIDirDialog::PathOf(HTREEITEM Item) const {
  std::wstring path;
  for (HTREEITEM at = Item; at != nullptr; at = TreeView_GetParent(LBDir, at))
    path = ItemText(LBDir, at) + (path.empty() ? L"" : L"\\" + path);
  return WithSlash(CurrentDrive()) + path;
}

bool TIDirDialog::SetDirectory(const String& Directory) {
  std::wstring path = ToWide(Directory);
  if (path.empty() || !IsDirectory(path)) return false;
  std::wstring full(MAX_PATH * 4, L'\0');
  full.resize(GetFullPathNameW(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr));
  // The drive's root ("C:\") and the folders below it, one by one.
  const std::size_t rootEnd = full.find(L'\\');
  if (rootEnd == std::wstring::npos) return false;
  const std::wstring root = full.substr(0, rootEnd + 1);
  const LRESULT drive = SendMessageW(CBDrive, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                     reinterpret_cast<LPARAM>(root.c_str()));
  if (drive < 0) return false;
  SendMessageW(CBDrive, CB_SETCURSEL, static_cast<WPARAM>(drive), 0);
  ShowDrive(root);
  HTREEITEM item = TVI_ROOT;
  std::size_t start = rootEnd + 1;
  while (start < full.size()) {
    std::size_t end = full.find(L'\\', start);
    if (end == std::wstring::npos) end = full.size();
    const std::wstring name = full.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    if (item != TVI_ROOT) TreeView_Expand(LBDir, item, TVE_EXPAND);
    const HTREEITEM child = ChildNamed(LBDir, item, name);
    if (child == nullptr) break;
    item = child;
  }
  if (item != TVI_ROOT) {
    TreeView_SelectItem(LBDir, item);
    TreeView_EnsureVisible(LBDir, item);
  }
  return true;
}

String TIDirDialog::Directory() const {
  const HTREEITEM selected = TreeView_GetSelection(LBDir);
  return FromWide(selected != nullptr ? PathOf(selected) : CurrentDrive());
}

void TIDirDialog::OkBtnClick() {
  ChoosedDir = true;
  FDone = true;
}

void TIDirDialog::CancelBtnClick() {
  ChoosedDir = false;
  FDone = true;
}

void TIDirDialog::ShowModal() {
  const bool ownerEnabled = FOwner != nullptr && IsWindowEnabled(FOwner);
  if (ownerEnabled) EnableWindow(FOwner, FALSE);
  ShowWindow(FHandle, SW_SHOWNORMAL);
  SetFocus(LBDir);
  MSG message{};
  while (!FDone && GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Enter (IDOK) and Esc (IDCANCEL) reach the dialog as in any dialog,
    // also from the tree.
    if (IsDialogMessageW(FHandle, &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (message.message == WM_QUIT) PostQuitMessage(static_cast<int>(message.wParam));
  // The owner is enabled before this window goes, so that it becomes the
  // active window again.
  if (ownerEnabled) EnableWindow(FOwner, TRUE);
  ShowWindow(FHandle, SW_HIDE);
}

LRESULT CALLBACK TIDirDialog::WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  return ForwardWindowMessage(Window, Message, WParam, LParam, &TIDirDialog::FHandle, &TIDirDialog::HandleMessage);
}

LRESULT TIDirDialog::HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam) {
  switch (Message) {
    case WM_COMMAND:
      if (LOWORD(WParam) == IDOK) OkBtnClick();
      if (LOWORD(WParam) == IDCANCEL) CancelBtnClick();
      if (LOWORD(WParam) == kDriveListId && HIWORD(WParam) == CBN_SELCHANGE) CBDriveChange();
      return 0;
    case WM_NOTIFY: {
      const auto* header = reinterpret_cast<const NMHDR*>(LParam);
      if (header->hwndFrom == LBDir && header->code == TVN_ITEMEXPANDINGW) {
        const auto* change = reinterpret_cast<const NMTREEVIEWW*>(LParam);
        const HTREEITEM item = change->itemNew.hItem;
        const HTREEITEM first = TreeView_GetChild(LBDir, item);
        if (change->action == TVE_EXPAND && first != nullptr && ItemText(LBDir, first) == kUnread) {
          TreeView_DeleteItem(LBDir, first);
          AddFolders(item, PathOf(item));
        }
      }
      return 0;
    }
    case WM_CLOSE:
      CancelBtnClick();
      return 0;
    default:
      break;
  }
  return DefWindowProcW(FHandle, Message, WParam, LParam);
}

std::optional<String> TIDirDialog::Choose(HWND Owner, const String& InitialDir) {
  TIDirDialog dialog(Owner);
  dialog.SetDirectory(InitialDir);  // failing to show it is not worth a message
  dialog.ShowModal();
  if (!dialog.ChoosedDir) return std::nullopt;
  return dialog.Directory();
}

}  // namespace zo
