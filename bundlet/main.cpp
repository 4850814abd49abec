// bundlet: packs a directory, or parts of directories, into a ZIP archive, or
// unpacks one into a directory. See bundlet/CommandLine.h for the arguments.
#include <cstdio>
#include <string>
#include <vector>

#include "bundlet/Bundlet.h"
#include "platform/Console.h"
#include "platform/Utf.h"

int main(int argc, char** argv) {
  // Output into a closed pipe must not kill the program: the exit code
  // stays 0.
  zo::IgnoreClosedPipes();
  try {
    std::vector<zo::String> arguments;
    for (int i = 1; i < argc; ++i) arguments.push_back(zo::FromUtf8(argv[i]));
    const zo::String text = zo::RunBundlet(arguments);
    if (!text.empty()) {
      const std::string out = zo::BundletConsoleText(text);
      std::fwrite(out.data(), 1, out.size(), stdout);
    }
  } catch (...) {
    // Nothing is left to report with; the exit code stays 0 as always.
  }
  std::fflush(stdout);
  return 0;
}
