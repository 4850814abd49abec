#include "platform/ProgramEntry.h"

#include "platform/Utf.h"

int main(int argc, char** argv) {
  std::vector<std::u16string> arguments;
  for (int i = 1; i < argc; ++i) arguments.push_back(zo::FromUtf8(argv[i]));
  return ProgramMain(arguments);
}

std::vector<std::u16string> zo::UpgradeProgramArguments(const std::vector<std::u16string>& arguments) {
  return arguments;
}
