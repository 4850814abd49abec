// A private scratch directory for a test: made fresh with a unique name in
// the temporary directory ($TMPDIR, else /tmp), and removed with everything
// in it when the object goes, read-only subdirectories included. Hold one
// as a member of a fixture, or as a local of one test.
#pragma once

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <system_error>

#include "core/String.h"
#include "platform/Utf.h"

namespace zo::test {

// Removes path with all it holds, also what a test made read-only: a
// directory without its owner's rights, whose entries could not go, or a
// file with the read-only attribute, which Windows does not delete. Links
// are not followed.
inline void RemoveTree(const std::filesystem::path& path) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::permissions(path, fs::perms::owner_all, fs::perm_options::add | fs::perm_options::nofollow, ec);
  if (fs::is_directory(fs::symlink_status(path, ec))) {
    for (fs::directory_iterator it(path, ec), end; !ec && it != end; it.increment(ec)) RemoveTree(it->path());
  }
  fs::remove(path, ec);
}

class ScratchDir {
 public:
  // Prefix starts the directory's name, so that a leftover shows whose it is;
  // Parent is where it is made.
  explicit ScratchDir(const std::string& Prefix = "zo-test",
                      const std::filesystem::path& Parent = std::filesystem::temp_directory_path()) {
    // A new name until one is free, as mkdtemp does (which Windows lacks).
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (int attempt = 0; attempt < 100 && FDir.empty(); ++attempt) {
      const std::filesystem::path candidate = Parent / (Prefix + "-" + std::to_string(random() % 1000000000));
      std::error_code ec;
      if (std::filesystem::create_directory(candidate, ec)) FDir = candidate;
      else if (ec) throw std::runtime_error("cannot make a scratch directory " + candidate.string() + ": " + ec.message());
    }
    if (FDir.empty()) throw std::runtime_error("cannot make a scratch directory in " + Parent.string());
  }
  ~ScratchDir() { RemoveTree(FDir); }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  // The directory itself (absolute), and a name inside it ("sub/a.txt", in
  // UTF-8) as a path, as a narrow path and as the system's text.
  const std::filesystem::path& Dir() const { return FDir; }
  std::filesystem::path Path(const std::string& Name) const {
    return FDir / std::filesystem::path(std::u8string(Name.begin(), Name.end()));
  }
  std::string File(const std::string& Name) const { return Path(Name).string(); }
  String UDir() const { return TextOf(FDir); }
  String UFile(const std::string& Name) const { return TextOf(Path(Name)); }

 private:
  // On Windows a path's narrow form is in the ANSI code page, which need not
  // hold every character of a name: the system's text comes from its wide
  // form there. Elsewhere the narrow form is the name's own bytes.
  static String TextOf(const std::filesystem::path& path) {
#ifdef _WIN32
    return path.u16string();
#else
    return FromUtf8(path.string());
#endif
  }

  std::filesystem::path FDir;
};

}  // namespace zo::test
