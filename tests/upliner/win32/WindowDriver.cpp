// Drives the upgrade tool's Windows window as a user would, from a second
// Windows program: it finds the controls by their class and by the caption
// of the label that names them, types with WM_SETTEXT, clicks with posted
// BM_CLICK (a click that opens a modal box would block a sent one), and
// reads and answers the message boxes and the save dialog.
//
//   WindowDriver UPLINER "ARGS" CAPTION COMMAND...
//
// starts UPLINER with ARGS, waits for its window CAPTION, then runs the
// commands in order:
//   set LABEL VALUE       types VALUE into the field LABEL names
//   expect LABEL VALUE    the field LABEL names holds VALUE
//   click BUTTON          presses the button of that caption
//   key LABEL KEY         presses KEY (tab, return) in the field LABEL names
//   focused LABEL         the field LABEL names has the keyboard focus
//   box CAPTION ANSWER    waits for a message box, prints its text, answers
//                         yes, no or ok
//   run                   waits for the window to hide while the upgrade
//                         program runs, and to come back usable
//   report                prints the report area
//   save PATH             presses Save Results and saves the report to PATH
//   pick KEYS             presses "..." and in the directory picker presses
//                         KEYS (left, right, up, down, return, escape,
//                         separated by ','), which must close it
//   check                 the window's frame, size and controls are those
//                         of the upgrade window at the monitor's DPI
//   shot PATH             says the window is ready to be photographed
//                         (creates PATH.ready) and waits until PATH exists
//   close                 presses Close; the program must end with code 0
// Any unexpected message box, or a wait of more than a few minutes, fails
// the run with exit code 1 and says what it saw.
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

DWORD gProcessId = 0;
HANDLE gProcess = nullptr;
HWND gWindow = nullptr;

[[noreturn]] void Fail(const std::wstring& What) {
  std::fwprintf(stderr, L"WindowDriver: %ls\n", What.c_str());
  if (gProcess != nullptr) TerminateProcess(gProcess, 3);
  std::exit(1);
}

std::wstring TextOf(HWND Window) {
  const int length = static_cast<int>(SendMessageW(Window, WM_GETTEXTLENGTH, 0, 0));
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      SendMessageW(Window, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data()))));
  return text;
}

std::wstring ClassOf(HWND Window) {
  wchar_t name[64] = {};
  GetClassNameW(Window, name, 64);
  return name;
}

void WaitUntil(const std::function<bool()>& Done, const std::wstring& What, int Seconds = 60) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(Seconds);
  while (!Done()) {
    if (std::chrono::steady_clock::now() > end) Fail(L"gave up waiting for " + What);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
}

// The visible top-level windows of the tool of a class (nullptr: any).
std::vector<HWND> TopWindows(const wchar_t* Class) {
  struct TSearch {
    const wchar_t* Class;
    std::vector<HWND> Found;
  } search{Class, {}};
  EnumWindows(
      [](HWND Window, LPARAM Data) -> BOOL {
        auto& s = *reinterpret_cast<TSearch*>(Data);
        DWORD pid = 0;
        GetWindowThreadProcessId(Window, &pid);
        if (pid == gProcessId && IsWindowVisible(Window) && (s.Class == nullptr || ClassOf(Window) == s.Class))
          s.Found.push_back(Window);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.Found;
}

HWND FindBox(const std::wstring& Caption) {
  for (HWND box : TopWindows(L"#32770"))
    if (Caption.empty() || TextOf(box) == Caption) return box;
  return nullptr;
}

std::wstring BoxText(HWND Box) {
  const HWND text = GetDlgItem(Box, 0xFFFF);
  return text != nullptr ? TextOf(text) : L"";
}

void FailOnBox() {
  if (HWND box = FindBox(L"")) Fail(L"unexpected box \"" + TextOf(box) + L"\": " + BoxText(box));
}

std::vector<HWND> Children(HWND Parent) {
  std::vector<HWND> found;
  for (HWND child = GetWindow(Parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT))
    found.push_back(child);
  return found;
}

HWND FindChild(const wchar_t* Class, const std::wstring& Text) {
  for (HWND child : Children(gWindow))
    if (IsWindowVisible(child) && _wcsicmp(ClassOf(child).c_str(), Class) == 0 && TextOf(child) == Text)
      return child;
  Fail(std::wstring(L"no ") + Class + L" \"" + Text + L"\"");
}

// The field a label names: the next control after it, as screen readers
// find the name of a field.
HWND FieldOf(const std::wstring& Label) {
  HWND field = GetWindow(FindChild(L"Static", Label), GW_HWNDNEXT);
  const std::wstring kind = ClassOf(field);
  if (field == nullptr || (_wcsicmp(kind.c_str(), L"Edit") != 0 && _wcsicmp(kind.c_str(), L"ComboBox") != 0))
    Fail(L"the label \"" + Label + L"\" names no field");
  return field;
}

// The edit a user types into: a combo box's own edit, or the edit itself.
HWND TypingTarget(HWND Field) {
  if (_wcsicmp(ClassOf(Field).c_str(), L"ComboBox") == 0)
    if (HWND inner = FindWindowExW(Field, nullptr, L"Edit", nullptr)) return inner;
  return Field;
}

void Click(HWND Button) {
  if (!IsWindowEnabled(Button)) Fail(L"button \"" + TextOf(Button) + L"\" is disabled");
  PostMessageW(Button, BM_CLICK, 0, 0);
}

bool WindowUsable() { return IsWindowVisible(gWindow) && IsWindowEnabled(gWindow) && FindBox(L"") == nullptr; }

std::wstring ReportText() {
  for (HWND child : Children(gWindow))
    if (IsWindowVisible(child) && (GetWindowLongW(child, GWL_STYLE) & ES_MULTILINE) != 0 &&
        _wcsicmp(ClassOf(child).c_str(), L"Edit") == 0)
      return TextOf(child);
  Fail(L"no report area");
}

void CheckWindow() {
  const LONG style = GetWindowLongW(gWindow, GWL_STYLE);
  if ((style & WS_THICKFRAME) != 0 || (style & WS_MAXIMIZEBOX) != 0 || (style & WS_MINIMIZEBOX) == 0 ||
      (style & WS_SYSMENU) == 0)
    Fail(L"the frame is not single and fixed with a minimize box only");
  RECT client{};
  GetClientRect(gWindow, &client);
  // The design's 493 x 311 pixels at 96 DPI, 24 taller in reinstall mode,
  // scaled by the monitor's DPI.
  // The test that set the screen's DPI names it: what another process is
  // told of a window's DPI depends on that process's own awareness.
  const wchar_t* expected = _wgetenv(L"ZO_EXPECTED_DPI");
  const int dpi = expected != nullptr && *expected != 0 ? _wtoi(expected) : static_cast<int>(GetDpiForWindow(gWindow));
  const int width = MulDiv(493, dpi, 96);
  const int height = MulDiv(311 + 24, dpi, 96);
  std::wprintf(L"client %ldx%ld at %d DPI\n", client.right, client.bottom, dpi);
  if (client.right != width || client.bottom != height)
    Fail(L"the client area is not " + std::to_wstring(width) + L" x " + std::to_wstring(height));
  for (const wchar_t* label : {L"Server Name :", L"User Name :", L"Password :", L"Database Name :",
                               L"Actual version :", L"Target version :", L"Check Integrity :"})
    (void)FieldOf(label);
  for (const wchar_t* button : {L"Save Results", L"Connect", L"Reinstall", L"Close"})
    (void)FindChild(L"Button", button);
  for (const wchar_t* box : {L"Windows NT Authentication", L"Check Changes", L"Show Changes", L"Database",
                             L"Versions"})
    (void)FindChild(L"Button", box);
  if ((GetWindowLongW(FieldOf(L"Password :"), GWL_STYLE) & ES_PASSWORD) == 0) Fail(L"the password shows");
  if (IsWindowEnabled(FieldOf(L"Actual version :"))) Fail(L"the actual version is editable");
}

HWND DescendantEdit(HWND Parent) {
  for (HWND child : Children(Parent)) {
    if (_wcsicmp(ClassOf(child).c_str(), L"Edit") == 0) return child;
    if (HWND inner = DescendantEdit(child)) return inner;
  }
  return nullptr;
}

void SaveReport(const std::wstring& Path) {
  DeleteFileW(Path.c_str());
  Click(FindChild(L"Button", L"Save Results"));
  HWND dialog = nullptr;
  WaitUntil([&] { return (dialog = FindBox(L"")) != nullptr && IsWindowVisible(dialog); }, L"the save dialog");
  // The file name field: edt1 in the classic template, the edit inside the
  // extended combo cmb13 in the explorer one.
  HWND name = GetDlgItem(dialog, 0x480);
  if (name == nullptr)
    if (HWND combo = GetDlgItem(dialog, 0x47c)) name = DescendantEdit(combo);
  if (name == nullptr) {
    std::wstring seen;
    for (HWND child : Children(dialog))
      seen += L" " + ClassOf(child) + L"#" + std::to_wstring(GetDlgCtrlID(child)) + L"=" + TextOf(child);
    Fail(L"the save dialog \"" + TextOf(dialog) + L"\" has no file name field:" + seen);
  }
  SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(Path.c_str()));
  PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  WaitUntil([&] { return GetFileAttributesW(Path.c_str()) != INVALID_FILE_ATTRIBUTES && WindowUsable(); },
            L"the saved report " + Path);
}

// The directory picker: keys go to its folder tree, the way typing reaches
// it, through the picker's own message loop.
void Pick(const std::wstring& Keys) {
  Click(FindChild(L"Button", L"..."));
  HWND picker = nullptr;
  WaitUntil([&] { return !(TopWindows(L"TIDirDialog").empty()) && (picker = TopWindows(L"TIDirDialog")[0]); },
            L"the directory picker");
  if (TextOf(picker) != L"Choosing Directory") Fail(L"the picker's caption is \"" + TextOf(picker) + L"\"");
  const HWND tree = FindWindowExW(picker, nullptr, L"SysTreeView32", nullptr);
  if (tree == nullptr) Fail(L"the picker has no folder tree");
  std::size_t start = 0;
  while (start <= Keys.size()) {
    std::size_t end = Keys.find(L',', start);
    if (end == std::wstring::npos) end = Keys.size();
    const std::wstring key = Keys.substr(start, end - start);
    start = end + 1;
    const WPARAM code = key == L"left"     ? VK_LEFT
                        : key == L"right"  ? VK_RIGHT
                        : key == L"up"     ? VK_UP
                        : key == L"down"   ? VK_DOWN
                        : key == L"return" ? VK_RETURN
                        : key == L"escape" ? VK_ESCAPE
                                           : 0;
    if (code == 0) Fail(L"unknown key " + key);
    PostMessageW(tree, WM_KEYDOWN, code, 1);
    PostMessageW(tree, WM_KEYUP, code, 0xC0000001);
    // Each key is handled before the next, as typed ones are.
    WaitUntil([&] { return !IsWindow(tree) || !IsWindowVisible(picker) || GetQueueStatus(QS_POSTMESSAGE) == 0; },
              L"the key " + key);
  }
  WaitUntil([&] { return !IsWindowVisible(picker) && WindowUsable(); }, L"the picker to close");
}

std::wstring Quoted(const std::wstring& Text) { return L"\"" + Text + L"\""; }

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 4) Fail(L"usage: WindowDriver UPLINER \"ARGS\" CAPTION COMMAND...");
  // Sizes are read in the monitor's real pixels, as the window lays itself out.
  SetProcessDpiAwarenessContext(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2);
  std::wstring commandLine = Quoted(argv[1]) + L" " + argv[2];
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(argv[1], commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process))
    Fail(L"cannot start " + commandLine);
  CloseHandle(process.hThread);
  gProcess = process.hProcess;
  gProcessId = process.dwProcessId;
  const std::wstring caption = argv[3];
  WaitUntil(
      [&] {
        FailOnBox();
        for (HWND window : TopWindows(nullptr))
          if (TextOf(window) == caption) gWindow = window;
        return gWindow != nullptr;
      },
      L"the window \"" + caption + L"\"");

  for (int i = 4; i < argc; ++i) {
    const std::wstring command = argv[i];
    const auto next = [&]() -> std::wstring {
      if (++i >= argc) Fail(L"\"" + command + L"\" wants another argument");
      return argv[i];
    };
    if (command == L"set") {
      const std::wstring label = next();
      const std::wstring value = next();
      HWND target = TypingTarget(FieldOf(label));
      SendMessageW(target, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(value.c_str()));
    } else if (command == L"expect") {
      const std::wstring label = next();
      const std::wstring value = next();
      // A posted click may still be on its way: the field has a while to
      // show the value, unless a box comes up first.
      const HWND field = FieldOf(label);
      std::wstring shown;
      const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
      while ((shown = TextOf(field)) != value) {
        FailOnBox();
        if (std::chrono::steady_clock::now() > end)
          Fail(label + L" shows \"" + shown + L"\", not \"" + value + L"\"");
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
      }
      std::wprintf(L"%ls %ls\n", label.c_str(), shown.c_str());
    } else if (command == L"key") {
      const std::wstring label = next();
      const std::wstring key = next();
      const WPARAM code = key == L"tab" ? VK_TAB : key == L"return" ? VK_RETURN : 0;
      if (code == 0) Fail(L"unknown key " + key);
      const HWND target = TypingTarget(FieldOf(label));
      PostMessageW(target, WM_KEYDOWN, code, 1);
      PostMessageW(target, WM_KEYUP, code, 0xC0000001);
    } else if (command == L"focused") {
      const std::wstring label = next();
      const HWND field = FieldOf(label);
      GUITHREADINFO info{};
      info.cbSize = sizeof(info);
      WaitUntil(
          [&] {
            GetGUIThreadInfo(GetWindowThreadProcessId(gWindow, nullptr), &info);
            return info.hwndFocus == field || GetParent(info.hwndFocus) == field;
          },
          L"the focus in " + label, 10);
      std::wprintf(L"focus in %ls\n", label.c_str());
    } else if (command == L"click") {
      Click(FindChild(L"Button", next()));
    } else if (command == L"box") {
      const std::wstring boxCaption = next();
      const std::wstring answer = next();
      HWND box = nullptr;
      WaitUntil([&] { return (box = FindBox(boxCaption)) != nullptr; }, L"the box \"" + boxCaption + L"\"", 300);
      std::wprintf(L"box %ls: %ls\n", boxCaption.c_str(), BoxText(box).c_str());
      const int id = answer == L"yes" ? IDYES : answer == L"no" ? IDNO : IDOK;
      const HWND button = GetDlgItem(box, id);
      if (button == nullptr) Fail(L"the box \"" + boxCaption + L"\" has no button " + answer);
      PostMessageW(button, BM_CLICK, 0, 0);
      WaitUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, L"the box to close");
    } else if (command == L"run") {
      // The window hides while the upgrade program runs; a box on the way
      // fails the run.
      WaitUntil(
          [&] {
            FailOnBox();
            return !IsWindowVisible(gWindow);
          },
          L"the window to hide");
      WaitUntil(
          [&] {
            FailOnBox();
            return WindowUsable();
          },
          L"the window to come back", 300);
    } else if (command == L"report") {
      std::wprintf(L"report:\n%ls\n", ReportText().c_str());
    } else if (command == L"save") {
      SaveReport(next());
    } else if (command == L"pick") {
      Pick(next());
    } else if (command == L"shot") {
      const std::wstring path = next();
      WaitUntil(WindowUsable, L"the window to settle");
      const HANDLE ready = CreateFileW((path + L".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr);
      if (ready == INVALID_HANDLE_VALUE) Fail(L"cannot create " + path + L".ready");
      CloseHandle(ready);
      WaitUntil([&] { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }, L"the picture " + path);
    } else if (command == L"check") {
      CheckWindow();
    } else if (command == L"close") {
      Click(FindChild(L"Button", L"Close"));
      if (WaitForSingleObject(gProcess, 30000) != WAIT_OBJECT_0) Fail(L"the program did not end");
      DWORD code = 1;
      GetExitCodeProcess(gProcess, &code);
      if (code != 0) Fail(L"the program ended with code " + std::to_wstring(code));
      std::wprintf(L"closed\n");
      return 0;
    } else {
      Fail(L"unknown command " + command);
    }
    std::fflush(stdout);
  }
  TerminateProcess(gProcess, 0);
  return 0;
}
