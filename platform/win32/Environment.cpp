#include "platform/Environment.h"

#include <vector>

#include "platform/win32/Win32.h"

namespace zo {

std::optional<std::u16string> GetEnvironmentVariable(const std::u16string& name) {
  std::vector<wchar_t> buffer(256);
  for (;;) {
    ::SetLastError(ERROR_SUCCESS);
    const DWORD n = ::GetEnvironmentVariableW(Wide(name), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::u16string();   // set, and empty
    }
    if (n < buffer.size()) return FromWide(buffer.data(), n);
    buffer.resize(n);
  }
}

std::u16string GetHostName() {
  wchar_t buffer[256];
  DWORD size = sizeof buffer / sizeof buffer[0];
  if (!::GetComputerNameExW(ComputerNameDnsHostname, buffer, &size)) return {};
  return FromWide(buffer, size);
}

std::u16string ExecutableDirectory() {
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return GetCurrentDir();
    if (n < buffer.size()) {
      const std::u16string exe = FromNativePath(FromWide(buffer.data(), n));
      return ExcludeTrailingPathDelimiter(ExtractFilePath(exe));
    }
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace zo
