#include "upliner/win32/ReinstallWindow.h"

#include <commctrl.h>

#include <algorithm>

#include "core/StringUtils.h"
#include "upliner/win32/Win32Dialogs.h"
#include "upliner/win32/WideText.h"
#include "upliner/win32/WindowProcedure.h"

namespace zo {

namespace {

constexpr wchar_t kWindowClass[] = L"TReinstallForm";
// Control ids start above IDOK and IDCANCEL, which the dialog keys send.
constexpr int kFirstControlId = 100;
// The list part of a drop-down: room for about eight items below the field.
constexpr int kDropDownListHeight = 120;
// The window's frame: a single border with a caption, a system menu and a
// minimize box, never resized by the user.
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr DWORD kWindowExStyle = WS_EX_APPWINDOW;

std::wstring WindowText(HWND Window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(Window)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(Window, text.data(), static_cast<int>(text.size()))));
  return text;
}

void SetTextIfChanged(HWND Window, const std::wstring& Text) {
  if (WindowText(Window) != Text) SetWindowTextW(Window, Text.c_str());
}

// The memo's lines as one text with the edit control's CR LF line ends.
std::wstring JoinedLines(const std::vector<String>& Lines) {
  std::wstring text;
  for (std::size_t i = 0; i < Lines.size(); ++i) {
    if (i > 0) text += L"\r\n";
    text += ToWide(Lines[i]);
  }
  return text;
}

// What a standard control of each kind is made of.
struct TControlClass {
  const wchar_t* ClassName;
  DWORD Style;
  DWORD ExStyle;
};

TControlClass ClassOf(const TControl& C) {
  constexpr DWORD kField = WS_TABSTOP;
  switch (C.Kind) {
    case ckLabel:
    case ckStaticText: return {L"STATIC", SS_LEFT | SS_NOPREFIX, 0};
    case ckEdit:
      return {L"EDIT", kField | ES_AUTOHSCROLL | (C.Password ? DWORD(ES_PASSWORD) : 0u), WS_EX_CLIENTEDGE};
    case ckComboBox: return {L"COMBOBOX", kField | CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL, 0};
    case ckCheckBox: return {L"BUTTON", kField | BS_AUTOCHECKBOX, 0};
    case ckButton: return {L"BUTTON", kField | BS_PUSHBUTTON, 0};
    case ckSpeedButton: return {L"BUTTON", kField | BS_PUSHBUTTON, 0};
    case ckMemo:
      return {L"EDIT", kField | ES_MULTILINE | ES_AUTOVSCROLL | ES_AUTOHSCROLL | WS_VSCROLL | WS_HSCROLL,
              WS_EX_CLIENTEDGE};
    case ckGroupBox: return {L"BUTTON", BS_GROUPBOX, 0};
    case ckPanel: return {L"STATIC", SS_LEFT, 0};
    case ckImage: return {L"STATIC", SS_OWNERDRAW, 0};
    case ckBevel: return {L"STATIC", SS_ETCHEDHORZ, 0};
  }
  return {L"STATIC", 0, 0};
}

// A combo box tells its window about typed changes of its text
// (CBN_EDITCHANGE) but not about text set with WM_SETTEXT, on the combo or on
// its own edit, as automation tools set it. This subclass of the combo's edit
// tells the window about those too.
constexpr UINT_PTR kComboEditSubclass = 1;
constexpr UINT kComboTextChanged = WM_APP + 1;

LRESULT CALLBACK ComboEditProc(HWND Edit, UINT Message, WPARAM WParam, LPARAM LParam, UINT_PTR, DWORD_PTR) {
  const LRESULT result = DefSubclassProc(Edit, Message, WParam, LParam);
  if (Message == WM_SETTEXT) {
    const HWND combo = GetParent(Edit);
    SendMessageW(GetParent(combo), kComboTextChanged, 0, reinterpret_cast<LPARAM>(combo));
  }
  return result;
}

// The dpi of the monitor the window is on, or the system's before it exists.
UINT DpiOf(HWND Window) {
  if (Window != nullptr) return GetDpiForWindow(Window);
  return GetDpiForSystem();
}

HFONT MessageFont(UINT Dpi, bool Bold) {
  NONCLIENTMETRICSW metrics{};
  metrics.cbSize = sizeof(metrics);
  if (!SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, Dpi)) {
    metrics.lfMessageFont.lfHeight = -MulDiv(8, static_cast<int>(Dpi), 72);
    wcscpy_s(metrics.lfMessageFont.lfFaceName, L"MS Shell Dlg 2");
  }
  if (Bold) metrics.lfMessageFont.lfWeight = FW_BOLD;
  return CreateFontIndirectW(&metrics.lfMessageFont);
}

}  // namespace

TReinstallWindow::TReinstallWindow(TReinstallForm& Form) : FForm(Form) {
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  RegisterWindowClass(instance, kWindowClass, WindowProc, LoadIconW(nullptr, IDI_APPLICATION));

  FBannerBrush = GetSysColorBrush(COLOR_WINDOW);
  FDpi = DpiOf(nullptr);
  CreateWindowExW(kWindowExStyle, kWindowClass, ToWide(FForm.Caption).c_str(), kWindowStyle, FForm.Left,
                  FForm.Top, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr, instance, this);
  // The monitor the window appears on decides its scale.
  FDpi = DpiOf(FHandle);
  UpdateFonts();
  CreateControls();

  FForm.OnVisibilityChange = [this] {
    if (FDestroyed) return;
    if (FForm.Visible) SyncFromModel();
    ShowWindow(FHandle, FForm.Visible ? SW_SHOW : SW_HIDE);
    if (FForm.Visible) UpdateWindow(FHandle);
  };
  FForm.OnClose = [this] {
    if (!FDestroyed) DestroyWindow(FHandle);
  };
  SyncFromModel();
}

TReinstallWindow::~TReinstallWindow() {
  FForm.OnVisibilityChange = nullptr;
  FForm.OnClose = nullptr;
  if (!FDestroyed && FHandle != nullptr) DestroyWindow(FHandle);
  if (FFont != nullptr) DeleteObject(FFont);
  if (FBoldFont != nullptr) DeleteObject(FBoldFont);
}

int TReinstallWindow::Scaled(int DesignPixels) const {
  return MulDiv(DesignPixels, static_cast<int>(FDpi), USER_DEFAULT_SCREEN_DPI);
}

void TReinstallWindow::UpdateFonts() {
  if (FFont != nullptr) DeleteObject(FFont);
  if (FBoldFont != nullptr) DeleteObject(FBoldFont);
  FFont = MessageFont(FDpi, false);
  FBoldFont = MessageFont(FDpi, true);
  // Labels are as wide as their captions in the font they are drawn with,
  // in design pixels.
  FForm.SetCaptionMeasure([this](StringView Caption, bool Bold) {
    const HDC dc = GetDC(FHandle);
    const HGDIOBJ old = SelectObject(dc, Bold ? FBoldFont : FFont);
    SIZE size{};
    const std::wstring text = ToWide(Caption);
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
    SelectObject(dc, old);
    ReleaseDC(FHandle, dc);
    // Rounded up, so that a caption never loses its last pixel.
    return (size.cx * USER_DEFAULT_SCREEN_DPI + static_cast<int>(FDpi) - 1) / static_cast<int>(FDpi);
  });
  for (const auto& [control, handle] : FHandles)
    SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(control->Bold ? FBoldFont : FFont), TRUE);
}

void TReinstallWindow::CreateControls() {
  // Creation order is the Tab order: the model lists containers before what
  // they hold, row by row.
  for (TControl* control : FForm.Controls()) {
    const int id = kFirstControlId + static_cast<int>(FControls.size());
    FControls.push_back(control);
    const HWND handle = CreateControl(*control, id);
    FByHandle[handle] = control;
    FHandles[control] = handle;
    SendMessageW(handle, WM_SETFONT, reinterpret_cast<WPARAM>(control->Bold ? FBoldFont : FFont), FALSE);
    if (control->Kind == ckComboBox)
      if (const HWND edit = FindWindowExW(handle, nullptr, L"Edit", nullptr))
        SetWindowSubclass(edit, ComboEditProc, kComboEditSubclass, 0);
  }
  // Containers lie beneath what they hold: a group box draws only its frame
  // and caption, the banner its background, and the controls on top of them
  // are never clipped away by them.
  for (const auto& [control, handle] : FHandles)
    if (control->Kind == ckGroupBox || control->Kind == ckPanel)
      SetWindowPos(handle, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

HWND TReinstallWindow::CreateControl(TControl& Control, int Id) {
  const TControlClass controlClass = ClassOf(Control);
  // Every control is a child of the window itself, at window coordinates:
  // notifications then reach this window whatever group box it sits in.
  const std::wstring text = Control.Kind == ckSpeedButton ? L"..." : ToWide(Control.Text);
  const HWND handle = CreateWindowExW(controlClass.ExStyle, controlClass.ClassName, text.c_str(),
                                      WS_CHILD | WS_CLIPSIBLINGS | controlClass.Style, 0, 0, 0, 0, FHandle,
                                      reinterpret_cast<HMENU>(static_cast<INT_PTR>(Id)), GetModuleHandleW(nullptr),
                                      nullptr);
  return handle;
}

TControl* TReinstallWindow::ControlOf(int Id) const {
  const int index = Id - kFirstControlId;
  if (index < 0 || index >= static_cast<int>(FControls.size())) return nullptr;
  return FControls[static_cast<std::size_t>(index)];
}

TControl* TReinstallWindow::ControlOf(HWND Control) const {
  const auto it = FByHandle.find(Control);
  return it == FByHandle.end() ? nullptr : it->second;
}

template <typename Action>
void TReinstallWindow::Forward(Action&& action) {
  if (FSyncing) return;
  action();
  if (!FDestroyed) SyncFromModel();
}

void TReinstallWindow::SyncWindowFrame() {
  SetTextIfChanged(FHandle, ToWide(FForm.Caption));
  RECT frame{0, 0, Scaled(FForm.ClientWidth()), Scaled(FForm.ClientHeight())};
  AdjustWindowRectExForDpi(&frame, kWindowStyle, FALSE, kWindowExStyle, FDpi);
  RECT now{};
  GetWindowRect(FHandle, &now);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  if (now.left != FForm.Left || now.top != FForm.Top || now.right - now.left != width ||
      now.bottom - now.top != height)
    SetWindowPos(FHandle, nullptr, FForm.Left, FForm.Top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TReinstallWindow::SyncControl(const TControl& Control, HWND Handle) {
  int height = Control.Height > 0 ? Control.Height : kEditHeight;
  if (Control.Kind == ckComboBox) height = kEditHeight + kDropDownListHeight;
  SetWindowPos(Handle, nullptr, Scaled(FForm.WindowLeft(Control)), Scaled(FForm.WindowTop(Control)),
               Scaled(Control.Width), Scaled(height), SWP_NOZORDER | SWP_NOACTIVATE);
  const bool showing = FForm.Showing(Control);
  if ((IsWindowVisible(Handle) != FALSE) != showing) ShowWindow(Handle, showing ? SW_SHOWNA : SW_HIDE);
  if ((IsWindowEnabled(Handle) != FALSE) != Control.Enabled) EnableWindow(Handle, Control.Enabled);
  const std::wstring text = ToWide(Control.Text);
  switch (Control.Kind) {
    case ckLabel:
    case ckStaticText:
    case ckEdit:
    case ckButton:
    case ckGroupBox:
      SetTextIfChanged(Handle, text);
      break;
    case ckCheckBox:
      SetTextIfChanged(Handle, text);
      SendMessageW(Handle, BM_SETCHECK, Control.Checked ? BST_CHECKED : BST_UNCHECKED, 0);
      break;
    case ckComboBox: {
      std::vector<std::wstring> shown;
      const int count = static_cast<int>(SendMessageW(Handle, CB_GETCOUNT, 0, 0));
      for (int i = 0; i < count; ++i) {
        std::wstring item(static_cast<std::size_t>(SendMessageW(Handle, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
        item.resize(static_cast<std::size_t>(
            SendMessageW(Handle, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(item.data()))));
        shown.push_back(item);
      }
      std::vector<std::wstring> items;
      for (const String& item : Control.Items) items.push_back(ToWide(item));
      if (shown != items) {
        // Emptying the list empties the typed text too; it is set again below.
        SendMessageW(Handle, CB_RESETCONTENT, 0, 0);
        for (const std::wstring& item : items)
          SendMessageW(Handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(item.c_str()));
      }
      if (Control.ItemIndex >= 0 && SendMessageW(Handle, CB_GETCURSEL, 0, 0) != Control.ItemIndex)
        SendMessageW(Handle, CB_SETCURSEL, static_cast<WPARAM>(Control.ItemIndex), 0);
      SetTextIfChanged(Handle, text);
      break;
    }
    case ckMemo:
      SetTextIfChanged(Handle, JoinedLines(Control.Lines));
      break;
    default:
      break;
  }
}

void TReinstallWindow::SyncFromModel() {
  if (FDestroyed) return;
  FSyncing = true;
  SyncWindowFrame();
  for (const TControl* control : FForm.Controls()) SyncControl(*control, FHandles.at(control));
  FSyncing = false;
}

void TReinstallWindow::Show() {
  FForm.Visible = true;
  // Arranged before the window first appears, so it never shows the design
  // layout.
  FForm.FormActivate();
  SyncFromModel();
  ShowWindow(FHandle, SW_SHOWNORMAL);
  UpdateWindow(FHandle);
  // The first field has the focus, as in a dialog.
  const HWND first = FHandles.at(&FForm.CServerName);
  SetFocus(first);
  FLastFocus = GetFocus();
}

void TReinstallWindow::OnCommand(int Id, int Code, HWND Handle) {
  if (Id == IDOK) return OnEnter();
  TControl* control = ControlOf(Id);
  if (control == nullptr) return;
  switch (control->Kind) {
    case ckEdit:
      if (Code == EN_CHANGE) Forward([&] { FForm.UserSetText(*control, FromWide(WindowText(Handle))); });
      break;
    case ckMemo:
      if (Code == EN_CHANGE)
        Forward([&] { FForm.UserSetLines(*control, SplitLines(FromWide(WindowText(Handle)))); });
      break;
    case ckComboBox:
      if (Code == CBN_EDITCHANGE) {
        Forward([&] { FForm.UserSetText(*control, FromWide(WindowText(Handle))); });
      } else if (Code == CBN_SELCHANGE) {
        const int index = static_cast<int>(SendMessageW(Handle, CB_GETCURSEL, 0, 0));
        if (index >= 0) Forward([&] { FForm.UserSelectItem(*control, index); });
      } else if (Code == CBN_DROPDOWN) {
        Forward([&] { FForm.UserDropDown(*control); });
      }
      break;
    case ckCheckBox:
      if (Code == BN_CLICKED) {
        const bool checked = SendMessageW(Handle, BM_GETCHECK, 0, 0) == BST_CHECKED;
        Forward([&] { FForm.UserSetChecked(*control, checked); });
      }
      break;
    case ckButton:
    case ckSpeedButton:
      if (Code == BN_CLICKED) Forward([&] { FForm.UserClick(*control); });
      break;
    default:
      break;
  }
}

// Enter presses the focused button; in a field it presses Connect while
// that is possible and the mode's action button once connected.
void TReinstallWindow::OnEnter() {
  const HWND focus = GetFocus();
  TControl* focused = ControlOf(focus);
  if (focused == nullptr && focus != nullptr) focused = ControlOf(GetParent(focus));  // a combo's edit
  if (focused != nullptr && (focused->Kind == ckButton || focused->Kind == ckSpeedButton)) {
    Forward([&] { FForm.UserClick(*focused); });
    return;
  }
  for (TControl* button : {&FForm.BConnect, &FForm.BReinstall, &FForm.BAlterLangs, &FForm.BAlterArchive,
                           &FForm.BAlterExtDB}) {
    if (FForm.Showing(*button) && button->Enabled) {
      Forward([&] { FForm.UserClick(*button); });
      return;
    }
  }
}

void TReinstallWindow::OnDpiChanged(UINT Dpi, const RECT& Suggested) {
  FDpi = Dpi;
  UpdateFonts();
  FForm.Left = Suggested.left;
  FForm.Top = Suggested.top;
  SyncFromModel();
}

void TReinstallWindow::DrawBannerImage(const DRAWITEMSTRUCT& Item) const {
  // The banner's small centred picture: an upward arrow on a round badge.
  const RECT& r = Item.rcItem;
  FillRect(Item.hDC, &r, FBannerBrush);
  const int size = Scaled(36);
  const int left = r.left + (r.right - r.left - size) / 2;
  const int top = r.top + (r.bottom - r.top - size) / 2;
  const HBRUSH badge = CreateSolidBrush(RGB(0x2F, 0x6F, 0xB5));
  const HGDIOBJ oldBrush = SelectObject(Item.hDC, badge);
  const HGDIOBJ oldPen = SelectObject(Item.hDC, GetStockObject(NULL_PEN));
  Ellipse(Item.hDC, left, top, left + size, top + size);
  const auto at = [&](int X, int Y) { return POINT{left + MulDiv(X, size, 36), top + MulDiv(Y, size, 36)}; };
  const POINT arrow[] = {at(18, 6), at(29, 18), at(22, 18), at(22, 29), at(14, 29), at(14, 18), at(7, 18)};
  SelectObject(Item.hDC, GetStockObject(WHITE_BRUSH));
  Polygon(Item.hDC, arrow, static_cast<int>(std::size(arrow)));
  SelectObject(Item.hDC, oldPen);
  SelectObject(Item.hDC, oldBrush);
  DeleteObject(badge);
}

LRESULT CALLBACK TReinstallWindow::WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam) {
  return ForwardWindowMessage(Window, Message, WParam, LParam, &TReinstallWindow::FHandle, &TReinstallWindow::HandleMessage);
}

LRESULT TReinstallWindow::HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam) {
  switch (Message) {
    case WM_COMMAND:
      OnCommand(LOWORD(WParam), HIWORD(WParam), reinterpret_cast<HWND>(LParam));
      return 0;
    case kComboTextChanged: {
      const HWND combo = reinterpret_cast<HWND>(LParam);
      if (TControl* control = ControlOf(combo))
        Forward([&] { FForm.UserSetText(*control, FromWide(WindowText(combo))); });
      return 0;
    }
    case WM_ACTIVATE:
      // As in a dialog, the field that had the focus gets it back when the
      // window is active again (after a message box, the picker, hiding).
      if (LOWORD(WParam) == WA_INACTIVE) {
        const HWND focus = GetFocus();
        if (focus != nullptr && IsChild(FHandle, focus)) FLastFocus = focus;
        return 0;
      }
      if (!FSyncing && FForm.Visible) Forward([&] { FForm.FormActivate(); });
      if (FLastFocus != nullptr && IsWindow(FLastFocus) && IsWindowVisible(FLastFocus) &&
          IsWindowEnabled(FLastFocus)) {
        SetFocus(FLastFocus);
        return 0;
      }
      break;
    case WM_MOVE:
      // The upgrade program is placed where the window is now, wherever the
      // user has moved it.
      if (!FSyncing && IsWindowVisible(FHandle)) {
        RECT r{};
        GetWindowRect(FHandle, &r);
        FForm.Left = r.left;
        FForm.Top = r.top;
      }
      break;
    case WM_CTLCOLORSTATIC: {
      // The banner and what it holds are drawn on the window colour.
      const TControl* control = ControlOf(reinterpret_cast<HWND>(LParam));
      if (control != nullptr && (control == &FForm.Panel1 || control->Parent == &FForm.Panel1)) {
        const HDC dc = reinterpret_cast<HDC>(WParam);
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        return reinterpret_cast<LRESULT>(FBannerBrush);
      }
      break;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(LParam);
      if (ControlOf(item->hwndItem) == &FForm.InnerImage) {
        DrawBannerImage(*item);
        return TRUE;
      }
      break;
    }
    case WM_DPICHANGED:
      OnDpiChanged(HIWORD(WParam), *reinterpret_cast<const RECT*>(LParam));
      return 0;
    case WM_CLOSE:
      // The system menu's Close, Alt+F4 or the caption's button.
      if (!FForm.Closed()) {
        FForm.Close();
      } else {
        DestroyWindow(FHandle);
      }
      return 0;
    case WM_DESTROY:
      FDestroyed = true;
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(FHandle, Message, WParam, LParam);
}

int RunUpliner(const std::vector<String>& Args, const String& AppDir, IFormDialogs& Dialogs) {
  TReinstallForm form(Dialogs, AppDir);
  form.FormCreate(Args);
  if (form.Terminated()) return 0;
  TReinstallWindow window(form);
  auto* win32Dialogs = dynamic_cast<TWin32FormDialogs*>(&Dialogs);
  if (win32Dialogs != nullptr) win32Dialogs->SetOwner(window.Handle());
  window.Show();
  MSG message{};
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    // Tab, Shift+Tab and Enter move and press as in a dialog.
    if (IsWindow(window.Handle()) && IsDialogMessageW(window.Handle(), &message)) continue;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  if (win32Dialogs != nullptr) win32Dialogs->SetOwner(nullptr);
  return 0;
}

}  // namespace zo
