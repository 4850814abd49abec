// Starting a program from one command line and waiting for it.
//
// The upgrade tool describes the program to run by a single command line, in
// the form the Windows process API takes. Here that line is split into
// arguments by the same rules Windows programs use to read their command line,
// and the program is spawned with them; so a quoted item such as
// "-SA B" arrives as the one argument -SA B on every platform.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zo {

// Splits a command line by the Windows rules:
// - the first item (the program) ends at the first blank outside quotes;
//   quotes in it only group, backslashes are plain characters;
// - in the other items, blanks outside quotes separate; 2n backslashes before
//   a quote give n backslashes and the quote toggles quoting; 2n+1 give n
//   backslashes and a literal quote; "" inside quotes is a literal quote;
//   backslashes before anything else are plain characters.
std::vector<std::u16string> SplitCommandLine(std::u16string_view commandLine);

// One item of a command line for StartProcess, enclosed in quotes as a
// whole (switch included), written so that the started program reads it back
// as it is, blanks and a trailing backslash included:
// - on Windows the upgrade programs read their own command line by
//   SplitProgramCommandLine, so the value goes in verbatim, nothing escaped
//   (a quote inside the value cannot travel);
// - on POSIX StartProcess splits the line by SplitCommandLine, so
//   backslashes before a quote and quotes are escaped for those rules.
std::u16string QuoteCommandLineItem(std::u16string_view item);

// Splits a command line the way the upgrade programs read theirs on
// Windows: blanks outside quotes separate items, a quote only toggles
// quoting and a backslash is always a backslash ("-iC:\app\" arrives
// whole, where SplitCommandLine would read \" as an escaped quote).
std::vector<std::u16string> SplitProgramCommandLine(std::u16string_view commandLine);

// A child process started by StartProcess. Waits for nothing on destruction:
// a started program is the caller's to wait for (Wait), as the tool must see
// it end before it reads the program's results.
class ChildProcess {
 public:
  explicit ChildProcess(std::intptr_t process) : FPid(process) {}
  ChildProcess(ChildProcess&& other) noexcept : FPid(other.FPid) { other.FPid = -1; }
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ~ChildProcess();

  // Blocks until the program ends, without a time limit. Returns its exit
  // code (on Windows the whole 32-bit code), or 128 + signal number when a
  // signal ended it.
  int Wait();

 private:
  // The system's process id on POSIX, the process's HANDLE on Windows; -1
  // once waited for.
  std::intptr_t FPid;
};

// Starts the program that the command line names, with the caller's
// environment and working directory. When the first item is not quoted and
// names no file, blanks in it are taken as part of the path one at a time
// ("/opt/my tools/Lifter.exe -x" finds "/opt/my tools/Lifter.exe"), as the
// Windows loader does with an unquoted program path.
// Returns nothing when the program cannot be started; errorCode then holds
// the system's reason (errno).
std::optional<ChildProcess> StartProcess(std::u16string_view commandLine, int* errorCode = nullptr);

// From now on, large buffers go back to the system as soon as they are
// freed, rather than being kept by the allocator for reuse. Threads that hand
// blocks of a MiB or more to each other otherwise leave the allocator
// holding far more than is ever in use at once.
void ReturnLargeBuffersAtOnce();

// The most memory this process has held resident so far, in KiB (what the
// benchmarks report beside their speed).
long PeakResidentKiB();
// The processor time the calling thread has used, in seconds: on a shared
// machine it shows the work done, where wall time also shows everyone else's.
double ThreadCpuSeconds();

}  // namespace zo
