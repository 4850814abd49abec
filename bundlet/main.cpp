// bundlet: packs a directory, or parts of directories, into a ZIP archive, or
// unpacks one into a directory. See bundlet/CommandLine.h for the arguments.
#include <string>
#include <vector>

#include "bundlet/Bundlet.h"
#include "platform/Console.h"
#include "platform/ProgramEntry.h"

int ProgramMain(const std::vector<std::u16string>& arguments) {
  // Output into a closed pipe must not kill the program: the exit code
  // stays 0.
  zo::IgnoreClosedPipes();
  try {
    const zo::String text = zo::RunBundlet(arguments);
    if (!text.empty()) zo::WriteStandardOutput(zo::BundletConsoleText(text));
  } catch (...) {
    // Nothing is left to report with; the exit code stays 0 as always.
  }
  return 0;
}
