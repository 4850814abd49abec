#include "platform/Environment.h"

#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/Utf.h"

namespace zo {

std::optional<std::u16string> GetEnvironmentVariable(const std::u16string& name) {
  const char* value = std::getenv(ToUtf8(name).c_str());
  if (value == nullptr) return std::nullopt;
  return FromUtf8(value);
}

std::u16string GetHostName() {
  char buffer[HOST_NAME_MAX + 1] = {};
  if (gethostname(buffer, sizeof buffer - 1) != 0) return {};
  return FromUtf8(buffer);
}

std::u16string ExecutableDirectory() {
  std::error_code ec;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return FromUtf8(std::filesystem::current_path().string());
  return FromUtf8(exe.parent_path().string());
}

}  // namespace zo
