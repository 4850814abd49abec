#include "tests/zip/ZipTestSystem.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <cstdio>

namespace zo::test {

std::string WhyNoPeers() { return {}; }
std::string WhyNoSymbolicLinks() { return {}; }
std::string WhyNoModes() { return {}; }
std::string WhyNoDetachedChild() { return {}; }
std::string WhyNoPosixPaths() { return {}; }
std::string WhyNoFileSizeLimit() { return {}; }

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

namespace zo::test {

// The signal a write past the limit raises would end the process: it is
// ignored for the limit's life, so that the write fails instead.
TFileSizeLimit::TFileSizeLimit(long long bytes) {
  struct rlimit limit {};
  if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return;
  FOldLimit = static_cast<unsigned long long>(limit.rlim_cur);
  std::signal(SIGXFSZ, SIG_IGN);
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  FSet = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

TFileSizeLimit::~TFileSizeLimit() {
  if (!FSet) return;
  struct rlimit limit {};
  ::getrlimit(RLIMIT_FSIZE, &limit);
  limit.rlim_cur = static_cast<rlim_t>(FOldLimit);
  ::setrlimit(RLIMIT_FSIZE, &limit);
  std::signal(SIGXFSZ, SIG_DFL);
}

}  // namespace zo::test
