// Text files read and written as lines, shared by the upgrade tool and the
// upgrade program (Versions.sl, installation files, scripts, result files,
// saved reports).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "core/String.h"

namespace zo {

// The lines of the text file at Path, in file order. A byte-order mark
// selects UTF-8 or UTF-16, otherwise UTF-8 is read; CR LF, LF and CR end a
// line, and every line counts, an empty one included (a line break at the
// very end does not start another line). A file that cannot be read raises
// EFOpenError "Cannot open file "%s". %s" with the system's reason.
std::vector<String> LoadStringsFromFile(StringView Path);
// The lines of a text file's bytes, read as LoadStringsFromFile reads them.
std::vector<String> TextToLines(std::string_view Bytes);

// The bytes of Lines as a text file: UTF-8 without a byte-order mark, each
// line followed by CR LF.
std::string LinesToText(const std::vector<String>& Lines);

// Writes LinesToText(Lines) to the file at Path; an existing file is replaced. A failure raises
// EFCreateError "Cannot create file "%s". %s" with the system's reason.
void SaveStringsToFile(StringView Path, const std::vector<String>& Lines);

}  // namespace zo
