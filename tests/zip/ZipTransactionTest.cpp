// Update transactions: a commit that is aborted or meets an exception leaves
// the archive byte for byte as it was, on both commit paths (appending at
// the old central directory, and replacing an entry through a temporary tail).
#include <gtest/gtest.h>
#include <dirent.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "tests/MessageOf.h"
#include "tests/zip/ZipPeerTools.h"
#include "zip/ZipEngine.h"

namespace zo {
namespace {

using test::ReadAll;
using test::StreamOf;

// A source that breaks after failAt bytes: it either ends early (the engine
// then finds fewer bytes than the size it reported) or throws, as a failing
// device would. failuresLeft limits how often it breaks.
class FailingStream : public TStream {
 public:
  enum class Kind { ShortRead, Throw };
  FailingStream(std::string data, std::int64_t failAt, Kind kind, int failures = 1000)
      : FData(std::move(data)), FFailAt(failAt), FKind(kind), FFailuresLeft(failures) {}

  std::int64_t Read(void* buffer, std::int64_t count) override {
    std::int64_t limit = static_cast<std::int64_t>(FData.size());
    if (FFailuresLeft > 0 && FPosition + count > FFailAt) {
      --FFailuresLeft;
      if (FKind == Kind::Throw) throw EReadError(String(kSReadError));
      limit = FFailAt;
    }
    const std::int64_t n = std::max<std::int64_t>(0, std::min(count, limit - FPosition));
    std::memcpy(buffer, FData.data() + FPosition, static_cast<std::size_t>(n));
    FPosition += n;
    return n;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    FPosition = (origin == soBeginning ? 0 : origin == soCurrent ? FPosition : Size()) + offset;
    return FPosition;
  }
  void SetSize(std::int64_t) override {}
  std::int64_t Size() override { return static_cast<std::int64_t>(FData.size()); }

 private:
  std::string FData;
  std::int64_t FPosition = 0;
  std::int64_t FFailAt;
  Kind FKind;
  int FFailuresLeft;
};

// Archives are compared whole; a difference is reported by where it starts.
void ExpectSameBytes(const std::string& actual, const std::string& expected) {
  if (actual == expected) return;
  std::size_t at = 0;
  while (at < actual.size() && at < expected.size() && actual[at] == expected[at]) ++at;
  ADD_FAILURE() << "archive differs from offset " << at << " (sizes " << actual.size() << " and "
                << expected.size() << ")";
}

std::vector<std::string> FilesIn(const std::string& dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(dir.c_str())) {
    while (dirent* e = ::readdir(d)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.push_back(e->d_name);
    }
    ::closedir(d);
  }
  return names;
}

class ZipTransaction : public ::testing::Test {
 protected:
  void SetUp() override {
    tempDir = scratch.File("tmp");
    std::filesystem::create_directory(tempDir);
    engine.SetTempDir(FromUtf8(tempDir));
    engine.SetUserPrompt(&noQuestions);
    MakeArchive();
    before = ReadAll(Archive());
  }
  // Three entries, written and then opened for updating in place: the
  // transactions below change the archive file itself.
  void MakeArchive() {
    engine.SetFileName(scratch.UFile("a.zip"));
    engine.OpenArchive(fmCreate);
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) Add(name, std::string(name) + " " + test::SampleData(40000));
    engine.CloseArchive();
    engine.OpenArchive(fmOpenReadWrite);
  }
  void Add(const std::string& name, const std::string& data) {
    auto stream = StreamOf(data);
    engine.AddFromStream(String(name.begin(), name.end()), *stream, true, 0, 0, 0x20, 45418.5);
  }
  std::string Archive() const { return scratch.File("a.zip"); }

  // The archive must still be what it was, and still be usable.
  void ExpectUnchangedAndUsable() {
    EXPECT_FALSE(engine.InUpdate());
    ExpectSameBytes(ReadAll(Archive()), before);
    EXPECT_EQ(engine.Dir().CDir.Count(), 3);
    EXPECT_TRUE(FilesIn(tempDir).empty()) << "temporary tail left behind";
    Add("f.txt", "after");
    engine.CloseArchive();
    ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
    test::ExpectPeersAccept(Archive());
    const auto names = test::RunCommand("python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).namelist())' " +
                                        test::Quoted(Archive()));
    EXPECT_EQ(names.output, "['a.txt', 'b.txt', 'c.txt', 'f.txt']\n");
  }

  class NoQuestions : public TZEUserPrompt {
   public:
    TZEAnswer Ask(const String&, TZEQuestionKind) override {
      ADD_FAILURE() << "the engine asked although a hook is installed";
      return zaAbort;
    }
  } noQuestions;
  test::ScratchDir scratch;
  std::string tempDir;
  TZipEngine engine;
  std::string before;
};

// 3 MiB that break after 2 MiB, so several deflate blocks are already written.
std::string BigData() { return test::SampleData(3 << 20, 9); }
constexpr std::int64_t kFailAt = 2 << 20;

enum class Path { Append, TempTail };

// Runs one failing transaction: appending d.txt and a failing e.txt, or
// replacing b.txt (not the last entry) with a failing source and adding d.txt.
void RunFailingTransaction(TZipEngine& engine, Path path, FailingStream& failing,
                           const std::function<void(const std::string&)>& add) {
  engine.BeginUpdate();
  if (path == Path::Append) {
    add("d.txt");
    engine.AddFromStream(u"e.txt", failing, false, 0, 0, 0x20, 0);
  } else {
    engine.AddFromStream(u"b.txt", failing, false, 0, 0, 0x20, 0);
    add("d.txt");
  }
  engine.EndUpdate();
}

TEST_F(ZipTransaction, AbortedCommitLeavesTheArchiveAsBefore) {
  for (const Path path : {Path::Append, Path::TempTail}) {
    SCOPED_TRACE(path == Path::Append ? "append" : "temporary tail");
    if (path == Path::TempTail) {   // a fresh archive for the second round
      MakeArchive();
      ExpectSameBytes(ReadAll(Archive()), before);
    }
    std::vector<int> natives;
    std::vector<std::string> tempFiles;
    engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String&, TZEProcessOperation, int native,
                                      int, const String&, TZEAction& action) {
      natives.push_back(native);
      tempFiles = FilesIn(tempDir);
      action = fxaAbort;
    };
    FailingStream failing(BigData(), kFailAt, FailingStream::Kind::ShortRead);
    RunFailingTransaction(engine, path, failing, [&](const std::string& n) { Add(n, "d"); });
    EXPECT_EQ(natives, std::vector<int>{34});
    if (path == Path::TempTail) {
      ASSERT_EQ(tempFiles.size(), 1u);
      EXPECT_EQ(tempFiles[0].substr(0, 2), "FC");
    } else {
      EXPECT_TRUE(tempFiles.empty());
    }
    engine.OnProcessFileFailure = nullptr;
    ExpectUnchangedAndUsable();
  }
}

TEST_F(ZipTransaction, ExceptionInTheCommitRollsBackAndReachesTheCaller) {
  for (const Path path : {Path::Append, Path::TempTail}) {
    SCOPED_TRACE(path == Path::Append ? "append" : "temporary tail");
    if (path == Path::TempTail) MakeArchive();
    engine.OnProcessFileFailure = [](TZEBaseArchiver&, const String&, TZEProcessOperation, int, int,
                                     const String&, TZEAction&) { ADD_FAILURE() << "not an engine error"; };
    FailingStream failing(BigData(), kFailAt, FailingStream::Kind::Throw);
    EXPECT_THROW(RunFailingTransaction(engine, path, failing, [&](const std::string& n) { Add(n, "d"); }),
                 EReadError);
    engine.OnProcessFileFailure = nullptr;
    ExpectUnchangedAndUsable();
  }
}

TEST_F(ZipTransaction, UnusableTempDirFailsBeforeTheArchiveIsTouched) {
  engine.SetTempDir(FromUtf8(scratch.File("missing")));
  EXPECT_THROW(Add("b.txt", "new b"), EFCreateError);
  engine.SetTempDir(FromUtf8(tempDir));
  ExpectUnchangedAndUsable();
}

TEST_F(ZipTransaction, IgnoreDropsANewEntryAndKeepsAReplacedOne) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  engine.OnProcessFileFailure = [](TZEBaseArchiver&, const String&, TZEProcessOperation, int, int,
                                   const String&, TZEAction& action) { action = fxaIgnore; };
  FailingStream replacing(BigData(), kFailAt, FailingStream::Kind::ShortRead);
  FailingStream adding(BigData(), kFailAt, FailingStream::Kind::ShortRead);
  engine.BeginUpdate();
  engine.AddFromStream(u"b.txt", replacing, false, 0, 0, 0x20, 0);
  Add("d.txt", "d");
  engine.AddFromStream(u"e.txt", adding, false, 0, 0, 0x20, 0);
  engine.EndUpdate();
  engine.CloseArchive();
  test::ExpectPeersAccept(Archive());
  EXPECT_EQ(test::PythonListing(Archive()),
            "a.txt\t0\t8\t" + test::Sha1Hex("a.txt " + test::SampleData(40000)) + "\n" +
                "b.txt\t0\t8\t" + test::Sha1Hex("b.txt " + test::SampleData(40000)) + "\n" +
                "c.txt\t0\t8\t" + test::Sha1Hex("c.txt " + test::SampleData(40000)) + "\n" +
                "d.txt\t0\t8\t" + test::Sha1Hex("d") + "\n");
  EXPECT_TRUE(FilesIn(tempDir).empty());
}

TEST_F(ZipTransaction, RetryStoresTheEntryAgain) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  int asked = 0;
  engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String& name, TZEProcessOperation operation,
                                    int, int, const String&, TZEAction& action) {
    ++asked;
    EXPECT_EQ(name, u"b.txt");
    EXPECT_EQ(operation, poUpdate);
    action = fxaRetry;
  };
  const std::string data = BigData();
  FailingStream once(data, kFailAt, FailingStream::Kind::ShortRead, 1);
  engine.AddFromStream(u"b.txt", once, false, 0, 0, 0x20, 0);
  engine.CloseArchive();
  EXPECT_EQ(asked, 1);
  test::ExpectPeersAccept(Archive());
  const std::string listing = test::PythonListing(Archive());
  EXPECT_NE(listing.find("b.txt\t0\t8\t" + test::Sha1Hex(data)), std::string::npos) << listing;
}

TEST_F(ZipTransaction, CancelledUpdateForgetsItsEntries) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  engine.BeginUpdate();
  Add("d.txt", "d");
  engine.CancelUpdate();
  EXPECT_EQ(engine.Dir().CDir.Count(), 3);
  Add("e.txt", "e");
  engine.CloseArchive();
  test::ExpectPeersAccept(Archive());
  EXPECT_EQ(test::RunCommand("python3 -c 'import sys, zipfile; print(zipfile.ZipFile(sys.argv[1]).namelist())' " +
                             test::Quoted(Archive())).output,
            "['a.txt', 'b.txt', 'c.txt', 'e.txt']\n");
}

TEST_F(ZipTransaction, NestedUpdatesCommitOnlyAtTheOutermostEnd) {
  engine.BeginUpdate();
  engine.BeginUpdate();
  Add("d.txt", "d");
  engine.EndUpdate();
  ExpectSameBytes(ReadAll(Archive()), before);
  engine.EndUpdate();
  EXPECT_TRUE(ReadAll(Archive()) != before);
  EXPECT_EQ(engine.Dir().CDir.Count(), 4);
}

TEST_F(ZipTransaction, ReplacingAnEntryOnAReopenedArchiveCopiesTheRestUnchanged) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  engine.CloseArchive();
  TZipEngine reopened;
  reopened.SetTempDir(FromUtf8(tempDir));
  reopened.SetFileName(scratch.UFile("a.zip"));
  reopened.OpenArchive(fmOpenReadWrite);
  ASSERT_EQ(reopened.Dir().CDir.Count(), 3);
  auto stream = StreamOf("new a");
  reopened.AddFromStream(u"A.TXT", *stream, false, 0, 0, 0x20, 0);
  reopened.CloseArchive();
  test::ExpectPeersAccept(Archive());
  EXPECT_EQ(test::PythonListing(Archive()),
            "A.TXT\t0\t8\t" + test::Sha1Hex("new a") + "\n" +
                "b.txt\t0\t8\t" + test::Sha1Hex("b.txt " + test::SampleData(40000)) + "\n" +
                "c.txt\t0\t8\t" + test::Sha1Hex("c.txt " + test::SampleData(40000)) + "\n");
  EXPECT_TRUE(FilesIn(tempDir).empty());
}

}  // namespace
}  // namespace zo

namespace zo {
namespace {

// One entry added to (or replaced in) an existing archive, updated in place.
void AddInPlace(const std::string& archive, const String& name, const std::string& data) {
  TZipEngine engine;
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmOpenReadWrite);
  auto stream = StreamOf(data);
  engine.AddFromStream(name, *stream, false, 0, 0, 0x20, 0);
  engine.CloseArchive();
}

TEST(ZipForeignArchive, EntriesWithDataDescriptorsAreCopiedWhole) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  // Written to a pipe, Python's zipfile cannot seek back and puts CRC and
  // sizes in a data descriptor after each entry's data (flag bit 3).
  test::ScratchDir scratch;
  const std::string archive = scratch.File("foreign.zip");
  const auto made = test::RunCommand(
      "python3 -c 'import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.stdout.buffer, \"w\", zipfile.ZIP_DEFLATED)\n"
      "for n in (\"a.txt\", \"b.txt\", \"c.txt\"): z.writestr(n, n * 1000)\n"
      "z.close()\n"
      "' | cat > " + test::Quoted(archive));
  ASSERT_EQ(made.status, 0) << made.output;
  const auto flags = test::RunCommand("python3 -c 'import sys, zipfile; print([i.flag_bits & 8 for i in "
                                      "zipfile.ZipFile(sys.argv[1]).infolist()])' " + test::Quoted(archive));
  ASSERT_EQ(flags.output, "[8, 8, 8]\n");

  AddInPlace(archive, u"a.txt", "new a");
  test::ExpectPeersAccept(archive);
  EXPECT_EQ(test::PythonListing(archive),
            "a.txt\t0\t8\t" + test::Sha1Hex("new a") + "\n" +
                "b.txt\t8\t8\t" + test::Sha1Hex([] { std::string s; for (int i = 0; i < 1000; ++i) s += "b.txt"; return s; }()) + "\n" +
                "c.txt\t8\t8\t" + test::Sha1Hex([] { std::string s; for (int i = 0; i < 1000; ++i) s += "c.txt"; return s; }()) + "\n");
}

}  // namespace
}  // namespace zo

namespace zo {
namespace {

// A memory stream on a small disk: writes beyond the capacity are short.
class SmallDisk : public TMemoryStream {
 public:
  explicit SmallDisk(std::int64_t capacity) : capacity(capacity) {}
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    const std::int64_t room = std::max<std::int64_t>(0, capacity - Position());
    return TMemoryStream::Write(buffer, std::min(count, room));
  }
  std::int64_t capacity;
};

TEST(ZipDiskFull, ShortWriteIsNative65AndAbortLeavesTheArchive) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  SmallDisk disk(4096);
  TZipEngine engine;
  engine.OpenArchive(disk, true);
  auto small = StreamOf("small");
  engine.AddFromStream(u"small.txt", *small, false, 0, 0, 0x20, 45418.5);
  const Bytes before = disk.Memory();

  std::vector<int> natives;
  engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String&, TZEProcessOperation, int native,
                                    int, const String& message, TZEAction& action) {
    natives.push_back(native);
    EXPECT_EQ(message, u"Disk is full. There is not enough free space on disk. - Native error: 00065");
    action = fxaAbort;
  };
  const std::string big = test::SampleData(100000, 4) + std::string(50000, 'x');
  auto source = StreamOf(big);
  engine.AddFromStream(u"big.txt", *source, false, 0, 0, 0x20, 45418.5);
  EXPECT_EQ(natives, std::vector<int>{65});
  EXPECT_TRUE(disk.Memory() == before);

  // A disk-full hook that makes room lets the same entry through.
  int calls = 0;
  engine.OnDiskFull = [&](TZEBaseArchiver&, int, const String&, bool& cancel) {
    ++calls;
    disk.capacity += 1 << 20;
    cancel = false;
  };
  engine.AddFromStream(u"big.txt", *source, false, 0, 0, 0x20, 45418.5);
  EXPECT_EQ(calls, 1);
  engine.CloseArchive();
  test::ScratchDir scratch;
  test::WriteAll(scratch.File("d.zip"), std::string(disk.Memory().begin(), disk.Memory().end()));
  test::ExpectPeersAccept(scratch.File("d.zip"));
  EXPECT_EQ(test::PythonListing(scratch.File("d.zip")),
            "small.txt\t0\t8\t" + test::Sha1Hex("small") + "\n" + "big.txt\t0\t8\t" + test::Sha1Hex(big) + "\n");
}

}  // namespace
}  // namespace zo

namespace zo {
namespace {

std::string Python(const std::string& script, const std::string& archive) {
  const test::CommandResult result = test::RunCommand("python3 -c '" + script + "' " + test::Quoted(archive));
  EXPECT_EQ(result.status, 0) << result.output;
  return result.output;
}

// The central directory of an archive of three entries (a.txt, b.txt,
// c.txt, in that order in the file) listed in reverse.
constexpr char kReverseCentralDirectory[] = R"PY(
import struct, sys, zipfile
path = sys.argv[1]
with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
    for n in ("a.txt", "b.txt", "c.txt"): z.writestr(n, n * 3000)
data = open(path, "rb").read()
end = data.rindex(b"PK\x05\x06")
size, offset = struct.unpack("<II", data[end + 12:end + 20])
records, p = [], offset
while p < offset + size:
    n, e, c = struct.unpack("<HHH", data[p + 28:p + 34])
    records.append(data[p:p + 46 + n + e + c])
    p += 46 + n + e + c
open(path, "wb").write(data[:offset] + b"".join(reversed(records)) + data[offset + size:])
)PY";

// Replacing an entry where the central directory lists the entries in
// another order than the file holds them: entries listed before the replaced
// one but lying after it in the file must survive the commit.
TEST(ZipUpdateInPlace, ReplacingAnEntryNeverCutsAwayAnotherListedBeforeIt) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  test::ScratchDir scratch;
  const std::string archive = scratch.File("r.zip");
  Python(kReverseCentralDirectory, archive);
  for (const char* replaced : {"b.txt", "c.txt", "a.txt"}) {
    SCOPED_TRACE(replaced);
    TZipEngine engine;
    engine.SetFileName(FromUtf8(archive));
    engine.OpenArchive(fmOpenReadWrite);
    ASSERT_EQ(ToUtf8(engine.Dir().CDir[0].Name), "c.txt");
    auto stream = StreamOf(std::string("new ") + replaced);
    engine.AddFromStream(FromUtf8(replaced), *stream, false, 0, 0, 0x20, 0);
    engine.CloseArchive();
    test::ExpectPeersAccept(archive);
    const std::string contents = Python(
        "import sys, zipfile\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "print(sorted((n, z.read(n)[:12].decode()) for n in z.namelist()))\n", archive);
    EXPECT_NE(contents.find("('" + std::string(replaced) + "', 'new " + replaced + "')"), std::string::npos) << contents;
    EXPECT_EQ(std::count(contents.begin(), contents.end(), '('), 3) << contents;
  }
}

// Entries this run does not touch keep the name bytes and flags other tools
// gave them, in the central directory as in their local headers, so that
// readers that compare the two (Python's among them) still accept them.
TEST(ZipUpdateInPlace, UntouchedEntriesKeepTheirNameBytes) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  test::ScratchDir scratch;
  const std::string archive = scratch.File("n.zip");
  // UTF-8 bytes without flag bit 11, and CP437 bytes that would be encoded
  // differently today.
  Python(R"PY(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    z.writestr("cafXX.txt", b"utf-8 without the flag")
    z.writestr("grY.txt", b"cp437")
data = open(sys.argv[1], "rb").read()
data = data.replace(b"cafXX.txt", "café.txt".encode()).replace(b"grY.txt", "grü.txt".encode("cp437")[:3] + b".txt")
open(sys.argv[1], "wb").write(data)
)PY", archive);
  const std::string before = Python(
      "import sys, zipfile\n"
      "print([(i.orig_filename.encode(\"cp437\") if not i.flag_bits & 0x800 else i.orig_filename.encode(), i.flag_bits) for i in zipfile.ZipFile(sys.argv[1]).infolist()])\n",
      archive);
  AddInPlace(archive, u"new.txt", "added");
  test::ExpectPeersAccept(archive);
  const std::string after = Python(
      "import sys, zipfile\n"
      "print([(i.orig_filename.encode(\"cp437\") if not i.flag_bits & 0x800 else i.orig_filename.encode(), i.flag_bits) for i in zipfile.ZipFile(sys.argv[1]).infolist()][:2])\n",
      archive);
  EXPECT_EQ(after, before);
}

// A disk that takes writes until the commit's rollback starts, and none after:
// the rollback cannot put the archive back.
class DiskThatFailsOnRollback : public TMemoryStream {
 public:
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    return FTruncations >= 2 ? 0 : TMemoryStream::Write(buffer, count);
  }
  void SetSize(std::int64_t size) override {
    ++FTruncations;
    TMemoryStream::SetSize(size);
  }

 private:
  int FTruncations = 0;
};

// When a failed commit cannot put the archive back, the bytes it would have
// put back are the only copy left: they stay in a file the error names.
TEST(ZipUpdateInPlace, ARollbackThatFailsKeepsTheOnlyCopyAndNamesIt) {
  for (const bool replace : {true, false}) {
    SCOPED_TRACE(replace ? "temporary tail" : "old central directory");
    test::ScratchDir scratch;
    // With '/' throughout, as the engine spells the path it names.
    const std::string tempDir = scratch.Path("tmp").generic_string();
    std::filesystem::create_directory(tempDir);
    TMemoryStream original;
    {
      TZipEngine writer;
      writer.OpenArchive(original, true);
      for (const char* name : {"a.txt", "b.txt"}) {
        auto data = StreamOf(std::string(name) + test::SampleData(5000));
        writer.AddFromStream(FromUtf8(name), *data, false, 0, 0, 0x20, 45418.5);
      }
      writer.CloseArchive();
    }
    DiskThatFailsOnRollback disk;
    disk.WriteBuffer(original.Memory().data(), original.Size());
    TZipEngine engine;
    engine.SetTempDir(FromUtf8(tempDir));
    engine.OpenArchive(disk, false);
    const std::int64_t from = replace ? static_cast<std::int64_t>(engine.Dir().CDir[0].LocalHeaderOffset())
                                      : engine.Dir().CentralDirOffset;
    engine.OnProcessFileFailure = [](TZEBaseArchiver&, const String&, TZEProcessOperation, int, int,
                                     const String&, TZEAction& action) { action = fxaAbort; };
    FailingStream failing(BigData(), kFailAt, FailingStream::Kind::ShortRead);
    const std::string message = ToUtf8(test::MessageOf<EInOutError>(
        [&] { engine.AddFromStream(replace ? u"a.txt" : u"c.txt", failing, false, 0, 0, 0x20, 0); }));
    const std::vector<std::string> kept = FilesIn(tempDir);
    ASSERT_EQ(kept.size(), 1u) << message;
    const std::string path = tempDir + "/" + kept[0];
    EXPECT_NE(message.find("\"" + path + "\""), std::string::npos) << message;
    const Bytes& all = original.Memory();
    EXPECT_TRUE(ReadAll(path) == std::string(all.begin() + from, all.end()));
  }
}

}  // namespace
}  // namespace zo
