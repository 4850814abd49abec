// Unique temporary files, made the way the system's "temporary file name"
// service makes them: a new empty file whose name is a prefix and a unique
// suffix, in a given directory or in the user's temporary directory. Which
// directory that is, and how the name is made, each body says at its top.
#pragma once

#include <string>
#include <string_view>

namespace zo {

// The user's temporary directory, as the system names it; no trailing
// separator.
std::u16string TempDirectory();

// Creates the file (empty, closed again, open to its owner as the system
// keeps such files) in dir (empty: TempDirectory()) and returns its
// canonical path. On
// failure returns an empty text and sets *error (when given) to the errno.
std::u16string CreateTempFile(std::u16string_view dir, std::u16string_view prefix,
                              int* error = nullptr);

}  // namespace zo
