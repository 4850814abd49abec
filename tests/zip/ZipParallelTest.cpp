// Storing with worker threads: the archive's bytes do not depend on the
// number of workers, peers read what several workers wrote, and a failure
// reaches the failure decision for the right entry, with the same outcome as
// without workers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <zlib.h>

#include "platform/FileSystem.h"
#include "tests/zip/ZipPeerTools.h"
#include "zip/BlockDeflate.h"
#include "zip/ZipEntryData.h"
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
    if (mode == 9) {   // the last
      ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
      test::ExpectPeersAccept(scratch.File("t16.zip"));
    }
  }
}

// The blocks of one entry joined are one deflate stream, which zlib inflates
// whole: every block but the last is flushed, none is finished early.
TEST(ZipParallel, BlocksJoinIntoOneStream) {
  // Text, then a block that does not compress (stored), then text again,
  // primed with the stored block's tail.
  const std::string data =
      test::SampleData(3 * 0x80000 + 123, 5) + Incompressible(0x80000, 9) + test::SampleData(0x80000 + 77, 6);
  std::string joined;
  const std::size_t block = static_cast<std::size_t>(DeflateBlockSize(1));
  TDeflaterShelf deflaters;
  for (std::size_t at = 0; at < data.size(); at += block) {
    const std::size_t n = std::min(block, data.size() - at);
    const std::size_t window = std::min<std::size_t>(at, kDeflateWindow);
    const TDeflatedBlock b =
        DeflateBlock(deflaters, reinterpret_cast<const std::uint8_t*>(data.data()) + at, n,
                     reinterpret_cast<const std::uint8_t*>(data.data()) + at - window, window, 1, at + n == data.size());
    joined.append(b.Data.begin(), b.Data.end());
  }
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());   // Python's zlib inflates the joined stream
  ScratchDir scratch;
  test::WriteAll(scratch.File("stream.raw"), joined);
  const auto inflated = test::RunCommand(
      "python3 -c 'import sys, zlib, hashlib; d = zlib.decompressobj(-15); "
      "out = d.decompress(open(sys.argv[1], \"rb\").read()); print(d.eof, len(out), hashlib.sha1(out).hexdigest())' " +
      test::Quoted(scratch.File("stream.raw")));
  EXPECT_EQ(inflated.output, "True " + std::to_string(data.size()) + " " + test::Sha1Hex(data) + "\n");
}

// The bytes of base with fill laid over the three places a sampling probe
// would look at: the start, the middle and the end.
std::string AtSamplePlaces(std::string base, const std::string& fill) {
  for (const std::size_t at : {std::size_t{0}, base.size() / 2 - fill.size() / 2, base.size() - fill.size()}) {
    base.replace(at, fill.size(), fill);
  }
  return base;
}

// A large block that does not compress is stored, whatever the mode: its
// output is its input plus the stored blocks' few header bytes. A block that
// only begins with such data, or holds it just where samples would be taken,
// or repeats itself without any skew in its bytes, is compressed as usual.
TEST(ZipParallel, BlocksThatDoNotCompressAreStored) {
  const std::size_t size = static_cast<std::size_t>(DeflateBlockSize(9));
  std::string repeated;
  const std::string chunk = Incompressible(24 * 1024, 8);
  while (repeated.size() < size) repeated += chunk;
  repeated.resize(size);
  enum Expect { kStored, kCompressed, kAsItComes };
  struct Case {
    const char* name;
    std::string data;
    Expect expect;
  };
  const Case cases[] = {
      {"random", Incompressible(size, 3), kStored},
      {"text", test::SampleData(size, 4), kCompressed},
      {"random head, text body", Incompressible(0x10000, 5) + test::SampleData(size - 0x10000, 6), kCompressed},
      {"random below the probed size", Incompressible(0x3FFFF, 7), kAsItComes},
      {"one letter, random where samples are", AtSamplePlaces(std::string(size, 'a'), Incompressible(0x4000, 9)),
       kCompressed},
      {"random, one letter where samples are", AtSamplePlaces(Incompressible(size, 10), std::string(0x4000, 'a')),
       kAsItComes},
      {"one random chunk repeated", repeated, kCompressed},
  };
  TDeflaterShelf deflaters;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TDeflatedBlock block =
        DeflateBlock(deflaters, reinterpret_cast<const std::uint8_t*>(c.data.data()), c.data.size(), nullptr, 0, 9, true);
    // Stored: five header bytes per stored block of up to 64 KiB. The best
    // mode's own stored blocks are four times as many.
    if (c.expect == kStored) {
      EXPECT_LE(block.Data.size(), c.data.size() + 5 * (c.data.size() / 0xFFFF + 1));
    }
    if (c.expect == kCompressed) {
      EXPECT_LT(block.Data.size(), c.data.size() * 3 / 4);
    }
    if (!test::WhyNoPeers().empty()) continue;   // Python's zlib inflates the block; skipped below
    ScratchDir scratch;
    test::WriteAll(scratch.File("block.raw"), std::string(block.Data.begin(), block.Data.end()));
    const auto inflated = test::RunCommand(
        "python3 -c 'import sys, zlib, hashlib; d = zlib.decompressobj(-15); "
        "out = d.decompress(open(sys.argv[1], \"rb\").read()); print(d.eof, hashlib.sha1(out).hexdigest())' " +
        test::Quoted(scratch.File("block.raw")));
    EXPECT_EQ(inflated.output, "True " + test::Sha1Hex(c.data) + "\n");
  }
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
}

// Matches that reach back into the data before the block count as well: a
// block that begins with a copy of the second half of its dictionary is
// compressed, although nothing within it repeats.
TEST(ZipParallel, ABlockThatRepeatsItsDictionaryIsCompressed) {
  const std::size_t size = static_cast<std::size_t>(DeflateBlockSize(9));
  const std::string dictionary = Incompressible(kDeflateWindow, 11);
  const std::string data = dictionary.substr(kDeflateWindow / 2) + Incompressible(size - kDeflateWindow / 2, 12);
  TDeflaterShelf deflaters;
  const TDeflatedBlock block = DeflateBlock(deflaters, reinterpret_cast<const std::uint8_t*>(data.data()), data.size(),
                                            reinterpret_cast<const std::uint8_t*>(dictionary.data()), dictionary.size(),
                                            9, true);
  EXPECT_LT(block.Data.size(), data.size() - kDeflateWindow / 4);
}

// Lines of words, which repeat as in text and source code.
std::string WordText(std::size_t size, unsigned seed) {
  static const char* const kWords[] = {"archive", "deflate", "block",  "window", "entry", "header", "the", "of",
                                       "stream",  "buffer",  "offset", "length", "name",  "table",  "int", "return"};
  std::string text;
  unsigned state = seed;
  while (text.size() < size) {
    state = state * 1103515245u + 12345u;
    text += kWords[(state >> 16) % 16];
    text += (state >> 8) % 9 == 0 ? '\n' : ' ';
  }
  text.resize(size);
  return text;
}

// zlib's raw deflate of data at level, whole, with the engine's settings.
std::size_t ZlibDeflatedSize(const std::string& data, int level) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&z, static_cast<uLong>(data.size())), '\0');
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  z.avail_in = static_cast<uInt>(data.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  const std::size_t size = z.total_out;
  deflateEnd(&z);
  return size;
}

// Inflates a raw deflate stream that must end exactly at its last byte.
std::optional<std::string> InflatedWhole(const Bytes& stream, std::size_t expected) {
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return std::nullopt;
  std::string out(expected + 1, '\0');
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = static_cast<uInt>(stream.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int rc = inflate(&z, Z_FINISH);
  const bool whole = rc == Z_STREAM_END && z.avail_in == 0;
  out.resize(z.total_out);
  inflateEnd(&z);
  if (!whole) return std::nullopt;
  return out;
}

// An entry that is one block alone compresses, at every mode, to no more
// than zlib's own level makes of it (summed over entries of many sizes), and
// its bytes form one stream that zlib inflates to the entry and ends where
// they end. Whichever codec packs it (ZO_CODEC=zlib runs this again on zlib).
TEST(ZipParallel, AnEntryOfOneBlockCompressesAtLeastAsWellAsZlibAtItsMode) {
  std::vector<std::string> entries;
  for (const std::size_t size : {std::size_t{1}, std::size_t{100}, std::size_t{4000}, std::size_t{30000},
                                 std::size_t{200000}, std::size_t{0x7FFFF}}) {
    entries.push_back(test::SampleData(size, static_cast<unsigned>(size)));
    entries.push_back(WordText(size, static_cast<unsigned>(size)));
    // Text with a stretch of noise inside, as in many binaries.
    std::string mixed = WordText(size, static_cast<unsigned>(size) + 1);
    const std::string noise = Incompressible(size / 3, size);
    mixed.replace(size / 3, noise.size(), noise);
    entries.push_back(mixed);
  }
  TDeflaterShelf deflaters;
  for (int mode = 1; mode <= 9; ++mode) {
    SCOPED_TRACE(mode);
    std::size_t ours = 0;
    std::size_t zlibs = 0;
    for (const std::string& entry : entries) {
      ASSERT_LE(entry.size(), static_cast<std::size_t>(DeflateBlockSize(mode)));
      const TDeflatedBlock block = DeflateBlock(deflaters, reinterpret_cast<const std::uint8_t*>(entry.data()),
                                                entry.size(), nullptr, 0, mode, true);
      EXPECT_EQ(block.Size, static_cast<std::int64_t>(entry.size()));
      EXPECT_EQ(block.Crc, crc32(0, reinterpret_cast<const Bytef*>(entry.data()), static_cast<uInt>(entry.size())));
      EXPECT_TRUE(InflatedWhole(block.Data, entry.size()) == entry) << entry.size() << " bytes";
      ours += block.Data.size();
      zlibs += ZlibDeflatedSize(entry, mode);
    }
    EXPECT_LE(ours, zlibs);
  }
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
    } else if (test::WhyNoPeers().empty()) {
      test::ExpectPeersAccept(scratch.File("parallel.zip"));
      const std::string names = test::RunCommand(
          "python3 -c 'import sys, zipfile; print(len(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
          test::Quoted(scratch.File("parallel.zip"))).output;
      EXPECT_EQ(names, action == fxaIgnore ? "39\n" : "40\n");
    }
  }
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());   // the peers' checks above did not run
}

}  // namespace
}  // namespace zo

namespace zo {
namespace {

// An archive whose entries meet each other and fail in places: many small
// files and some large ones, one name twice, a file where a later entry
// wants a directory, a name that leads outside, and two damaged entries.
constexpr char kMeetingEntries[] = R"PY(
import sys, zipfile, random
rnd = random.Random(4)
path = sys.argv[1]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for i in range(150):
        z.writestr("small/f%03d.txt" % i, ("line %d\n" % i) * rnd.randint(1, 400))
        if i == 40: z.writestr("bad-1.txt", b"The quick brown fox. " * 500)
        if i == 90: z.writestr("bad-2.txt", b"jumps over the lazy dog " * 500)
    for i in range(3):
        z.writestr("big/%d.bin" % i, bytes(rnd.getrandbits(8) for _ in range(1 << 20)) * 3)
    z.writestr("dup.txt", b"first")
    z.writestr("a", b"a file")
    z.writestr("a/b.txt", b"below a file")
    z.writestr("dup.txt", b"second")
    z.writestr("../outside.txt", b"never")
    z.writestr("last.txt", b"last")
data = bytearray(open(path, "rb").read())
with zipfile.ZipFile(path) as z:
    for name in ("bad-1.txt", "bad-2.txt"):
        info = z.getinfo(name)
        data[info.header_offset + 30 + len(name) + info.compress_size // 2] ^= 0x55
open(path, "wb").write(bytes(data))
)PY";

struct ExtractionOutcome {
  std::vector<std::string> decisions;   // entry and native number, in the order asked
  std::map<std::string, std::string> files;
  int unrestored = 0;
};

// Calls visit(name, isDirectory) for each file and directory below root,
// named by its path below root.
void ForEachBelow(const std::string& root, const std::function<void(const std::string&, bool)>& visit,
                  const std::string& rel = "") {
  // A folder that cannot be listed would compare as empty.
  int error = 0;
  const std::vector<TSearchRec> listing = FindFiles(FromUtf8(root + "/" + rel) + u"*", 0xFF, &error);
  if (error != 0) ADD_FAILURE() << "cannot list " << root << "/" << rel << ": errno " << error;
  for (const TSearchRec& rec : listing) {
    const std::string name = rel + ToUtf8(rec.Name);
    const bool isDirectory = (rec.Attr & faDirectory) != 0;
    visit(name, isDirectory);
    if (isDirectory) ForEachBelow(root, visit, name + "/");
  }
}

ExtractionOutcome ExtractWith(const std::string& archive, const std::string& dest, int threads, TZEAction answer) {
  ExtractionOutcome outcome;
  TZipEngine engine;
  engine.SetThreadCount(threads);
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmOpenRead | fmShareDenyWrite);
  engine.SetBaseDir(FromUtf8(dest));
  engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String& name, TZEProcessOperation, int native, int,
                                    const String&, TZEAction& action) {
    outcome.decisions.push_back(ToUtf8(name) + " " + std::to_string(native));
    action = answer;
  };
  engine.ExtractFiles(u"*.*", 0x28BF, u"");
  outcome.unrestored = engine.Unrestored().Count;
  ForEachBelow(dest, [&](const std::string& name, bool isDirectory) {
    if (isDirectory) {
      outcome.files[name + "/"] = "";
    } else {
      outcome.files[name] = test::Sha1Hex(ReadAll(dest + "/" + name));
    }
  });
  return outcome;
}

TEST(ZipParallel, ExtractionWithWorkersDecidesAndRestoresAsWithout) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());   // Python makes the archive
  ScratchDir scratch;
  const std::string archive = scratch.File("meet.zip");
  const auto made = test::RunCommand("python3 -c '" + std::string(kMeetingEntries) + "' " + test::Quoted(archive));
  ASSERT_EQ(made.status, 0) << made.output;
  const ExtractionOutcome alone = ExtractWith(archive, scratch.File("alone"), 0, fxaIgnore);
  EXPECT_EQ(alone.decisions.size(), 4u);   // two damaged, the file in the way, the name outside
  EXPECT_EQ(alone.files.at("dup.txt"), test::Sha1Hex("second"));
  EXPECT_EQ(alone.files.count("bad-1.txt") + alone.files.count("bad-2.txt"), 0u) << "a failed file is removed";
  for (const int threads : {2, 16}) {
    SCOPED_TRACE(threads);
    const std::string dest = scratch.File("with-" + std::to_string(threads));
    const ExtractionOutcome parallel = ExtractWith(archive, dest, threads, fxaIgnore);
    EXPECT_EQ(parallel.decisions, alone.decisions);
    EXPECT_EQ(parallel.files, alone.files);
    EXPECT_EQ(parallel.unrestored, alone.unrestored);
  }
  // Abort stops at the same entry, and leaves what it leaves without workers:
  // nothing written ahead of it is seen.
  const ExtractionOutcome stopped = ExtractWith(archive, scratch.File("stopped-alone"), 0, fxaAbort);
  const ExtractionOutcome stoppedParallel = ExtractWith(archive, scratch.File("stopped-16"), 16, fxaAbort);
  ASSERT_EQ(stopped.decisions.size(), 1u);
  EXPECT_EQ(stoppedParallel.decisions, stopped.decisions);
  EXPECT_EQ(stoppedParallel.files, stopped.files);
  EXPECT_EQ(stoppedParallel.unrestored, stopped.unrestored);
}

// Entries that each take most of the memory for inflating whole entries, more
// of them than it holds at once, of sizes that share its buffers and sizes
// that do not: 16 workers unpack them all exactly, whichever way each went
// (whole or, with the budget spent, zlib's stream).
TEST(ZipParallel, EntriesBeyondTheWholeInflateBudgetUnpackExactlyOnManyWorkers) {
  ScratchDir scratch;
  const std::string root = scratch.File("src");
  ASSERT_TRUE(ForceDirectories(FromUtf8(root)));
  const std::size_t large = static_cast<std::size_t>(kWholeInflateLimit) - 1;
  const std::size_t sizes[] = {large, large, 3 << 20, large / 2, large, 3 << 20, 7 << 20};
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    test::WriteAll(root + "/f" + std::to_string(i), WordText(sizes[i], static_cast<unsigned>(i)));
  }
  PackTree(root, scratch.File("big.zip"), 6, 2);
  const ExtractionOutcome alone = ExtractWith(scratch.File("big.zip"), scratch.File("alone"), 0, fxaAbort);
  const ExtractionOutcome parallel = ExtractWith(scratch.File("big.zip"), scratch.File("with-16"), 16, fxaAbort);
  EXPECT_TRUE(alone.decisions.empty());
  EXPECT_TRUE(parallel.decisions.empty());
  for (std::size_t i = 0; i < std::size(sizes); ++i) {
    const std::string name = "f" + std::to_string(i);
    EXPECT_EQ(alone.files.at(name), test::Sha1Hex(ReadAll(root + "/" + name))) << name;
  }
  EXPECT_EQ(parallel.files, alone.files);
}

}  // namespace
}  // namespace zo

namespace zo {
namespace {

// Progress counts up to what there is, for packing and unpacking alike, and
// never past it.
TEST(ZipParallel, WorkProgressReachesItsTotals) {
  ScratchDir scratch;
  const std::string root = scratch.File("src");
  MakeTree(root, 1);
  for (const int threads : {0, 2}) {
    SCOPED_TRACE(threads);
    std::vector<TZEWorkProgress> seen;
    auto record = [&](TZEBaseArchiver&, TZEProcessOperation, const TZEWorkProgress& p) { seen.push_back(p); };
    TZipEngine packer;
    packer.SetThreadCount(threads);
    packer.OnWorkProgress = record;
    packer.SetFileName(FromUtf8(scratch.File("p.zip")));
    packer.OpenArchive(fmCreate);
    packer.SetBaseDir(FromUtf8(root));
    packer.AddFiles(u"*.*", 0x28BF, u"");
    const int entries = packer.Dir().CDir.Count();
    packer.CloseArchive();
    for (const bool unpacking : {false, true}) {
      if (unpacking) {
        seen.clear();
        TZipEngine reader;
        reader.SetThreadCount(threads);
        reader.OnWorkProgress = record;
        reader.SetFileName(FromUtf8(scratch.File("p.zip")));
        reader.OpenArchive(fmOpenRead | fmShareDenyWrite);
        reader.SetBaseDir(FromUtf8(scratch.File("out-" + std::to_string(threads))));
        reader.ExtractFiles(u"*.*", 0x28BF, u"");
      }
      ASSERT_FALSE(seen.empty());
      const TZEWorkProgress& last = seen.back();
      EXPECT_EQ(last.BytesDone, last.BytesTotal);
      EXPECT_EQ(last.FilesDone, last.FilesTotal);
      EXPECT_EQ(last.FilesTotal, entries - 1) << "every entry but the directory";
      for (std::size_t i = 1; i < seen.size(); ++i) {
        EXPECT_LE(seen[i - 1].BytesDone, seen[i].BytesDone);
        EXPECT_LE(seen[i].BytesDone, seen[i].BytesTotal);
      }
    }
  }
}

}  // namespace
}  // namespace zo

namespace zo {
namespace {

// An archive whose entries fail in each way a decision is asked about, with
// files around them that a pass run ahead would touch: a damaged entry, a
// new directory and an existing file after it, an entry too large for the
// limit a full-disk case sets, a directory that cannot be made (a file is in
// its way), a file that cannot be made (a directory is in its way), and
// many small files after them all.
constexpr long long kHugeEntrySize = 3 << 20;
constexpr long long kFullDiskLimit = 2 << 20;

void MakeFailingArchive(const std::string& archive) {
  TZipEngine engine;
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmCreate);
  engine.BeginUpdate();
  std::vector<std::unique_ptr<TMemoryStream>> sources;
  auto add = [&](const std::string& name, const std::string& data) {
    sources.push_back(StreamOf(data));
    engine.AddFromStream(FromUtf8(name), *sources.back(), false, 0, 0, 0x20, 0);
  };
  add("a/1.txt", test::SampleData(3000, 1));
  add("a/2.txt", test::SampleData(70000, 2));
  add("bad.txt", test::SampleData(40000, 3));
  add("b/new.txt", "in a directory made after the damaged entry");
  add("keep.txt", "new keep");
  add("huge.bin", Incompressible(kHugeEntrySize, 5));
  add("blocked/x.txt", "below a file");
  add("here", "where a directory is");
  for (int i = 0; i < 30; ++i) add("c/" + std::to_string(i) + ".txt", test::SampleData(static_cast<std::size_t>(i * 500), i));
  add("keep2.txt", "new keep2");
  engine.EndUpdate();
  const TDirItem& bad = engine.Dir().CDir[engine.Dir().CDir.IndexOf(u"bad.txt")];
  const std::size_t at = bad.LocalHeaderOffset() + 30 + 7 + bad.CompressedSize() / 2;
  engine.CloseArchive();
  std::string bytes = ReadAll(archive);
  bytes[at] = static_cast<char>(bytes[at] ^ 0x55);
  test::WriteAll(archive, bytes);
}

void FillDestination(const std::string& dest) {
  ASSERT_TRUE(ForceDirectories(FromUtf8(dest + "/here")));
  test::WriteAll(dest + "/keep.txt", "old keep");
  test::WriteAll(dest + "/keep2.txt", "old keep2");
  test::WriteAll(dest + "/blocked", "a file");
}

struct TDecisionCase {
  const char* Title;
  std::vector<TZEAction> Answers;   // to the failures in turn; the last one stays
  TZEOverwriteMode Overwrite;
  bool FullDisk;                    // huge.bin does not fit
};

struct TPassOutcome {
  std::vector<std::string> Asked;   // decisions and questions, in the order put
  std::map<std::string, std::string> Tree;
  int Unrestored = 0;
  std::string FirstFailure;

  bool operator==(const TPassOutcome&) const = default;
};

TPassOutcome ExtractDeciding(const std::string& archive, const std::string& dest, int threads,
                             const TDecisionCase& decisions) {
  TPassOutcome outcome;
  FillDestination(dest);
  TZipEngine engine;
  engine.SetThreadCount(threads);
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmOpenRead | fmShareDenyWrite);
  engine.SetBaseDir(FromUtf8(dest));
  engine.Options.OverwriteMode = decisions.Overwrite;
  std::size_t answered = 0;
  engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String& name, TZEProcessOperation, int native, int,
                                    const String&, TZEAction& action) {
    outcome.Asked.push_back(ToUtf8(name) + " failed " + std::to_string(native));
    action = decisions.Answers[std::min(answered++, decisions.Answers.size() - 1)];
  };
  engine.OnConfirmOverwrite = [&](TZEBaseArchiver&, const String& source, String&, bool& confirm, bool&, bool&) {
    outcome.Asked.push_back(ToUtf8(source) + " overwrite?");
    confirm = source == u"keep.txt";
  };
  {
    std::optional<test::TFileSizeLimit> limit;
    if (decisions.FullDisk) limit.emplace(kFullDiskLimit);
    engine.ExtractFiles(u"*.*", 0x28BF, u"");
  }
  const TZEBaseArchiver::TZEUnrestored& unrestored = engine.Unrestored();
  outcome.Unrestored = unrestored.Count;
  if (unrestored.FirstFailure) outcome.FirstFailure = ToUtf8(unrestored.FirstName + u": " + unrestored.FirstFailure->Message());
  // A file's content, or "/" for a directory, by path below the destination.
  ForEachBelow(dest, [&](const std::string& name, bool isDirectory) {
    outcome.Tree[name] = isDirectory ? "/" : ReadAll(dest + "/" + name);
  });
  return outcome;
}

// Every decision that can end a pass, and those that let it go on, give the
// same files, the same questions in the same order, and the same count of
// entries not restored with any number of workers: nothing a worker did
// ahead of a decision is seen, no question is put ahead of it, and a file is
// neither made nor replaced before the entries before it are settled.
TEST(ZipParallel, EveryDecisionEndsOrContinuesThePassAsWithoutWorkers) {
  const std::vector<TDecisionCase> cases = {
      {"abort at the damaged entry", {fxaAbort}, omAlways, false},
      {"ignore every failure", {fxaIgnore}, omAlways, false},
      {"retry the damaged entry, then abort", {fxaRetry, fxaAbort}, omAlways, false},
      {"abort where a directory cannot be made", {fxaIgnore, fxaAbort}, omAlways, false},
      {"abort where a file cannot be made", {fxaIgnore, fxaIgnore, fxaAbort}, omAlways, false},
      {"abort on a full disk", {fxaIgnore, fxaAbort}, omAlways, true},
      {"retry on a full disk, then ignore", {fxaIgnore, fxaRetry, fxaIgnore}, omAlways, true},
      {"asked to overwrite, abort at the damaged entry", {fxaAbort}, omPrompt, false},
      {"asked to overwrite, ignore every failure", {fxaIgnore}, omPrompt, false},
  };
  ScratchDir scratch;
  const std::string archive = scratch.File("failing.zip");
  MakeFailingArchive(archive);
  int run = 0;
  for (const TDecisionCase& c : cases) {
    SCOPED_TRACE(c.Title);
    if (c.FullDisk && !test::WhyNoFileSizeLimit().empty()) continue;
    const TPassOutcome alone = ExtractDeciding(archive, scratch.File("d" + std::to_string(run++)), 0, c);
    ASSERT_FALSE(alone.Asked.empty());
    if (c.Answers.back() == fxaAbort) {
      const std::string& last = alone.Asked.back();
      EXPECT_NE(last.find(" failed "), std::string::npos) << "the pass ends at its Abort";
    }
    if (c.Answers == std::vector<TZEAction>{fxaAbort}) {
      EXPECT_EQ(alone.Tree.at("keep.txt"), "old keep");
      EXPECT_EQ(alone.Tree.count("b"), 0u);
      EXPECT_EQ(alone.Tree.count("bad.txt"), 0u);
      EXPECT_EQ(alone.Unrestored, 37);   // the damaged entry and the 36 after it
    }
    for (const int threads : {1, 2, 16}) {
      const TPassOutcome parallel = ExtractDeciding(archive, scratch.File("d" + std::to_string(run++)), threads, c);
      EXPECT_EQ(parallel.Asked, alone.Asked) << threads << " workers";
      EXPECT_TRUE(parallel.Tree == alone.Tree) << threads << " workers";
      EXPECT_EQ(parallel.Unrestored, alone.Unrestored) << threads << " workers";
      EXPECT_EQ(parallel.FirstFailure, alone.FirstFailure) << threads << " workers";
    }
  }
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoFileSizeLimit());   // the full-disk cases did not run
}

}  // namespace
}  // namespace zo
