// An environment variable set for as long as the object lives; its earlier
// value, or its absence, comes back afterwards.
#pragma once

#include <stdlib.h>

#include <optional>
#include <string>
#include <utility>

namespace zo::test {

class ScopedEnv {
 public:
  ScopedEnv(std::string Name, const std::string& Value) : FName(std::move(Name)) {
    if (const char* old = ::getenv(FName.c_str())) FOld = old;
    ::setenv(FName.c_str(), Value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (FOld) ::setenv(FName.c_str(), FOld->c_str(), 1);
    else ::unsetenv(FName.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

}  // namespace zo::test
