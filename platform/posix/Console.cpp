#include "platform/Console.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>

#include "platform/Descriptor.h"

namespace zo {

namespace {

// Owns the terminal's descriptor for the length of one question.
class Terminal {
 public:
  Terminal() : FTerminal(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}

  bool IsOpen() const { return FTerminal.IsOpen(); }

  // Gives up quietly on an error: what is written here is only shown.
  void Write(const std::string& text) {
    std::int64_t moved = 0;
    FTerminal.Write(text.data(), static_cast<std::int64_t>(text.size()), moved);
  }

  // One line without its end; false at end of input or on an error.
  bool ReadLine(std::string& line) {
    line.clear();
    char c;
    for (;;) {
      std::int64_t moved = 0;
      if (FTerminal.Read(&c, 1, moved) != 0 || moved == 0) return !line.empty();
      if (c == '\n') return true;
      if (c != '\r') line += c;
    }
  }

 private:
  TDescriptor FTerminal;
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

bool StandardErrorIsTerminal() { return ::isatty(STDERR_FILENO) == 1; }

int StandardErrorColumns() {
  struct winsize size {};
  if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) return size.ws_col;
  return 80;
}

void IgnoreClosedPipes() { std::signal(SIGPIPE, SIG_IGN); }

void WriteStandardOutput(const std::string& text) {
  std::int64_t moved = 0;
  WriteAll(STDOUT_FILENO, text.data(), static_cast<std::int64_t>(text.size()), moved);
}

void WriteStandardError(const std::string& text) {
  std::int64_t moved = 0;
  WriteAll(STDERR_FILENO, text.data(), static_cast<std::int64_t>(text.size()), moved);
}

}  // namespace zo
