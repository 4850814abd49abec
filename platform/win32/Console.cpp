// platform/Console.h on Windows: the terminal is the process's console
// (CONIN$ and CONOUT$); a standard stream is a terminal when it is a console
// handle, and text goes onto a console as characters (WriteConsoleW), into a
// file or a pipe as UTF-8 bytes. A closed pipe is an error of the write, no
// signal.
#include "platform/Console.h"

#include "platform/Terminal.h"
#include "platform/Utf.h"
#include "platform/win32/Win32.h"

namespace zo {

namespace {

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && ::GetConsoleMode(handle, &mode);
}

// UTF-8 text onto a handle: as characters on a console (whose code page may
// be anything), as bytes into a file or a pipe.
void WriteText(HANDLE handle, const std::string& text) {
  if (IsConsole(handle)) {
    const std::u16string wide = FromUtf8(text);
    DWORD written = 0;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::size_t done = 0;
  while (done < text.size()) {
    DWORD written = 0;
    if (!::WriteFile(handle, text.data() + done, static_cast<DWORD>(text.size() - done), &written, nullptr) ||
        written == 0)
      return;
    done += written;
  }
}

}  // namespace

TTerminal::TTerminal()
    : FInput(ValueOf(::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, 0, nullptr))),
      FOutput(ValueOf(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, 0, nullptr))) {}

bool TTerminal::IsOpen() const { return IsConsole(HandleOf(FInput)) && IsConsole(HandleOf(FOutput)); }

void TTerminal::Write(const std::string& text) { WriteText(HandleOf(FOutput), text); }

bool TTerminal::ReadLine(std::string& line) {
  std::u16string wide;
  for (;;) {
    wchar_t c = 0;
    DWORD read = 0;
    if (!::ReadConsoleW(HandleOf(FInput), &c, 1, &read, nullptr) || read == 0) break;
    if (c == L'\n') {
      line = ToUtf8(wide);
      return true;
    }
    if (c != L'\r') wide += static_cast<char16_t>(c);
  }
  line = ToUtf8(wide);
  return !line.empty();
}

bool StandardErrorIsTerminal() {
  const HANDLE error = ::GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(error, &mode)) return false;
  // The progress line ends with an escape that clears the rest of the line,
  // which a console shows as meant only in this mode.
  ::SetConsoleMode(error, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
  return true;
}

int StandardErrorColumns() {
  CONSOLE_SCREEN_BUFFER_INFO info{};
  if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_ERROR_HANDLE), &info)) {
    const int columns = info.srWindow.Right - info.srWindow.Left + 1;
    if (columns > 0) return columns;
  }
  return 80;
}

// Writing into a pipe whose reader has gone fails with ERROR_NO_DATA here;
// no signal ends the process.
void IgnoreClosedPipes() {}

void WriteStandardOutput(const std::string& text) { WriteText(::GetStdHandle(STD_OUTPUT_HANDLE), text); }

void WriteStandardError(const std::string& text) { WriteText(::GetStdHandle(STD_ERROR_HANDLE), text); }

}  // namespace zo
