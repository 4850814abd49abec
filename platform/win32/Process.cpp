#include "platform/Process.h"

#include "platform/win32/Win32.h"

namespace zo {

ChildProcess::~ChildProcess() {
  if (FPid != -1) ::CloseHandle(reinterpret_cast<HANDLE>(FPid));
}

int ChildProcess::Wait() {
  if (FPid == -1) return -1;
  const HANDLE process = reinterpret_cast<HANDLE>(std::exchange(FPid, -1));
  DWORD code = 0;
  const bool ended = ::WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 && ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  return ended ? static_cast<int>(code) : -1;
}

std::optional<ChildProcess> StartProcess(std::u16string_view commandLine, int* errorCode) {
  // The system splits the line and finds the program itself, an unquoted
  // path with blanks included: the rules platform/Process.h describes are
  // its own.
  std::u16string line(commandLine);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(nullptr, reinterpret_cast<wchar_t*>(line.data()), nullptr, nullptr, FALSE, 0, nullptr,
                        nullptr, &startup, &started)) {
    if (errorCode != nullptr) *errorCode = LastErrno();
    return std::nullopt;
  }
  ::CloseHandle(started.hThread);
  return ChildProcess(ValueOf(started.hProcess));
}

}  // namespace zo
