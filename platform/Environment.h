// The process's surroundings: environment variables, the host's name and
// where the running executable lives.
#pragma once

#include <optional>
#include <string>

namespace zo {

// The variable's value, or nothing when it is not set.
std::optional<std::u16string> GetEnvironmentVariable(const std::u16string& name);

// The machine's network host name (empty when the system cannot tell).
std::u16string GetHostName();

// The directory that holds the running executable, with no trailing separator.
std::u16string ExecutableDirectory();

// The separator of path components on this platform.
inline constexpr char16_t PathDelimiter = u'/';

}  // namespace zo
