#include "platform/Console.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cctype>

namespace zo {

namespace {

// Writes all of text to fd (a signal or a full pipe may take it in pieces);
// gives up quietly on an error: what is written here is only shown.
void WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// Owns the terminal's descriptor for the length of one question.
class Terminal {
 public:
  Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  bool IsOpen() const { return fd_ >= 0; }

  void Write(const std::string& text) { WriteAll(fd_, text); }

  // One line without its end; false at end of input or on an error.
  bool ReadLine(std::string& line) {
    line.clear();
    char c;
    for (;;) {
      const ssize_t n = ::read(fd_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return !line.empty();
      if (c == '\n') return true;
      if (c != '\r') line += c;
    }
  }

 private:
  int fd_;
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

void WriteStandardError(const std::string& text) { WriteAll(STDERR_FILENO, text); }

}  // namespace zo
