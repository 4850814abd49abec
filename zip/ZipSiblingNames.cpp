#include "zip/ZipSiblingNames.h"

#include <map>
#include <set>

#include "platform/CodePage.h"
#include "platform/Utf.h"

namespace zo {

namespace {

// The name with each byte that was not UTF-8 shown as '%' and two hex digits.
String WithBytesShown(StringView name) {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  String result;
  for (const char16_t c : name) {
    const int byte = EscapedByte(c);
    if (byte < 0) {
      result += c;
    } else {
      result += u'%';
      result += kHex[byte >> 4];
      result += kHex[byte & 0xF];
    }
  }
  return result;
}

// name, or when that is taken, name with "~2", "~3" ... before its extension.
String FreeName(const String& name, const std::set<String>& taken) {
  if (!taken.contains(name)) return name;
  const std::size_t dot = name.rfind(u'.');
  const std::size_t at = dot == String::npos || dot == 0 ? name.size() : dot;
  for (int n = 2;; ++n) {
    String candidate = name.substr(0, at) + u"~" + AsciiToString(std::to_string(n)) + name.substr(at);
    if (!taken.contains(candidate)) return candidate;
  }
}

}  // namespace

void TSiblingNames::NoteDirectory(const String& dir, const std::vector<TSearchRec>& listing,
                                  const std::vector<TSearchRec>& moreListing) {
  bool foreign = false;
  for (const auto* list : {&listing, &moreListing}) {
    for (const TSearchRec& rec : *list) foreign = foreign || HasEscapedBytes(rec.Name);
  }
  if (!foreign) return;
  // Reading -> the names on disk that read so.
  std::map<String, std::set<String>> readings;
  for (const auto* list : {&listing, &moreListing}) {
    for (const TSearchRec& rec : *list) readings[ReadableFileName(rec.Name)].insert(rec.Name);
  }
  std::set<String> taken;
  for (const auto& [reading, names] : readings) taken.insert(reading);
  const String prefix = IncludeTrailingPathDelimiter(dir);
  for (const auto& [reading, names] : readings) {
    if (names.size() < 2) continue;
    for (const String& name : names) {
      if (!HasEscapedBytes(name)) continue;
      const String stored = FreeName(ReadableFileName(WithBytesShown(name)), taken);
      taken.insert(stored);
      FRenamed[prefix + name] = stored;
    }
  }
}

String TSiblingNames::EntryName(const String& storedName, const String& fullPath) const {
  if (FRenamed.empty() || !HasEscapedBytes(storedName)) return ReadableFileName(storedName);
  // The stored name is the end of the full path: its elements, last to
  // first, are those of the full path, so each is looked up under the full
  // path up to itself.
  String result;
  std::size_t storedEnd = storedName.size();
  std::size_t fullEnd = fullPath.size();
  while (fullEnd > 0 && IsPathSeparator(fullPath[fullEnd - 1])) --fullEnd;
  for (;;) {
    std::size_t storedStart = storedEnd;
    while (storedStart > 0 && storedName[storedStart - 1] != u'/') --storedStart;
    const StringView element = StringView(storedName).substr(storedStart, storedEnd - storedStart);
    const auto renamed = FRenamed.find(fullPath.substr(0, fullEnd));
    const bool same = fullEnd >= element.size() && StringView(fullPath).substr(fullEnd - element.size(), element.size()) == element;
    result.insert(0, same && renamed != FRenamed.end() ? renamed->second : ReadableFileName(element));
    if (storedStart == 0) break;
    result.insert(0, u"/");
    storedEnd = storedStart - 1;
    fullEnd -= std::min(fullEnd, element.size());
    while (fullEnd > 0 && IsPathSeparator(fullPath[fullEnd - 1])) --fullEnd;
  }
  return result;
}

}  // namespace zo
