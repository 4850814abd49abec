// The system's reason for a failure, as text.
//
// Platform functions report failures as errno values on every system (the
// Windows implementation translates its own error codes to them), so one
// number means one reason everywhere above this folder.
#pragma once

#include <string>

namespace zo {

// "No such file or directory" for ENOENT, and so on.
std::u16string ErrorText(int error);

}  // namespace zo
