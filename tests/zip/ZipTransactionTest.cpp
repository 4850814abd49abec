// Update transactions: a commit that is aborted or meets an exception leaves
// the archive byte for byte as it was, on both commit paths (appending at
// the old central directory, and replacing an entry through a temporary tail).
#include <gtest/gtest.h>
#include <dirent.h>
#include <sys/stat.h>

#include <cstring>
#include <functional>

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
      : data_(std::move(data)), failAt_(failAt), kind_(kind), failuresLeft_(failures) {}

  std::int64_t Read(void* buffer, std::int64_t count) override {
    std::int64_t limit = static_cast<std::int64_t>(data_.size());
    if (failuresLeft_ > 0 && position_ + count > failAt_) {
      --failuresLeft_;
      if (kind_ == Kind::Throw) throw EReadError(String(kSReadError));
      limit = failAt_;
    }
    const std::int64_t n = std::max<std::int64_t>(0, std::min(count, limit - position_));
    std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    position_ = (origin == soBeginning ? 0 : origin == soCurrent ? position_ : Size()) + offset;
    return position_;
  }
  void SetSize(std::int64_t) override {}
  std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

 private:
  std::string data_;
  std::int64_t position_ = 0;
  std::int64_t failAt_;
  Kind kind_;
  int failuresLeft_;
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
    ::mkdir(tempDir.c_str(), 0700);
    engine.SetTempDir(FromUtf8(tempDir));
    engine.SetUserPrompt(&noQuestions);
    engine.SetFileName(scratch.UFile("a.zip"));
    engine.OpenArchive(fmCreate);
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) Add(name, std::string(name) + " " + test::SampleData(40000));
    before = ReadAll(Archive());
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
      engine.SetFileName(scratch.UFile("a.zip"));
      engine.OpenArchive(fmCreate);
      for (const char* name : {"a.txt", "b.txt", "c.txt"}) Add(name, std::string(name) + " " + test::SampleData(40000));
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
    if (path == Path::TempTail) {
      engine.SetFileName(scratch.UFile("a.zip"));
      engine.OpenArchive(fmCreate);
      for (const char* name : {"a.txt", "b.txt", "c.txt"}) Add(name, std::string(name) + " " + test::SampleData(40000));
    }
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

TEST(ZipForeignArchive, EntriesWithDataDescriptorsAreCopiedWhole) {
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

  TZipEngine engine;
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmOpenReadWrite);
  auto stream = StreamOf("new a");
  engine.AddFromStream(u"a.txt", *stream, false, 0, 0, 0x20, 0);
  engine.CloseArchive();

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
