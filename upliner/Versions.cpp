#include "upliner/Versions.h"

#include "core/Exception.h"
#include "core/Exceptions.h"
#include "platform/Environment.h"
#include "platform/TextFile.h"
#include "platform/Utf.h"

namespace zo {

namespace {

// Case-insensitive comparison for the versions' letters. Versions are short
// texts like "5.2a"; folding the ASCII and Latin-1 letters covers them.
char16_t FoldCase(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
  return c;
}

bool SameTextIgnoringCase(StringView a, StringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldCase(a[i]) != FoldCase(b[i])) return false;
  return true;
}

}  // namespace

String VersionsFilePath(StringView Directory) {
  String path(Directory);
  if (path.empty() || path.back() != PathDelimiter) path += PathDelimiter;
  return path + kVersionsFileName;
}

void SaveStringsToFile(StringView Path, const std::vector<String>& Lines) {
  std::string bytes;
  for (const String& line : Lines) {
    bytes += ToUtf8(line);
    bytes += "\r\n";
  }
  if (const int error = WriteWholeFile(Path, bytes); error != 0)
    throw EFCreateError(kSFCreateError, {String(Path), SystemErrorText(error)});
}

int IndexOfVersion(const std::vector<String>& Versions, StringView Version) {
  for (std::size_t i = 0; i < Versions.size(); ++i)
    if (SameTextIgnoringCase(Versions[i], Version)) return static_cast<int>(i);
  return -1;
}

}  // namespace zo
