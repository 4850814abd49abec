#include "bundlet/CommandLine.h"

#include "core/Exception.h"

namespace zo {

namespace {

// The separator between base directory and part path of an -Azp argument.
// It stays two backslashes on every platform: a single '\' or '/' may be part
// of either path.
constexpr char16_t kPartSeparator[] = u"\\\\";

[[noreturn]] void IncorrectParameter(const String& Argument) {
  throw Exception(u"Incorrect parameter " + Argument);
}

bool IsAction(const String& Argument) {
  return Argument == u"-Aza" || Argument == u"-Azp" || Argument == u"-Aua";
}

// "-D<base>\\<part>": at least one character of base is required, the part
// may be empty.
void AddPart(const String& Argument, TVStringList& Directories) {
  const size_t separator = Argument.find(kPartSeparator);
  if (separator == String::npos || separator < 3) IncorrectParameter(Argument);
  Directories.AddValue(Argument.substr(2, separator - 2), Argument.substr(separator + 2));
}

}  // namespace

void ParseBundletArguments(const std::vector<String>& Arguments, TBundletCommand& Command) {
  for (const String& P : Arguments) {
    if (P.size() < 3 || P[0] != u'-') IncorrectParameter(P);
    switch (P[1]) {
      case u'A':
        if (!IsAction(P)) IncorrectParameter(P);
        // The list is kept: -D arguments already read stay with the new action.
        Command.Action = P.substr(2);
        break;
      case u'D':
        if (Command.Action.empty()) IncorrectParameter(P);
        if (Command.Action == kBundletPackParts) {
          AddPart(P, Command.Directories);
        } else {
          Command.Directories.Add(P.substr(2));
        }
        break;
      case u'Z':
        Command.ArchivePath = P.substr(2);
        break;
      default:
        IncorrectParameter(P);
    }
  }
}

void CheckBundletCommand(const TBundletCommand& Command) {
  if (Command.Action.empty() || Command.ArchivePath.empty() || Command.Directories.Count() == 0) {
    throw Exception(String(u"Incorrect number of parameters."));
  }
  if ((Command.Action == kBundletPackAll || Command.Action == kBundletUnpack) &&
      Command.Directories.Count() > 1) {
    throw Exception(String(u"Incorrect number of -D parameters "));
  }
}

}  // namespace zo
