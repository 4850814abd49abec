// Whole text files: reading with byte-order-mark detection and writing
// UTF-8, the system's code page here.
//
// The functions report failures as errno values rather than raising, so that
// callers above can wrap them into the system's own file errors.
#pragma once

#include <string>
#include <string_view>

namespace zo {

// Reads every byte of the file at path (UTF-16, converted to UTF-8 for the
// system). Returns 0 and fills bytes, or the errno value of the failure.
int ReadWholeFile(std::u16string_view path, std::string& bytes);

// Creates the file at path or replaces what it held, and writes bytes into
// it. Returns 0, or the errno value of the failure.
int WriteWholeFile(std::u16string_view path, std::string_view bytes);

// Turns the bytes of a text file into text. A byte-order mark selects the
// encoding (UTF-8, UTF-16 little-endian or big-endian) and is dropped;
// without one the bytes are read as UTF-8, this system's code page. An odd
// last byte of a UTF-16 file is ignored.
std::u16string DecodeTextFile(std::string_view bytes);

}  // namespace zo
