#include "platform/ProgramEntry.h"

#include "platform/Utf.h"

namespace {

// The name and arguments as main received them.
std::vector<std::u16string>& CommandLineItems() {
  static std::vector<std::u16string> items;
  return items;
}

}  // namespace

int main(int argc, char** argv) {
  for (int i = 0; i < argc; ++i) CommandLineItems().push_back(zo::FromUtf8(argv[i]));
  const std::vector<std::u16string> arguments(CommandLineItems().begin() + (argc > 0 ? 1 : 0),
                                              CommandLineItems().end());
  return ProgramMain(arguments);
}

std::vector<std::u16string> zo::UpgradeProgramCommandLine() { return CommandLineItems(); }
