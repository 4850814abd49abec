// platform/Console.h on POSIX: the terminal is /dev/tty, the process's
// controlling terminal; standard error is a terminal when isatty says so,
// and its width is the terminal's window size. A closed pipe raises SIGPIPE,
// which IgnoreClosedPipes turns into an EPIPE error. The streams take UTF-8
// bytes as they are.
#include "platform/Console.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/Descriptor.h"
#include "platform/Terminal.h"

namespace zo {

TTerminal::TTerminal() : FInput(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}

bool TTerminal::IsOpen() const { return FInput.IsOpen(); }

void TTerminal::Write(const std::string& text) {
  std::int64_t moved = 0;
  FInput.Write(text.data(), static_cast<std::int64_t>(text.size()), moved);
}

bool TTerminal::ReadLine(std::string& line) {
  line.clear();
  char c;
  for (;;) {
    std::int64_t moved = 0;
    if (FInput.Read(&c, 1, moved) != 0 || moved == 0) return !line.empty();
    if (c == '\n') return true;
    if (c != '\r') line += c;
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
