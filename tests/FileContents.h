// A file's bytes in one piece: what tests write as fixtures and read back to
// compare. Empty for a file that cannot be opened.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

namespace zo::test {

inline std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Replaces the file's content with data (creates it when missing).
inline void WriteAll(const std::filesystem::path& path, const std::string& data) {
  std::ofstream(path, std::ios::binary) << data;
}

}  // namespace zo::test
