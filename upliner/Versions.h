// Versions.sl: the database versions the tool can upgrade through, one per
// line, oldest first, kept beside the program.
#pragma once

#include <vector>

#include "core/String.h"
#include "core/TextFileLines.h"  // LoadStringsFromFile, which reads Versions.sl

namespace zo {

inline constexpr char16_t kVersionsFileName[] = u"Versions.sl";

// The path of Versions.sl in Directory.
String VersionsFilePath(StringView Directory);

// Writes Lines to the file at Path, each followed by CR LF, in UTF-8 without
// a byte-order mark; an existing file is replaced. A failure raises
// EFCreateError "Cannot create file "%s". %s" with the system's reason.
void SaveStringsToFile(StringView Path, const std::vector<String>& Lines);

// The 0-based position of the first line equal to Version when letter case
// is ignored, or -1.
int IndexOfVersion(const std::vector<String>& Versions, StringView Version);

}  // namespace zo
