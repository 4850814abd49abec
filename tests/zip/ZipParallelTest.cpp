// Storing with worker threads: the archive's bytes do not depend on the
// number of workers, peers read what several workers wrote, and a failure
// reaches the failure decision for the right entry, with the same outcome as
// without workers.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "tests/zip/ZipPeerTools.h"
#include "zip/BlockDeflate.h"
#include "zip/ZipEngine.h"

namespace zo {
namespace {

using test::ReadAll;
using test::ScratchDir;
using test::StreamOf;

std::string Incompressible(std::size_t size, std::uint64_t seed) {
  std::string data(size, '\0');
  for (char& c : data) {
    seed ^= seed << 13, seed ^= seed >> 7, seed ^= seed << 17;
    c = static_cast<char>(seed >> 56);
  }
  return data;
}

// Files around the block edge of a mode, compressible and not, plus many
// small ones.
void MakeTree(const std::string& root, int mode) {
  ASSERT_TRUE(ForceDirectories(FromUtf8(root + "/small")));
  const std::size_t edge = static_cast<std::size_t>(DeflateBlockSize(mode));
  for (const std::size_t size : {edge - 1, edge, edge + 1, 2 * edge + 7}) {
    test::WriteAll(root + "/text-" + std::to_string(size), test::SampleData(size, static_cast<unsigned>(size)));
    test::WriteAll(root + "/random-" + std::to_string(size), Incompressible(size, size));
  }
  for (int i = 0; i < 60; ++i) {
    test::WriteAll(root + "/small/f" + std::to_string(i), test::SampleData(static_cast<std::size_t>(i * 97), i));
  }
  test::WriteAll(root + "/small/empty", "");
}

std::string PackTree(const std::string& root, const std::string& archive, int mode, int threads) {
  TZipEngine engine;
  engine.SetThreadCount(threads);
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmCreate);
  engine.SetCompressionMode(mode);
  engine.SetBaseDir(FromUtf8(root));
  engine.AddFiles(u"*.*", 0x28AF, u"");   // no directory entries: they carry the time of the run
  engine.CloseArchive();
  return ReadAll(archive);
}

TEST(ZipParallel, TheArchiveIsTheSameWhateverTheNumberOfWorkers) {
  for (const int mode : {0, 1, 6, 9}) {
    SCOPED_TRACE(mode);
    ScratchDir scratch;
    const std::string root = scratch.File("src");
    MakeTree(root, mode);
    const std::string one = PackTree(root, scratch.File("one.zip"), mode, 0);
    for (const int threads : {2, 16}) {
      const std::string archive = scratch.File("t" + std::to_string(threads) + ".zip");
      EXPECT_TRUE(PackTree(root, archive, mode, threads) == one) << threads << " workers";
    }
    if (mode == 9) test::ExpectPeersAccept(scratch.File("t16.zip"));
  }
}

// The blocks of one entry joined are one deflate stream, which zlib inflates
// whole: every block but the last is flushed, none is finished early.
TEST(ZipParallel, BlocksJoinIntoOneStream) {
  const std::string data = test::SampleData(3 * 0x80000 + 123, 5) + Incompressible(0x80000, 9);
  std::string joined;
  const std::size_t block = static_cast<std::size_t>(DeflateBlockSize(1));
  for (std::size_t at = 0; at < data.size(); at += block) {
    const std::size_t n = std::min(block, data.size() - at);
    const std::size_t window = std::min<std::size_t>(at, kDeflateWindow);
    const TDeflatedBlock b =
        DeflateBlock(reinterpret_cast<const std::uint8_t*>(data.data()) + at, n,
                     reinterpret_cast<const std::uint8_t*>(data.data()) + at - window, window, 1, at + n == data.size());
    joined.append(b.Data.begin(), b.Data.end());
  }
  ScratchDir scratch;
  test::WriteAll(scratch.File("stream.raw"), joined);
  const auto inflated = test::RunCommand(
      "python3 -c 'import sys, zlib, hashlib; d = zlib.decompressobj(-15); "
      "out = d.decompress(open(sys.argv[1], \"rb\").read()); print(d.eof, len(out), hashlib.sha1(out).hexdigest())' " +
      test::Quoted(scratch.File("stream.raw")));
  EXPECT_EQ(inflated.output, "True " + std::to_string(data.size()) + " " + test::Sha1Hex(data) + "\n");
}

// A source that ends early (a file that shrank), among many: it reports
// 1000 bytes more than it holds until they are added.
class ShortStream : public TMemoryStream {
 public:
  std::int64_t Size() override { return std::max<std::int64_t>(declared, TMemoryStream::Size()); }
  std::int64_t declared = 0;
};

struct Outcome {
  std::vector<std::string> asked;   // the entries the failure decision was asked about
  std::string archive;
};

// Stores 40 entries in one transaction, some of several blocks; entry 17 fails (its source ends
// early). The decision answers with action, once; a retry finds the source
// repaired.
Outcome StoreWithAFailure(const std::string& path, int threads, TZEAction action) {
  Outcome outcome;
  {
    TZipEngine engine;
    engine.SetThreadCount(threads);
    engine.SetFileName(FromUtf8(path));
    engine.OpenArchive(fmCreate);
    engine.SetCompressionMode(1);
    std::vector<std::unique_ptr<TMemoryStream>> sources;
    ShortStream* broken = nullptr;
    engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String& name, TZEProcessOperation, int native,
                                      int, const String&, TZEAction& answer) {
      outcome.asked.push_back(ToUtf8(name) + " " + std::to_string(native));
      const std::string tail(1000, 'r');
      const std::int64_t at = broken->Position();
      broken->Seek(0, soEnd);
      broken->WriteBuffer(tail.data(), 1000);   // a retry finds the missing bytes
      broken->SetPosition(at);
      answer = action;
    };
    engine.BeginUpdate();
    for (int i = 0; i < 40; ++i) {
      const std::string data = i % 10 == 5 ? test::SampleData(0x100000 + i, i) : test::SampleData(5000 + i, i);
      std::unique_ptr<TMemoryStream> stream = i == 17 ? std::make_unique<ShortStream>() : std::make_unique<TMemoryStream>();
      stream->WriteBuffer(data.data(), static_cast<std::int64_t>(data.size()));
      if (i == 17) {
        broken = static_cast<ShortStream*>(stream.get());
        broken->declared = static_cast<std::int64_t>(data.size()) + 1000;
      }
      engine.AddFromStream(FromUtf8("e" + std::to_string(i)), *stream, false, 0, 0, 0x20, 45418.5);
      sources.push_back(std::move(stream));
    }
    engine.EndUpdate();
    engine.CloseArchive();
  }
  outcome.archive = ReadAll(path);
  return outcome;
}

TEST(ZipParallel, AFailureReachesTheDecisionForItsEntryAsWithoutWorkers) {
  ScratchDir scratch;
  for (const TZEAction action : {fxaIgnore, fxaRetry, fxaAbort}) {
    SCOPED_TRACE(static_cast<int>(action));
    const Outcome alone = StoreWithAFailure(scratch.File("alone.zip"), 0, action);
    EXPECT_EQ(alone.asked, std::vector<std::string>{"e17 34"});
    for (const int threads : {2, 16}) {
      const Outcome parallel = StoreWithAFailure(scratch.File("parallel.zip"), threads, action);
      EXPECT_EQ(parallel.asked, alone.asked) << threads;
      EXPECT_TRUE(parallel.archive == alone.archive) << threads << " workers";
    }
    if (action == fxaAbort) {
      EXPECT_EQ(alone.archive.size(), 22u) << "an aborted commit of a new archive leaves it empty";
    } else {
      test::ExpectPeersAccept(scratch.File("parallel.zip"));
      const std::string names = test::RunCommand(
          "python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
          test::Quoted(scratch.File("parallel.zip"))).output;
      EXPECT_EQ(names, action == fxaIgnore ? "39\n" : "40\n");
    }
  }
}

}  // namespace
}  // namespace zo
