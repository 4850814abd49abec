#include "core/StartupValues.h"

#include "platform/Environment.h"

namespace zo {

namespace {

constexpr size_t kMaxComputerNameLength = 49;

String ReadComputerName() {
  String name = GetEnvironmentVariable(u"ComputerName").value_or(GetHostName());
  if (name.size() > kMaxComputerNameLength) {
    size_t cut = kMaxComputerNameLength;
    // Never keep half of a surrogate pair.
    if (name[cut - 1] >= 0xD800 && name[cut - 1] <= 0xDBFF) --cut;
    name.resize(cut);
  }
  return name;
}

}  // namespace

const String& ComputerName() {
  static const String name = ReadComputerName();
  return name;
}

}  // namespace zo
