// Archives written by other zip implementations, generated at test time,
// are listed and extracted with identical content and times.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "tests/FileContents.h"
#include "tests/ScratchDir.h"
#include "tests/zip/ZipTestSystem.h"
#include "zip/ZipEngine.h"

namespace zo {
namespace {

const TLocalTime kStamp{2021, 3, 4, 5, 6, 8, 0};

std::string ReadFile(const std::string& path) { return test::ReadAll(path); }

// Peers run in a UTF-8 locale whatever the caller's (see ZipPeerTools.h).
int Shell(const std::string& command) { return std::system(("export LC_ALL=C.UTF-8; " + command).c_str()); }

bool HaveTool(const char* tool) { return Shell(std::string("command -v ") + tool + " >/dev/null 2>&1") == 0; }

// Python writer: stored and deflated entries, UTF-8 names (flag 11), a CP437
// name patched in after writing, an archive comment, and optionally Zip64
// extras or data descriptors (written through an unseekable stream).
constexpr char kPythonWriter[] = R"PY(
import sys, zipfile
src, out, variant = sys.argv[1], sys.argv[2], sys.argv[3]
stamp = (2021, 3, 4, 5, 6, 8)
files = ["text.txt", "random.bin", "empty.dat", "sub/inner.txt", "Grüße €.txt"]
class Unseekable:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
    def close(self): self.f.close()
raw = open(out, "wb")
target = Unseekable(raw) if variant == "descriptors" else raw
with zipfile.ZipFile(target, "w") as z:
    z.comment = b"written by python"
    for i, name in enumerate(files + ["GrXYe.txt"]):
        data = open(src + "/" + (name if name != "GrXYe.txt" else "Grüße.txt"), "rb").read()
        info = zipfile.ZipInfo(name, stamp)
        info.compress_type = zipfile.ZIP_STORED if i % 2 else zipfile.ZIP_DEFLATED
        with z.open(info, "w", force_zip64=(variant == "zip64")) as f:
            f.write(data)
raw.close()
blob = open(out, "rb").read().replace(b"GrXYe.txt", "Grüße.txt".encode("cp437"))
open(out, "wb").write(blob)
)PY";

class ZipPeerReadTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!test::WhyNoPeers().empty()) return;
    FScratch = std::make_unique<test::ScratchDir>("zipread-peer");
    FRoot = FScratch->Dir().string();
    const std::string src = FRoot + "/src";
    ASSERT_TRUE(ForceDirectories(FromUtf8(src + "/sub")));
    std::string text;
    for (int i = 0; i < 5000; ++i) text += "line " + std::to_string(i) + " of some text\n";
    std::ofstream(src + "/text.txt") << text;
    std::string random(150000, '\0');
    std::uint32_t x = 7;
    for (char& c : random) c = static_cast<char>((x = x * 1664525 + 1013904223) >> 24);
    std::ofstream(src + "/random.bin", std::ios::binary) << random;
    std::ofstream(src + "/empty.dat");
    std::ofstream(src + "/sub/inner.txt") << "inner\n";
    std::ofstream(src + "/Grüße €.txt") << "utf-8 name\n";
    std::ofstream(src + "/Grüße.txt") << "cp437 name\n";
    for (const char* f : {"text.txt", "random.bin", "empty.dat", "sub/inner.txt", "Grüße €.txt", "Grüße.txt", "sub"}) {
      FileSetLocalTime(FromUtf8(src + "/" + f), kStamp);
    }
    std::ofstream(FRoot + "/writer.py") << kPythonWriter;
  }
  static void TearDownTestSuite() { FScratch.reset(); }
  void SetUp() override { ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers()); }

  // Opens archive, checks the listing against the source tree, extracts
  // everything and compares content and times.
  void CheckArchive(const std::string& archive) {
    SCOPED_TRACE(archive);
    TZipEngine engine;
    engine.SetFileName(FromUtf8(archive));
    ASSERT_NO_THROW(engine.OpenArchive(0x20));
    std::set<std::string> files;
    TZEArchiveItem item;
    for (bool ok = engine.FindFirst(u"*.*", item, u"", 0x1FF); ok; ok = engine.FindNext(item)) {
      std::string name = ToUtf8(item.StoredPath + item.FileName);
      std::replace(name.begin(), name.end(), '\\', '/');
      if (name.starts_with("./")) name.erase(0, 2);
      if (!engine.Dir().CDir[item.Handle.ItemNo].IsDirectory()) files.insert(name);
    }
    const std::set<std::string> expected = {"text.txt", "random.bin", "empty.dat", "sub/inner.txt",
                                            "Grüße €.txt", "Grüße.txt"};
    EXPECT_EQ(files, expected);

    const std::string out = FRoot + "/out";
    Shell("rm -rf '" + out + "'");
    engine.SetBaseDir(FromUtf8(out));
    std::vector<std::string> failures;
    engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String&, TZEProcessOperation, int, int,
                                      const String& message, TZEAction& action) {
      failures.push_back(ToUtf8(message));
      action = fxaIgnore;
    };
    engine.ExtractFiles(u"*.*", 0x28BF, u"");
    EXPECT_TRUE(failures.empty()) << failures.front();
    for (const std::string& f : expected) {
      SCOPED_TRACE(f);
      EXPECT_TRUE(ReadFile(out + "/" + f) == ReadFile(FRoot + "/src/" + f));
      EXPECT_EQ(FileGetLocalTime(FromUtf8(out + "/" + f)), kStamp);
    }
  }

  static std::unique_ptr<test::ScratchDir> FScratch;
  static std::string FRoot;
};

std::unique_ptr<test::ScratchDir> ZipPeerReadTest::FScratch;
std::string ZipPeerReadTest::FRoot;

TEST_F(ZipPeerReadTest, InfoZipArchives) {
  if (!HaveTool("zip")) GTEST_SKIP() << "zip is not installed";
  const std::string src = FRoot + "/src";
  const struct {
    const char* file;
    const char* options;
  } cases[] = {{"deflate.zip", "-r"}, {"stored.zip", "-r -0"}, {"descriptors.zip", "-r -fd"}, {"zip64.zip", "-r -fz"}};
  for (const auto& c : cases) {
    const std::string archive = FRoot + "/" + c.file;
    ASSERT_EQ(Shell("cd '" + src + "' && zip -q " + c.options + " '" + archive + "' . && echo 'a comment' | zip -qz '" +
                  archive + "'"),
              0);
    CheckArchive(archive);
  }
  // Data in front of the archive, offsets left relative to the archive.
  for (const char* size : {"7", "4321"}) {
    const std::string stubbed = FRoot + "/stubbed" + size + ".zip";
    ASSERT_EQ(Shell(std::string("head -c ") + size + " /dev/urandom > '" + stubbed + "' && cat '" + FRoot +
                    "/deflate.zip' >> '" + stubbed + "'"),
              0);
    CheckArchive(stubbed);
  }
}

TEST_F(ZipPeerReadTest, SevenZipArchives) {
  if (!HaveTool("7z")) GTEST_SKIP() << "7z is not installed";
  for (const char* options : {"-mx=5", "-mm=Copy"}) {
    const std::string archive = FRoot + "/7z" + std::string(options).substr(1, 3) + ".zip";
    ASSERT_EQ(Shell("cd '" + FRoot + "/src' && 7z a -tzip " + options + " '" + archive + "' . >/dev/null"), 0);
    CheckArchive(archive);
  }
}

TEST_F(ZipPeerReadTest, BsdtarArchives) {
  if (!HaveTool("bsdtar")) GTEST_SKIP() << "bsdtar is not installed";
  for (const char* options : {"", "--options zip:compression=store"}) {
    const std::string archive = FRoot + "/bsdtar" + std::to_string(std::string(options).size()) + ".zip";
    ASSERT_EQ(Shell("bsdtar -cf '" + archive + "' --format zip " + options + " -C '" + FRoot + "/src' ."), 0);
    CheckArchive(archive);
  }
}

TEST_F(ZipPeerReadTest, PythonArchives) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  for (const char* variant : {"plain", "descriptors", "zip64"}) {
    const std::string archive = FRoot + "/py-" + variant + ".zip";
    ASSERT_EQ(Shell("python3 '" + FRoot + "/writer.py' '" + FRoot + "/src' '" + archive + "' " + variant), 0);
    CheckArchive(archive);
  }
}

// More than 65,535 entries: a real Zip64 end record and locator.
TEST_F(ZipPeerReadTest, PythonArchiveWithZip64EndRecords) {
  if (!HaveTool("python3")) GTEST_SKIP() << "python3 is not installed";
  const std::string archive = FRoot + "/many.zip";
  ASSERT_EQ(Shell("python3 -c \"import zipfile\nwith zipfile.ZipFile('" + archive +
                "', 'w') as z:\n  [z.writestr('d/%05d.txt' % i, str(i)) for i in range(70000)]\""),
            0);
  TZipEngine engine;
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(0x20);
  EXPECT_TRUE(engine.Dir().FZip64);
  ASSERT_EQ(engine.Dir().CDir.Count(), 70000);
  TMemoryStream out;
  engine.ExtractToStream(u"d/69999.txt", out);
  EXPECT_EQ(std::string(out.Memory().begin(), out.Memory().end()), "69999");
}

}  // namespace
}  // namespace zo
