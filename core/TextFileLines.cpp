#include "core/TextFileLines.h"

#include <string>

#include "core/Exception.h"
#include "core/Exceptions.h"
#include "platform/TextFile.h"

namespace zo {

std::vector<String> LoadStringsFromFile(StringView Path) {
  std::string bytes;
  if (const int error = ReadWholeFile(Path, bytes); error != 0)
    throw EFOpenError(kSFOpenError, {String(Path), SystemErrorText(error)});
  return SplitLines(DecodeTextFile(bytes));
}

}  // namespace zo
