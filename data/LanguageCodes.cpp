#include "data/LanguageCodes.h"

#include <algorithm>

#include "core/Exception.h"
#include "core/StringUtils.h"
#include "core/TextFileLines.h"
#include "data/LifterContract.h"
#include "platform/FileSystem.h"

namespace zo {

namespace {

bool Contains(const std::vector<TIDValue>& List, const TIDValue& Value) {
  return std::find(List.begin(), List.end(), Value) != List.end();
}

}  // namespace

TIDValue LanguageCodeFromText(StringView Code) {
  const std::size_t comma = Code.find(u',');
  std::int64_t ic = 0;
  std::int32_t u = 0;
  if (comma == StringView::npos || !TryStrToInt64(TrimBlanks(Code.substr(0, comma)), ic) ||
      !TryStrToInt(TrimBlanks(Code.substr(comma + 1)), u))
    throw Exception(u"Language code \"%s\" is not valid", {String(Code)});
  return TIDValue(ic, u);
}

std::vector<TIDValue> ReadTargetLanguages(StringView Directory) {
  const String path = ToolFilePath(Directory, kTargetLanguagesFileName);
  std::vector<TIDValue> languages;
  if (!PathEntryExists(path)) return languages;
  for (const String& line : LoadStringsFromFile(path)) {
    const String code = TrimBlanks(line);
    if (code.empty()) continue;
    TIDValue language;
    try {
      language = LanguageCodeFromText(code);
    } catch (const Exception&) {
      throw Exception(u"Language code \"%s\" in %s is not valid", {code, path});
    }
    if (!Contains(languages, language)) languages.push_back(language);
  }
  return languages;
}

TLanguageChanges CompareLanguages(const std::vector<TIDValue>& Installed, const std::vector<TIDValue>& Target,
                                  bool Insert, bool Delete) {
  TLanguageChanges changes;
  if (Installed.empty() || Target.empty()) return changes;
  if (Delete) {
    for (auto it = Installed.rbegin(); it != Installed.rend(); ++it)
      if (!Contains(Target, *it) && !Contains(changes.Deleted, *it)) changes.Deleted.push_back(*it);
  }
  if (Insert) {
    for (auto it = Target.rbegin(); it != Target.rend(); ++it)
      if (!Contains(Installed, *it)) changes.Inserted.push_back(*it);
  }
  return changes;
}

}  // namespace zo
