// platform/TempFile.h on POSIX: the temporary directory is $TMPDIR when it
// is set and names a directory, else /tmp; files come from mkostemp (the
// prefix and six letters, readable and writable by the owner only) in the
// directory with its links resolved.
#include "platform/TempFile.h"

#include <cerrno>
#include <fcntl.h>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "platform/Utf.h"

namespace zo {

std::u16string TempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = "/tmp";
  struct stat st;
  if (tmp != nullptr && *tmp != '\0' && ::stat(tmp, &st) == 0 && S_ISDIR(st.st_mode)) dir = tmp;
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return FromOsPath(dir);
}

std::u16string CreateTempFile(std::u16string_view dir, std::u16string_view prefix, int* error) {
  std::string base = ToOsPath(dir.empty() ? TempDirectory() : std::u16string(dir));
  char resolved[PATH_MAX];
  if (::realpath(base.c_str(), resolved) == nullptr) {
    if (error != nullptr) *error = errno;
    return {};
  }
  base = resolved;
  if (base.back() != '/') base += '/';
  std::string pattern = base + ToOsPath(prefix) + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) {
    if (error != nullptr) *error = errno;
    return {};
  }
  ::close(fd);
  if (error != nullptr) *error = 0;
  return FromOsPath(buffer.data());
}

}  // namespace zo
