// Entry sizes around every buffer boundary of the data path, through the
// whole round trip: written by our engine at each compression mode and by
// Python's zipfile, read back both to a stream and to a file. Every buffer
// that data passes through has an edge; the sizes just below, at and just
// past each edge are where a loop that stops one call too early loses data.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"
#include "tests/zip/ZipPeerTools.h"
#include "zip/ZipEngine.h"
#include "zip/ZipEntryData.h"

namespace zo {
namespace {

using test::CommandResult;
using test::Quoted;
using test::ReadAll;
using test::RunCommand;
using test::ScratchDir;

// The edges: the smallest inflate output buffer (64), the stored copy chunk
// (65,535), the inflate output chunk (256 KiB), the deflate input blocks of
// the fast, normal and best modes (512 KiB, 1 MiB, 1.5 MiB), the inflate
// input chunk and the bytes a writer gathers of one entry before it writes
// them (1 MiB of compressed data each, reached by incompressible entries),
// and the largest entry inflated whole (past it, the entry streams).
// The sizes around the whole-inflate limit are 16 MiB each, three of them
// for every kind, writer and reader: under the sanitizers they alone took
// minutes. What they reach beyond the smaller sizes is the buffer pool's
// bookkeeping and buffers the system maps for it, which the sanitizers do not
// watch (a byte past one faults in every build), so those builds leave them
// to the others.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSweepTheWholeInflateLimit = false;
#else
constexpr bool kSweepTheWholeInflateLimit = true;
#endif

const std::vector<std::size_t>& SweepSizes() {
  static const std::vector<std::size_t> sizes = [] {
    std::vector<std::size_t> out = {0, 1};
    std::vector<std::size_t> edges = {64, 65535, 262144, 524288, 1048576, 1572864};
    if (kSweepTheWholeInflateLimit) edges.push_back(static_cast<std::size_t>(kWholeInflateLimit));
    for (const std::size_t edge : edges) {
      out.insert(out.end(), {edge - 1, edge, edge + 1});
    }
    // Sizes met in the field: zlib holds back output past these.
    out.insert(out.end(), {262145u, 262204u, 262304u, 262384u, 524448u});
    return out;
  }();
  return sizes;
}

enum class Kind { Zeros, Text, Random };

std::string Content(Kind kind, std::size_t size) {
  switch (kind) {
    case Kind::Zeros: return std::string(size, '\0');
    case Kind::Text: return test::SampleData(size, 3);
    case Kind::Random: return test::NoiseData(size);
  }
  return {};
}

const char* KindName(Kind kind) {
  return kind == Kind::Zeros ? "zeros" : kind == Kind::Text ? "text" : "random";
}

std::string EntryName(Kind kind, std::size_t size) { return std::string(KindName(kind)) + "-" + std::to_string(size); }

// Writes one source file per (kind, size) into dir.
void WriteSources(const std::string& dir, Kind kind) {
  for (const std::size_t size : SweepSizes()) test::WriteAll(dir + "/" + EntryName(kind, size), Content(kind, size));
}

// Every source of dir, stored by our engine at the given compression mode.
void WriteWithEngine(const std::string& dir, const std::string& archive, Kind kind, int mode) {
  TZipEngine engine;
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmCreate);
  engine.SetCompressionMode(mode);
  for (const std::size_t size : SweepSizes()) {
    const std::string name = EntryName(kind, size);
    TFileStream source(FromUtf8(dir + "/" + name), fmOpenRead);
    engine.AddFromStream(FromUtf8(name), source, false, 0, 0, 0x20, 0);
  }
  engine.CloseArchive();
}

// The same sources written by Python: deflate at zlib's default level, or
// stored.
void WriteWithPython(const std::string& dir, const std::string& archive, bool deflate) {
  const CommandResult result = RunCommand(
      "python3 -c 'import os, sys, zipfile\n"
      "src, out, method = sys.argv[1], sys.argv[2], int(sys.argv[3])\n"
      "with zipfile.ZipFile(out, \"w\", method) as z:\n"
      "    for name in sorted(os.listdir(src)): z.write(os.path.join(src, name), name)\n"
      "' " + Quoted(dir) + " " + Quoted(archive) + (deflate ? " 8" : " 0"));
  ASSERT_EQ(result.status, 0) << result.output;
}

// Reads every entry back, to a stream and to files, and compares it with
// its source byte for byte.
void ExpectRoundTrip(const std::string& dir, const std::string& archive, Kind kind, const ScratchDir& scratch,
                     const std::string& label) {
  TZipEngine engine;
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmOpenRead | fmShareDenyWrite);
  std::vector<std::string> failures;
  engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String& name, TZEProcessOperation, int, int,
                                    const String& message, TZEAction& action) {
    failures.push_back(ToUtf8(name) + ": " + ToUtf8(message));
    action = fxaIgnore;
  };
  for (const std::size_t size : SweepSizes()) {
    const std::string name = EntryName(kind, size);
    TMemoryStream out;
    if (const auto error = test::ErrorOf<Exception>([&] { engine.ExtractToStream(FromUtf8(name), out); })) {
      ADD_FAILURE() << label << " " << name << " to a stream: " << error->what();
      continue;
    }
    const Bytes& got = out.Memory();
    EXPECT_TRUE(std::string(got.begin(), got.end()) == ReadAll(dir + "/" + name))
        << label << " " << name << " to a stream: " << got.size() << " bytes";
  }
  const std::string dest = scratch.File("out-" + label);
  engine.SetBaseDir(FromUtf8(dest));
  engine.ExtractFiles(u"*.*", 0x28BF, u"");
  EXPECT_TRUE(failures.empty()) << label << ": " << failures.front();
  for (const std::size_t size : SweepSizes()) {
    const std::string name = EntryName(kind, size);
    EXPECT_TRUE(ReadAll(dest + "/" + name) == ReadAll(dir + "/" + name)) << label << " " << name << " to a file";
  }
  std::filesystem::remove_all(std::filesystem::u8path(dest));
}

// The sources of one kind in a scratch directory of the test's own.
class ZipBoundarySweep : public ::testing::TestWithParam<Kind> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ForceDirectories(FromUtf8(FDir)));
    WriteSources(FDir, GetParam());
  }

  ScratchDir FScratch;
  const std::string FDir = FScratch.File("src");
};

TEST_P(ZipBoundarySweep, OurWriterEveryReader) {
  for (const int mode : {0, 1, 6, 9}) {
    const std::string archive = FScratch.File("ours-" + std::to_string(mode) + ".zip");
    WriteWithEngine(FDir, archive, GetParam(), mode);
    ExpectRoundTrip(FDir, archive, GetParam(), FScratch, "ours-" + std::to_string(mode));
  }
}

TEST_P(ZipBoundarySweep, PythonWriterEveryReader) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  for (const bool deflate : {true, false}) {
    const std::string label = deflate ? "python-deflate" : "python-stored";
    const std::string archive = FScratch.File(label + ".zip");
    WriteWithPython(FDir, archive, deflate);
    ExpectRoundTrip(FDir, archive, GetParam(), FScratch, label);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, ZipBoundarySweep, ::testing::Values(Kind::Zeros, Kind::Text, Kind::Random),
                         [](const auto& info) { return std::string(KindName(info.param)); });

// Deflated entries whose compressed data is just below, at and just past
// the inflate input chunk of 1 MiB, and the most compressed data an entry
// inflated whole may have: stored deflate blocks (level 0) make the
// compressed size exact, so the last chunk holds 1, 0 or a few bytes.
TEST(ZipBoundary, CompressedSizesAroundTheInflateInputChunkAndTheWholeInflateLimit) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());   // Python makes the archive
  ScratchDir scratch;
  const std::string archive = scratch.File("chunk.zip");
  const CommandResult result = RunCommand(
      "python3 -c 'import sys, zlib, zipfile, random\n"
      "rnd = random.Random(5)\n"
      "whole = int(sys.argv[2])\n"
      "data = rnd.randbytes(whole + 65536)\n"
      "def packed(n):\n"
      "    c = zlib.compressobj(0, zlib.DEFLATED, -15)\n"
      "    return len(c.compress(data[:n]) + c.flush())\n"
      "with zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_DEFLATED, compresslevel=0) as z:\n"
      "    for target in (1048575, 1048576, 1048577, 2097152, whole - 1, whole, whole + 1):\n"
      "        lo, hi = 0, len(data)\n"
      "        while lo < hi:\n"
      "            mid = (lo + hi) // 2\n"
      "            if packed(mid) < target: lo = mid + 1\n"
      "            else: hi = mid\n"
      "        z.writestr(\"c%d\" % target, data[:lo])\n"
      "' " + Quoted(archive) + " " + std::to_string(kWholeInflateLimit));
  ASSERT_EQ(result.status, 0) << result.output;
  TZipEngine engine;
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmOpenRead | fmShareDenyWrite);
  ASSERT_EQ(engine.Dir().CDir.Count(), 7);
  bool exact = false;
  bool wholeExact = false;
  for (int i = 0; i < engine.Dir().CDir.Count(); ++i) {
    const TDirItem& item = engine.Dir().CDir[i];
    exact = exact || item.CompressedSize() == 1048576;
    wholeExact = wholeExact || item.CompressedSize() == kWholeInflateLimit;
    TMemoryStream out;
    EXPECT_NO_THROW(engine.ExtractToStream(item.Name, out)) << ToUtf8(item.Name);
    EXPECT_EQ(out.Size(), static_cast<std::int64_t>(item.UncompressedSize())) << ToUtf8(item.Name);
  }
  EXPECT_TRUE(exact) << "no entry's compressed data is exactly 1 MiB";
  EXPECT_TRUE(wholeExact) << "no entry's compressed data is exactly the whole-inflate limit";
}

}  // namespace
}  // namespace zo
