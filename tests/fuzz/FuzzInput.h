// Helpers shared by the fuzz targets: turn the fuzzer's bytes into the kinds
// of input the programs receive (UTF-16 text, UTF-8 arguments) and stop the
// run loudly when a checked property does not hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "core/String.h"
#include "platform/Utf.h"

namespace zo::fuzz {

// The bytes as UTF-16 little-endian code units, lone surrogates included;
// an odd last byte is dropped.
inline String Utf16Text(const std::uint8_t* data, std::size_t size) {
  String text;
  text.reserve(size / 2);
  for (std::size_t i = 0; i + 1 < size; i += 2)
    text.push_back(static_cast<char16_t>(data[i] | (data[i + 1] << 8)));
  return text;
}

// The bytes as a program's argument vector: items separated by NUL bytes,
// each read as UTF-8 the way the programs read argv (bad bytes become
// U+FFFD). A trailing NUL gives a last empty argument, so empty arguments
// are reachable.
inline std::vector<String> Arguments(const std::uint8_t* data, std::size_t size) {
  std::vector<String> args;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  if (bytes.empty()) return args;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = bytes.find('\0', start);
    args.push_back(FromUtf8(bytes.substr(start, end == std::string_view::npos ? end : end - start)));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return args;
}

// A checked property failed: report it and abort so the fuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
  std::fprintf(stderr, "fuzz property failed: %s\n", what);
  std::abort();
}

inline void Check(bool condition, const char* what) {
  if (!condition) Fail(what);
}

}  // namespace zo::fuzz
