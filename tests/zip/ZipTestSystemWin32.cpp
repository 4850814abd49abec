#include "tests/zip/ZipTestSystem.h"

namespace zo::test {

// The Windows suites run under Wine on Linux: the peers are Linux programs,
// Wine makes no symbolic links, files have no POSIX modes (the hard-link case
// checks them), and there is no fork to start a child without a terminal.
std::string WhyNoPeers() { return "the peer tools (unzip, 7z, bsdtar, python3) are Linux programs, not run under Wine"; }
std::string WhyNoSymbolicLinks() { return "Wine creates no symbolic links"; }
std::string WhyNoModes() { return "Windows files have no POSIX permission bits"; }
std::string WhyNoDetachedChild() { return "Windows has no fork to run the question in a child without a terminal"; }
std::string WhyNoPosixPaths() { return "a Windows path has a drive, and ':' separates it rather than being a name character"; }
std::string WhyNoFileSizeLimit() { return "Windows has no limit on the size of the files a process writes"; }

CommandResult RunShellCommand(const std::string&) { return {-1, WhyNoPeers()}; }

// GetTempPathW reads TMP first.
const char* TempDirVariable() { return "TMP"; }

bool MakeSymbolicLink(const std::string&, const std::string&) { return false; }
bool MakeHardLink(const std::string&, const std::string&) { return false; }
bool SetModeBits(const std::string&, unsigned) { return false; }
int ModeBits(const std::string&) { return -1; }
int LinkCount(const std::string&) { return -1; }
int RunDetached(int (*)()) { return -1; }

TFileSizeLimit::TFileSizeLimit(long long) {}
TFileSizeLimit::~TFileSizeLimit() = default;

}  // namespace zo::test
