// platform/TempFile.h on Windows: the temporary directory is GetTempPathW's
// (TMP, TEMP, USERPROFILE, the Windows directory); files come from
// GetTempFileNameW (the first three characters of the prefix and a
// hexadecimal number, ".tmp"), their path given in its long form.
#include "platform/TempFile.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/win32/Win32.h"

namespace zo {

std::u16string TempDirectory() {
  wchar_t buffer[MAX_PATH + 2];
  const DWORD n = ::GetTempPathW(MAX_PATH + 2, buffer);
  if (n == 0 || n > MAX_PATH + 1) return GetCurrentDir();
  return ExcludeTrailingPathDelimiter(FromNativePath(FromWide(buffer, n)));
}

std::u16string CreateTempFile(std::u16string_view dir, std::u16string_view prefix, int* error) {
  const std::u16string base = dir.empty() ? TempDirectory() : std::u16string(dir);
  // GetTempFileNameW works within MAX_PATH and takes the first three
  // characters of the prefix; the file it makes exists and is empty.
  wchar_t made[MAX_PATH];
  const std::u16string native = FromNativePath(ExpandFileName(base));
  std::u16string windowsDir = native;
  std::replace(windowsDir.begin(), windowsDir.end(), u'/', u'\\');
  if (::GetTempFileNameW(Wide(windowsDir), Wide(std::u16string(prefix)), 0, made) == 0) {
    // A directory that is not there is ERROR_DIRECTORY here; reported as
    // missing, as on POSIX.
    const int failure = LastErrno();
    if (error != nullptr) *error = DirectoryExists(native) ? failure : ENOENT;
    return {};
  }
  // The long form of the name: the temporary directory may be given in 8.3
  // form, and callers compare paths.
  std::vector<wchar_t> full(32768);
  const DWORD n = ::GetLongPathNameW(made, full.data(), static_cast<DWORD>(full.size()));
  if (error != nullptr) *error = 0;
  return FromNativePath(n > 0 && n < full.size() ? FromWide(full.data(), n) : FromWide(made));
}

}  // namespace zo
