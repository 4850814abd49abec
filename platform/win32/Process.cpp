#include "platform/Process.h"

#include "platform/win32/Win32.h"

#include <psapi.h>

namespace zo {

std::u16string QuoteCommandLineItem(std::u16string_view item) {
  return u"\"" + std::u16string(item) + u"\"";
}

ChildProcess::~ChildProcess() {
  if (FPid != -1) ::CloseHandle(reinterpret_cast<HANDLE>(FPid));
}

int ChildProcess::Wait() {
  if (FPid == -1) return -1;
  const HANDLE process = reinterpret_cast<HANDLE>(std::exchange(FPid, -1));
  DWORD code = 0;
  // Alertable waits that an APC ends early are taken up again.
  DWORD waited;
  do {
    waited = ::WaitForSingleObjectEx(process, INFINITE, TRUE);
  } while (waited == WAIT_IO_COMPLETION);
  const bool ended = waited == WAIT_OBJECT_0 && ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  return ended ? static_cast<int>(code) : -1;
}

std::optional<ChildProcess> StartProcess(std::u16string_view commandLine, int* errorCode) {
  // The system splits the line and finds the program itself, an unquoted
  // path with blanks included: the rules platform/Process.h describes are
  // its own.
  // The program inherits the caller's inheritable handles, environment and
  // directory, at normal priority, its window shown normally.
  std::u16string line(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWNORMAL;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, TRUE,
                        NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &started)) {
    if (errorCode != nullptr) *errorCode = LastErrno();
    return std::nullopt;
  }
  ::CloseHandle(started.hThread);
  return ChildProcess(ValueOf(started.hProcess));
}

void ReturnLargeBuffersAtOnce() {
  // The system heap gives large blocks back on its own.
}

long PeakResidentKiB() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return static_cast<long>(counters.PeakWorkingSetSize / 1024);
}

double ThreadCpuSeconds() {
  FILETIME created, exited, kernel, user;
  if (!::GetThreadTimes(::GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  auto seconds = [](const FILETIME& t) {
    return static_cast<double>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

}  // namespace zo
