// An environment variable set for as long as the object lives; its earlier
// value, or its absence, comes back afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>

namespace zo::test {

#ifdef _WIN32
// The C runtime of Windows has no setenv; _wputenv_s takes the UTF-8 given
// here as characters (its narrow form would read the bytes in the ANSI code
// page), and an empty value removes the variable.
inline std::wstring WideOf(const char* utf8) {
  return std::filesystem::path(std::u8string(reinterpret_cast<const char8_t*>(utf8))).wstring();
}
inline void SetEnv(const char* name, const char* value) { ::_wputenv_s(WideOf(name).c_str(), WideOf(value).c_str()); }
inline void UnsetEnv(const char* name) { ::_wputenv_s(WideOf(name).c_str(), L""); }
#else
inline void SetEnv(const char* name, const char* value) { ::setenv(name, value, 1); }
inline void UnsetEnv(const char* name) { ::unsetenv(name); }
#endif

class ScopedEnv {
 public:
  ScopedEnv(std::string Name, const std::string& Value) : FName(std::move(Name)) {
    if (const char* old = ::getenv(FName.c_str())) FOld = old;
    SetEnv(FName.c_str(), Value.c_str());
  }
  ~ScopedEnv() {
    if (FOld) SetEnv(FName.c_str(), FOld->c_str());
    else UnsetEnv(FName.c_str());
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string FName;
  std::optional<std::string> FOld;
};

}  // namespace zo::test
