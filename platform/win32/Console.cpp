#include "platform/Console.h"

#include <cctype>

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

// Owns the console's input and output for the length of one question; the
// standard handles may be redirected, the console itself is the person.
class Terminal {
 public:
  Terminal()
      : FInput(ValueOf(::CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, 0, nullptr))),
        FOutput(ValueOf(::CreateFileW(L"CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_EXISTING, 0, nullptr))) {}

  bool IsOpen() const { return IsConsole(HandleOf(FInput)) && IsConsole(HandleOf(FOutput)); }

  void Write(const std::string& text) { WriteText(HandleOf(FOutput), text); }

  // One line without its end; false at end of input or on an error.
  bool ReadLine(std::string& line) {
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

 private:
  TDescriptor FInput;
  TDescriptor FOutput;
};

std::string Trimmed(const std::string& text) {
  std::size_t first = 0, last = text.size();
  while (first < last && std::isspace(static_cast<unsigned char>(text[first]))) ++first;
  while (last > first && std::isspace(static_cast<unsigned char>(text[last - 1]))) --last;
  return text.substr(first, last - first);
}

bool SameAscii(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

}  // namespace

int AskOnTerminal(const std::string& message, const std::vector<TConsoleChoice>& choices) {
  Terminal terminal;
  if (!terminal.IsOpen() || choices.empty()) return -1;
  std::string offer;
  for (std::size_t i = 0; i < choices.size(); ++i) {
    if (i > 0) offer += ", ";
    offer += "[" + choices[i].Key + "] " + choices[i].Label;
  }
  terminal.Write(message + "\n");
  for (;;) {
    terminal.Write(offer + "? ");
    std::string line;
    if (!terminal.ReadLine(line)) return -1;
    const std::string answer = Trimmed(line);
    for (std::size_t i = 0; i < choices.size(); ++i) {
      if (SameAscii(answer, choices[i].Key) || SameAscii(answer, choices[i].Label))
        return static_cast<int>(i);
    }
  }
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
