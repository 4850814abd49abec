// Fuzz target: the console zip tool's command line, parsed and checked as a
// run does before it touches any file. The input is the argument vector:
// NUL-separated items, each read as UTF-8 (bad bytes included). A wrong line
// must end in one of the tool's messages, never a crash.
#include <cstddef>
#include <cstdint>

#include "bundlet/CommandLine.h"
#include "core/Exception.h"
#include "tests/fuzz/FuzzInput.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zo;
  const std::vector<String> args = fuzz::Arguments(data, size);
  TBundletCommand command;
  try {
    ParseBundletArguments(args, command);
    CheckBundletCommand(command);
  } catch (const Exception& error) {
    const String& message = error.Message();
    fuzz::Check(message.starts_with(u"Incorrect parameter ") || message == u"Incorrect number of parameters." ||
                    message == u"Incorrect number of -D parameters ",
                "unexpected command-line message");
    return 0;
  }
  fuzz::Check(!command.ArchivePath.empty() && command.Directories.Count() > 0, "a checked command is complete");
  return 0;
}
