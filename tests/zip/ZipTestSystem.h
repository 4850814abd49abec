// What the engine's tests ask of the operating system beyond plain files:
// the peer tools, links, permission bits and a child process. Each has a
// POSIX body (ZipTestSystemPosix.cpp) and a Windows one
// (ZipTestSystemWin32.cpp). Under Wine some cannot be shown; a test that
// needs one is skipped, visibly, with the reason the Why... function gives:
//
//   ZO_SKIP_UNLESS_SHOWN(test::WhyNoLinks());
#pragma once

#include <string>

namespace zo::test {

// Empty where the facility is there; otherwise why a test that needs it is
// skipped.
std::string WhyNoPeers();        // unzip, 7z, bsdtar and Python's zipfile
std::string WhyNoSymbolicLinks();
std::string WhyNoModes();        // POSIX permission bits
std::string WhyNoDetachedChild();   // a child process without a terminal
std::string WhyNoPosixPaths();   // "/d/" absolute, ':' a name character
std::string WhyNoFileSizeLimit();   // TFileSizeLimit

// A shell command's exit status and its standard output and error together;
// status -1 and the reason where no peer runs.
struct CommandResult {
  int status = -1;
  std::string output;
};
CommandResult RunShellCommand(const std::string& command);

// The environment variable that names the temporary directory.
const char* TempDirVariable();

// Each is false where the facility is missing (see above).
bool MakeSymbolicLink(const std::string& target, const std::string& link);
bool MakeHardLink(const std::string& target, const std::string& link);
bool SetModeBits(const std::string& path, unsigned mode);
// The permission bits (07777) of path, or -1.
int ModeBits(const std::string& path);
// How many names the file has, or -1.
int LinkCount(const std::string& path);

// Runs body in a child process that has no controlling terminal and whose
// standard output goes nowhere; the child's exit code (body's result), or -1.
int RunDetached(int (*body)());

// While it lives, no file this process writes may grow past a size: a write
// past it fails (EFBIG) as one on a full disk does, on every thread. Does
// nothing where the facility is missing.
class TFileSizeLimit {
 public:
  explicit TFileSizeLimit(long long bytes);
  ~TFileSizeLimit();
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

 private:
  bool FSet = false;          // a limit was set here
  unsigned long long FOldLimit = 0;   // the soft limit before
};

}  // namespace zo::test

// Skips the test when why (one of the Why... results) is not empty.
#define ZO_SKIP_UNLESS_SHOWN(why)                   \
  do {                                              \
    const std::string zoWhyNot = (why);             \
    if (!zoWhyNot.empty()) GTEST_SKIP() << zoWhyNot; \
  } while (0)
