#include "data/LifterContract.h"

#include "core/StringUtils.h"
#include "crypt/CryptUtils.h"
#include "crypt/SystemKey.h"
#include "platform/FileSystem.h"

namespace zo {

namespace {

// The ASCII and Latin-1 capitals (but the multiplication sign) lie 32 below
// their small letters.
char16_t FoldCase(char16_t c) {
  if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
  return c;
}

}  // namespace

String ToolFilePath(StringView ToolDirectory, StringView FileName) {
  return IncludeTrailingPathDelimiter(ToolDirectory) + String(FileName);
}

String ProgramFolderName(StringView Version) { return kProgramFolderPrefix + String(Version); }

String DataFolderName(StringView Version) { return kDataFolderPrefix + String(Version); }

std::optional<String> VersionOfProgramFolder(StringView FolderName) {
  const StringView prefix = kProgramFolderPrefix;
  if (FolderName.size() <= prefix.size() || FolderName.substr(0, prefix.size()) != prefix) return std::nullopt;
  return String(FolderName.substr(prefix.size()));
}

bool SameVersion(StringView A, StringView B) {
  if (A.size() != B.size()) return false;
  for (std::size_t i = 0; i < A.size(); ++i)
    if (FoldCase(A[i]) != FoldCase(B[i])) return false;
  return true;
}

int IndexOfVersion(const std::vector<String>& Versions, StringView Version) {
  for (std::size_t i = 0; i < Versions.size(); ++i)
    if (SameVersion(Versions[i], Version)) return static_cast<int>(i);
  return -1;
}

String StampText(StringView Version, TCDBVersionType VersionType) {
  return String(Version) + u"," + IntToStr(static_cast<int>(VersionType));
}

TStampText ParseStampText(StringView Text) {
  TStampText stamp;
  stamp.VersionType = TCDBVersionTypeHelper::FromString(TextAfterComma(Text));
  stamp.Version = TextBeforeComma(Text);
  return stamp;
}

Bytes EncipherStamp(StringView Text) { return TCryptUtils::SystemEncode(Utf16LEBytes(Text)); }

String DecipherStamp(std::span<const std::uint8_t> Cipher) { return AESDecodeToText(Cipher, SystemKey); }

}  // namespace zo
