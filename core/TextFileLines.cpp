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
  return TextToLines(bytes);
}

std::vector<String> TextToLines(std::string_view Bytes) { return SplitLines(DecodeTextFile(Bytes)); }

std::string LinesToText(const std::vector<String>& Lines) {
  std::string bytes;
  for (const String& line : Lines) {
    bytes += ToUtf8(line);
    bytes += "\r\n";
  }
  return bytes;
}

void SaveStringsToFile(StringView Path, const std::vector<String>& Lines) {
  if (const int error = WriteWholeFile(Path, LinesToText(Lines)); error != 0) RaiseCreateError(Path, error);
}

}  // namespace zo
