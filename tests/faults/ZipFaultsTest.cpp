// Faults met by the ZIP engine on real files: sources that change between
// collection and commit, and an archive whose write fails midway because
// the file-size limit is reached (as on a full disk). After each the archive
// is byte for byte what it was, or complete and valid, and no temporary file
// is left behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <vector>

#include "platform/Utf.h"
#include "tests/MessageOf.h"
#include "tests/zip/ZipPeerTools.h"
#include "zip/ZipEngine.h"

namespace zo {
namespace {

namespace fs = std::filesystem;
using test::ReadAll;
using test::WriteAll;

// Big enough for several reads and more than one deflate block.
constexpr std::size_t kBig = 2 << 20;

class ZipFaults : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(scratch.File("src/sub"));
    fs::create_directories(scratch.File("tmp"));
    WriteAll(Src("a.txt"), "alpha");
    WriteAll(Src("sub/big.bin"), test::SampleData(kBig, 7));
    WriteAll(Src("sub/c.txt"), test::SampleData(50000, 3));
    // The archive as it stands before each transaction: two entries.
    TZipEngine engine;
    Prepare(engine);
    engine.OpenArchive(fmCreate);
    for (const char* name : {"old1.txt", "old2.txt"}) {
      auto stream = test::StreamOf(std::string(name) + test::SampleData(30000, 5));
      engine.AddFromStream(FromUtf8(name), *stream, true, 0, 0, 0x20, 45418.5);
    }
    engine.CloseArchive();
    before = ReadAll(Archive());
  }

  std::string Src(const std::string& name) const { return scratch.File("src/" + name); }
  std::string Archive() const { return scratch.File("a.zip"); }

  void Prepare(TZipEngine& engine) {
    engine.SetFileName(FromUtf8(Archive()));
    engine.SetTempDir(FromUtf8(scratch.File("tmp")));
    engine.SetBaseDir(FromUtf8(scratch.File("src")));
    engine.SetCompressionLevel(clFastest);
  }

  bool TempDirEmpty() const { return fs::is_empty(scratch.File("tmp")); }

  // A changed archive must read back whole with the peer tools, and every
  // entry taken from src must hold what that file holds now, or the start of
  // it when the file grew after it was collected.
  void ExpectUnchangedOrCompleteAndValid() {
    const std::string now = ReadAll(Archive());
    if (now == before) return;
    test::ExpectPeersAccept(Archive());
    TZipEngine reader;
    reader.SetFileName(FromUtf8(Archive()));
    reader.OpenArchive(0x20);
    for (int i = 0; i < reader.Dir().CDir.Count(); ++i) {
      const String name = reader.Dir().CDir[i].Name;
      if (name.empty() || name.back() == u'/' || name.starts_with(u"old")) continue;
      TMemoryStream out;
      reader.ExtractToStream(name, out);
      const std::string data(out.Memory().begin(), out.Memory().end());
      const std::string source = fs::is_regular_file(Src(ToUtf8(name))) ? ReadAll(Src(ToUtf8(name))) : "";
      EXPECT_EQ(source.substr(0, data.size()), data) << ToUtf8(name);
    }
  }

  test::ScratchDir scratch;
  std::string before;
};

struct Change {
  const char* what;
  std::function<void(const std::string& file)> apply;
  bool fails;  // the commit cannot read the file at all
};

TEST_F(ZipFaults, SourceChangedBetweenCollectionAndCommit) {
  const std::vector<Change> changes = {
      {"removed", [](const std::string& f) { fs::remove(f); }, true},
      {"shrunk", [](const std::string& f) { fs::resize_file(f, 1000); }, false},
      {"emptied", [](const std::string& f) { fs::resize_file(f, 0); }, false},
      {"grown", [](const std::string& f) { fs::resize_file(f, kBig + (1 << 20)); }, false},
      {"replaced by a directory", [](const std::string& f) { fs::remove(f), fs::create_directory(f); }, true},
  };
  for (const Change& change : changes) {
    for (const TZEAction decision : {fxaAbort, fxaIgnore}) {
      SCOPED_TRACE(std::string(change.what) + (decision == fxaAbort ? ", abort" : ", ignore"));
      WriteAll(Archive(), before);
      fs::remove_all(Src("sub/big.bin"));
      WriteAll(Src("sub/big.bin"), test::SampleData(kBig, 7));

      std::vector<int> natives;
      TZipEngine engine;
      Prepare(engine);
      engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String&, TZEProcessOperation, int native, int,
                                        const String&, TZEAction& action) {
        natives.push_back(native);
        action = decision;
      };
      engine.OpenArchive(fmOpenReadWrite);
      engine.BeginUpdate();
      engine.AddFiles(u"*.*", 0x28AF, u"");
      change.apply(Src("sub/big.bin"));
      EXPECT_EQ(test::MessageOf([&] { engine.EndUpdate(); }), u"<no error>") << "the failure decision was bypassed";
      engine.CloseArchive();
      // A file that shrank or grew is stored as the commit reads it, with
      // its own size and CRC; one that cannot be read is a failure.
      EXPECT_EQ(!natives.empty(), change.fails);
      if (decision == fxaAbort && !natives.empty()) {
        EXPECT_EQ(ReadAll(Archive()), before);
      }
      ExpectUnchangedOrCompleteAndValid();
      EXPECT_TRUE(TempDirEmpty());
    }
  }
}

// Runs fn in a child whose writes fail with EFBIG beyond limit bytes, as on
// a full disk; returns the child's exit code.
int RunWithFileSizeLimit(rlim_t limit, const std::function<int()>& fn) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit rl{limit, limit};
    ::setrlimit(RLIMIT_FSIZE, &rl);
    int code = 100;
    try {
      code = fn();
    } catch (...) {
      code = 101;
    }
    ::_exit(code);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST_F(ZipFaults, WriteFailsMidwayOnBothCommitPaths) {
  // Appending writes at the old central directory; replacing old1.txt goes
  // through a temporary copy of the entries behind it.
  for (const bool replace : {false, true}) {
    for (const rlim_t extra : {rlim_t{10}, rlim_t{200000}}) {
      SCOPED_TRACE(std::string(replace ? "replace" : "append") + ", room " + std::to_string(extra));
      WriteAll(Archive(), before);
      const int code = RunWithFileSizeLimit(before.size() + extra, [&] {
        int native = 0;
        TZipEngine engine;
        Prepare(engine);
        engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String&, TZEProcessOperation, int n, int,
                                          const String&, TZEAction& action) {
          if (native == 0) native = n;
          action = fxaAbort;
        };
        engine.OpenArchive(fmOpenReadWrite);
        engine.BeginUpdate();
        auto big = test::StreamOf(test::SampleData(1 << 20, 11));
        engine.AddFromStream(replace ? u"old1.txt" : u"new.bin", *big, false, 0, 0, 0x20, 45418.5);
        engine.EndUpdate();
        engine.CloseArchive();
        return native;
      });
      EXPECT_EQ(code, 65) << "expected the disk-full failure (native 65)";
      EXPECT_EQ(ReadAll(Archive()), before);
      EXPECT_TRUE(TempDirEmpty());
    }
  }
}

}  // namespace
}  // namespace zo
