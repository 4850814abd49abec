// The command line splitter of platform/Process.h: text alone, the same on
// every system.
#include "platform/Process.h"

namespace zo {

namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The program item: up to the first blank outside quotes; quotes only group.
size_t ReadProgramItem(std::u16string_view line, std::u16string& item) {
  size_t i = 0;
  bool quoted = false;
  for (; i < line.size(); ++i) {
    const char16_t c = line[i];
    if (c == u'"') {
      quoted = !quoted;
    } else if (IsBlank(c) && !quoted) {
      break;
    } else {
      item += c;
    }
  }
  return i;
}

}  // namespace

std::vector<std::u16string> SplitCommandLine(std::u16string_view line) {
  std::vector<std::u16string> args;
  size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i >= line.size()) return args;

  std::u16string program;
  i += ReadProgramItem(line.substr(i), program);
  args.push_back(std::move(program));

  while (true) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::u16string arg;
    bool quoted = false;
    while (i < line.size() && (quoted || !IsBlank(line[i]))) {
      if (line[i] == u'\\') {
        size_t slashes = 0;
        while (i < line.size() && line[i] == u'\\') ++slashes, ++i;
        if (i < line.size() && line[i] == u'"') {
          arg.append(slashes / 2, u'\\');
          if (slashes % 2 == 1) {
            arg += u'"';
            ++i;
          }
          // An even count leaves the quote to toggle quoting below.
        } else {
          arg.append(slashes, u'\\');
        }
        continue;
      }
      if (line[i] == u'"') {
        if (quoted && i + 1 < line.size() && line[i + 1] == u'"') {
          arg += u'"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += line[i++];
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::vector<std::u16string> SplitProgramCommandLine(std::u16string_view line) {
  std::vector<std::u16string> args;
  size_t i = 0;
  while (true) {
    while (i < line.size() && IsBlank(line[i])) ++i;
    if (i >= line.size()) break;
    std::u16string arg;
    bool quoted = false;
    for (; i < line.size() && (quoted || !IsBlank(line[i])); ++i) {
      if (line[i] == u'"') quoted = !quoted;
      else arg += line[i];
    }
    args.push_back(std::move(arg));
  }
  return args;
}

}  // namespace zo
