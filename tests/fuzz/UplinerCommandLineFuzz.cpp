// Fuzz target: the upgrade tool's command-line reader. The input is the
// argument vector as the program receives it: NUL-separated items, each read
// as UTF-8 (bad bytes included). Every outcome must be the parameters or one
// of the messages the user is meant to see, never a crash.
#include <cstddef>
#include <cstdint>

#include "core/Exception.h"
#include "tests/fuzz/FuzzInput.h"
#include "upliner/CommandLine.h"

namespace {

bool StartsWith(const zo::String& text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && std::u16string_view(text).substr(0, prefix.size()) == prefix;
}

bool EndsWith(const zo::String& text, std::u16string_view suffix) {
  return text.size() >= suffix.size() && std::u16string_view(text).substr(text.size() - suffix.size()) == suffix;
}

// The messages a wrong command line ends in.
bool IsKnownMessage(const zo::String& message) {
  return StartsWith(message, u"Incorrect input parameter \"") ||
         EndsWith(message, u"\" is incompatible with rest of input parameters") ||
         StartsWith(message, u"List index out of bounds (") ||
         EndsWith(message, u"' is not a valid integer value");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace zo;
  const std::vector<String> args = fuzz::Arguments(data, size);
  TStartParameters params;
  try {
    ReadCommandLine(args, params);
  } catch (const Exception& error) {
    fuzz::Check(IsKnownMessage(error.Message()), "unexpected command-line message");
    return 0;
  }
  const auto mode = static_cast<int>(params.ReinstallAction);
  fuzz::Check(mode >= 0 && mode <= 3, "mode in range");
  return 0;
}
