// Lifter.exe: the reference upgrade program (see lifter/Lifter.h).
//
// Exit code 0 when the run recorded no error, 1 otherwise; the upgrade tool
// does not read it, it reads the result files and the version stamp.
#include <cstdio>
#include <vector>

#include "core/Exception.h"
#include "core/TextFileLines.h"
#include "lifter/Lifter.h"
#include "lifter/LifterOptions.h"
#include "platform/ProgramEntry.h"
#include "platform/Utf.h"

namespace {

// The errors file named on a command line that could not be read as a
// whole, so that even a bad command line is reported where the tool looks.
zo::String ErrorsFileOf(const std::vector<zo::String>& Args) {
  for (const zo::String& arg : Args)
    if (arg.size() > 2 && arg[0] == u'-' && arg[1] == u'e') return arg.substr(2);
  return {};
}

}  // namespace

int ProgramMain(const std::vector<std::u16string>&) {
  std::vector<zo::String> args = zo::UpgradeProgramCommandLine();
  if (!args.empty()) args.erase(args.begin());

  zo::TLifterOptions options;
  try {
    options = zo::ParseLifterOptions(args);
  } catch (const zo::Exception& E) {
    const zo::String line = zo::OneLine(E.Message());
    std::fprintf(stderr, "Lifter: %s\n", zo::ToUtf8(line).c_str());
    try {
      if (const zo::String errors = ErrorsFileOf(args); !errors.empty()) zo::SaveStringsToFile(errors, {line});
    } catch (const zo::Exception&) {
      // Standard error has the message already.
    }
    return 1;
  }

  zo::TLifter lifter(std::move(options));
  bool ok = lifter.Run();
  ok = lifter.WriteResultFiles() && ok;
  for (const zo::String& error : lifter.Errors()) std::fprintf(stderr, "Lifter: %s\n", zo::ToUtf8(error).c_str());
  return ok ? 0 : 1;
}
