// Helpers for writing tests: a private scratch directory, file contents, and
// the peer tools (unzip, 7z, bsdtar, Python's zipfile) run on an archive.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "core/String.h"
#include "platform/Utf.h"
#include "tests/FileContents.h"
#include "tests/ScratchDir.h"
#include "tests/zip/ZipTestSystem.h"
#include "zip/ZipEngine.h"

namespace zo::test {

// Peers run in a UTF-8 locale whatever the caller's: bsdtar refuses entry
// names it cannot show in the current one.
inline CommandResult RunCommand(const std::string& command) {
  return RunShellCommand("export LC_ALL=C.UTF-8; " + command);
}

inline std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}


// A memory stream holding text.
inline std::unique_ptr<TMemoryStream> StreamOf(const std::string& data) {
  auto stream = std::make_unique<TMemoryStream>();
  stream->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
  stream->SetPosition(0);
  return stream;
}

// Data that compresses somewhat, reproducibly.
inline std::string SampleData(std::size_t size, unsigned seed = 1) {
  std::string data(size, '\0');
  unsigned state = seed;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1103515245u + 12345u;
    data[i] = static_cast<char>("abcdefghij \n"[(state >> 16) % 12]);
  }
  return data;
}

// Bytes that do not compress at all, reproducibly.
inline std::string NoiseData(std::size_t size) {
  std::string data(size, '\0');
  std::uint64_t x = 0x9E3779B97F4A7C15ull;
  for (char& c : data) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    c = static_cast<char>(x >> 56);
  }
  return data;
}

// The integrity checks of all four peers. Each must accept the archive.
inline void ExpectPeersAccept(const std::string& archive) {
  const CommandResult unzip = RunCommand("unzip -t -qq " + Quoted(archive));
  EXPECT_EQ(unzip.status, 0) << "unzip -t: " << unzip.output;
  const CommandResult sevenZip = RunCommand("7z t -bd " + Quoted(archive));
  EXPECT_EQ(sevenZip.status, 0) << "7z t: " << sevenZip.output;
  const CommandResult bsdtar = RunCommand("bsdtar -tf " + Quoted(archive) + " > /dev/null");
  EXPECT_EQ(bsdtar.status, 0) << "bsdtar -tf: " << bsdtar.output;
  const CommandResult python = RunCommand(
      "python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
      "bad = z.testzip(); sys.exit(1 if bad else 0)' " + Quoted(archive));
  EXPECT_EQ(python.status, 0) << "zipfile.testzip: " << python.output;
}

// Python's view of the archive: one line per entry, "name<TAB>flags<TAB>
// method<TAB>hex of the content's SHA-1" (names as Python decodes them:
// UTF-8 with flag bit 11, CP437 without).
inline std::string PythonListing(const std::string& archive) {
  const CommandResult result = RunCommand(
      "python3 -c 'import sys, zipfile, hashlib\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "for i in z.infolist():\n"
      "    sys.stdout.buffer.write((i.filename + \"\\t%d\\t%d\\t\" % (i.flag_bits, i.compress_type) + hashlib.sha1(z.read(i)).hexdigest() + \"\\n\").encode())\n"
      "' " + Quoted(archive));
  EXPECT_EQ(result.status, 0) << result.output;
  return result.output;
}

inline std::string Sha1Hex(const std::string& data) {
  const ScratchDir scratch("zipwrite-sha");
  WriteAll(scratch.File("data"), data);
  return RunCommand("sha1sum " + Quoted(scratch.File("data"))).output.substr(0, 40);
}

}  // namespace zo::test
