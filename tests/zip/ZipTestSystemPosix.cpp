#include "tests/zip/ZipTestSystem.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>

namespace zo::test {

std::string WhyNoPeers() { return {}; }
std::string WhyNoSymbolicLinks() { return {}; }
std::string WhyNoModes() { return {}; }
std::string WhyNoDetachedChild() { return {}; }
std::string WhyNoPosixPaths() { return {}; }

CommandResult RunShellCommand(const std::string& command) {
  CommandResult result;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return result;
  std::array<char, 4096> buffer;
  std::size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) result.output.append(buffer.data(), n);
  const int raw = ::pclose(pipe);
  result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  return result;
}

const char* TempDirVariable() { return "TMPDIR"; }

bool MakeSymbolicLink(const std::string& target, const std::string& link) {
  return ::symlink(target.c_str(), link.c_str()) == 0;
}

bool MakeHardLink(const std::string& target, const std::string& link) {
  return ::link(target.c_str(), link.c_str()) == 0;
}

bool SetModeBits(const std::string& path, unsigned mode) { return ::chmod(path.c_str(), mode) == 0; }

int ModeBits(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_mode & 07777) : -1;
}

int LinkCount(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<int>(st.st_nlink) : -1;
}

int RunDetached(int (*body)()) {
  const pid_t child = ::fork();
  if (child < 0) return -1;
  if (child == 0) {
    ::setsid();
    if (std::freopen("/dev/null", "w", stdout) == nullptr) ::_exit(127);
    ::_exit(body());
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace zo::test
