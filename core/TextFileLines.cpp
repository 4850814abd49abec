#include "core/TextFileLines.h"

#include <string>

#include "core/Exception.h"
#include "core/StringUtils.h"
#include "platform/TextFile.h"
#include "platform/Utf.h"

namespace zo {

std::vector<String> LoadStringsFromFile(StringView Path) {
  std::string bytes;
  if (const int error = ReadWholeFile(Path, bytes); error != 0) RaiseOpenError(Path, error);
  return SplitLines(DecodeTextFile(bytes));
}

void SaveStringsToFile(StringView Path, const std::vector<String>& Lines) {
  std::string bytes;
  for (const String& line : Lines) {
    bytes += ToUtf8(line);
    bytes += "\r\n";
  }
  if (const int error = WriteWholeFile(Path, bytes); error != 0) RaiseCreateError(Path, error);
}

}  // namespace zo
