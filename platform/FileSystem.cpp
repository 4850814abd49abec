// The parts of platform/FileSystem.h that are text alone, the same on every
// system: wildcard masks and the splitting of paths.
#include "platform/FileSystem.h"

#include <algorithm>
#include <vector>

namespace zo {

namespace {

char16_t LowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; }

}  // namespace

bool MatchesMask(std::u16string_view name, std::u16string_view mask) {
  if (mask == u"*.*") return true;
  // Greedy match with one back-tracking point: linear in practice and never
  // exponential, whatever the mask holds.
  size_t n = 0, m = 0;
  size_t starMask = std::u16string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == u'*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && (mask[m] == u'?' || LowerAscii(mask[m]) == LowerAscii(name[n]))) {
      ++m;
      ++n;
    } else if (starMask != std::u16string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == u'*') ++m;
  return m == mask.size();
}

std::u16string IncludeTrailingPathDelimiter(std::u16string_view path) {
  std::u16string result(path);
  if (result.empty() || !IsPathSeparator(result.back())) result += u'/';
  return result;
}

std::u16string ExcludeTrailingPathDelimiter(std::u16string_view path) {
  std::u16string result(path);
  if (result.size() > 1 && IsPathSeparator(result.back())) result.pop_back();
  return result;
}

std::u16string SlashedPath(std::u16string_view path) {
  std::u16string result(path);
  std::replace(result.begin(), result.end(), u'\\', u'/');
  return result;
}

std::u16string ResolvedSteps(std::u16string_view steps) {
  std::vector<std::u16string> parts;
  std::u16string part;
  auto flush = [&] {
    if (part == u"..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != u".") {
      parts.push_back(part);
    }
    part.clear();
  };
  for (char16_t c : steps) {
    if (IsPathSeparator(c)) flush();
    else part += c;
  }
  flush();
  std::u16string result;
  for (const std::u16string& p : parts) result += u'/' + p;
  if (result.empty()) return u"/";
  if (IsPathSeparator(steps.back())) result += u'/';
  return result;
}

std::u16string ExtractFilePath(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return std::u16string(path.substr(0, i));
  }
  return std::u16string();
}

std::u16string ExtractFileName(std::u16string_view path) {
  for (size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return std::u16string(path.substr(i));
  }
  return std::u16string(path);
}

void SortByName(std::vector<TSearchRec>& listing) {
  std::sort(listing.begin(), listing.end(), [](const TSearchRec& a, const TSearchRec& b) { return a.Name < b.Name; });
}

}  // namespace zo
