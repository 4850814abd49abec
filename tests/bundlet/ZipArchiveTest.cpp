#include "bundlet/ZipArchive.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "core/DateTime.h"
#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "tests/FileContents.h"
#include "tests/MessageOf.h"
#include "tests/ScratchDir.h"

namespace zo {
namespace {

namespace fs = std::filesystem;

class ZipArchiveTest : public ::testing::Test {
 protected:
  String Path(const std::string& rel) const { return FromUtf8(FRoot + "/" + rel); }
  void Write(const std::string& rel, const std::string& content) const {
    fs::create_directories(fs::path(FRoot + "/" + rel).parent_path());
    std::ofstream(FRoot + "/" + rel, std::ios::binary) << content;
  }
  std::vector<String> List(const std::string& archive) const {
    TZipArchive zip;
    zip.Open(Path(archive), omUnzip);
    std::vector<String> names;
    zip.ListFiles(names);
    return names;
  }

  test::ScratchDir FScratch{"zo-ziparchive"};
  const std::string FRoot = FScratch.Dir().string();
};

TEST(EZipErrorTest, MessagesByNumber) {
  struct Case {
    std::int32_t code;
    const char16_t* expected;
  } cases[] = {
      {-201, u"File \"a.txt\" not found (or invalid)"},
      {-202, u"Zip mode required"},
      {-203, u"Unzip mode required"},
      {-204, u"File \"a.txt\" already exists"},
      {-105, u"CRC error"},
      {-104, u"Internal error"},
      {-103, u"Bad ZIP file  \"a.txt\""},
      {-102, u"Invalid parameter"},
      {-101, u"Unknown error"},
      {0, u"Unknown error"},
  };
  for (const Case& c : cases) {
    const EZipError e(c.code, u"a.txt");
    EXPECT_EQ(e.Message(), c.expected) << c.code;
    EXPECT_EQ(e.ErrorCode(), c.code);
  }
  // A name holding format characters goes in as it is.
  EXPECT_EQ(EZipError(-201, u"100%s.txt").Message(), u"File \"100%s.txt\" not found (or invalid)");
}

TEST(ZipEngineLevelTest, MethodAndLevel) {
  for (TZipLevel level : {zlNone, zlFastest, zlDefault, zlBest}) {
    EXPECT_EQ(ZipEngineLevel(zmStore, level), clNone);
  }
  EXPECT_EQ(ZipEngineLevel(zmDeflate, zlNone), clNone);
  EXPECT_EQ(ZipEngineLevel(zmDeflate, zlFastest), clFastest);
  EXPECT_EQ(ZipEngineLevel(zmDeflate, zlDefault), clNormal);
  EXPECT_EQ(ZipEngineLevel(zmDeflate, zlBest), clMax);
}

// Every operation checks the open mode before it does anything else.
TEST_F(ZipArchiveTest, ModeChecks) {
  Write("src/a.txt", "abc");
  const String file = Path("src/a.txt");
  using Operation = std::function<void(TZipArchive&)>;
  const std::vector<std::pair<const char*, Operation>> writing = {
      {"WriteFile(name)", [&](TZipArchive& z) { z.WriteFile(file, zmDeflate, zlBest, u""); }},
      {"WriteFile(stream)", [&](TZipArchive& z) { TMemoryStream s; z.WriteFile(u"x", s, zmDeflate, zlBest, u""); }},
      {"Pack", [&](TZipArchive& z) { z.Pack(Path("src"), true, true, zmDeflate, zlBest); }},
      {"PackFile", [&](TZipArchive& z) { z.PackFile(Path("src"), u"a.txt"); }},
      {"PackDirectory", [&](TZipArchive& z) { z.PackDirectory(Path(""), u"src"); }},
      {"FileFromBinary", [&](TZipArchive& z) { z.FileFromBinary(u"x", Bytes{1}); }},
      {"FileFromSL", [&](TZipArchive& z) { z.FileFromSL(u"x", {u"l"}); }},
  };
  const std::vector<std::pair<const char*, Operation>> reading = {
      {"ReadFile", [&](TZipArchive& z) { TMemoryStream s; z.ReadFile(u"a.txt", s); }},
      {"Unpack", [&](TZipArchive& z) { z.Unpack(Path("out"), umOverwrite, true); }},
      {"ListFiles", [&](TZipArchive& z) { std::vector<String> l; z.ListFiles(l); }},
      {"Locate", [&](TZipArchive& z) { z.Locate(u"a.txt"); }},
      {"FileToBinary", [&](TZipArchive& z) { z.FileToBinary(u"a.txt"); }},
      {"FileToSL", [&](TZipArchive& z) { std::vector<String> l; z.FileToSL(u"a.txt", l); }},
  };
  auto expectError = [](const Operation& op, TZipArchive& z, const std::string& expected, const char* name) {
    EXPECT_EQ(ToUtf8(test::MessageOf<EZipError>([&] { op(z); })), expected) << name;
  };
  {
    TZipArchive notOpen;
    for (const auto& [name, op] : writing) expectError(op, notOpen, "Zip mode required", name);
    for (const auto& [name, op] : reading) expectError(op, notOpen, "Unzip mode required", name);
  }
  {
    TZipArchive writer;
    writer.Open(Path("a.zip"), omZip);
    for (const auto& [name, op] : reading) expectError(op, writer, "Unzip mode required", name);
    writer.Close();
  }
  {
    TZipArchive reader;
    reader.Open(Path("a.zip"), omUnzip);
    for (const auto& [name, op] : writing) expectError(op, reader, "Zip mode required", name);
  }
  // Nothing reached the archive: it is still the bare end record.
  EXPECT_EQ(fs::file_size(FRoot + "/a.zip"), 22u);
}

TEST_F(ZipArchiveTest, OpenModes) {
  Write("a.txt", "hello");
  {
    TZipArchive zip;
    zip.Open(Path("x.zip"), omZip);
    zip.PackFile(Path(""), u"a.txt");
    zip.Close();
  }
  ASSERT_EQ(List("x.zip"), std::vector<String>{u"a.txt"});
  {
    // omZipUnzip adds to an existing archive.
    TZipArchive zip;
    zip.Open(Path("x.zip"), omZipUnzip);
    zip.FileFromBinary(u"b.bin", Bytes{1, 2, 3});
    zip.Close();
  }
  EXPECT_EQ(List("x.zip"), (std::vector<String>{u"a.txt", u"b.bin"}));
  const auto size = fs::file_size(FRoot + "/x.zip");
  {
    // omZip builds a new archive beside the old one, which stays as it was
    // until Close; a wrapper freed without Close (a failed run) drops it.
    TZipArchive zip;
    zip.Open(Path("x.zip"), omZip);
    zip.FileFromBinary(u"c.bin", Bytes{4});
    EXPECT_EQ(fs::file_size(FRoot + "/x.zip"), size);
    EXPECT_EQ(zip.Mode(), omZip);
  }
  EXPECT_EQ(List("x.zip"), (std::vector<String>{u"a.txt", u"b.bin"}));
  {
    TZipArchive zip;
    zip.Open(Path("x.zip"), omZip);
    zip.Close();
  }
  EXPECT_EQ(fs::file_size(FRoot + "/x.zip"), 22u);
  EXPECT_EQ(std::distance(fs::directory_iterator(FRoot), fs::directory_iterator{}), 2) << "a.txt and x.zip only";
  {
    // A failed opening keeps the mode it had.
    TZipArchive zip;
    EXPECT_ANY_THROW(zip.Open(Path("missing.zip"), omUnzip));
    EXPECT_EQ(zip.Mode(), omNone);
    EXPECT_ANY_THROW(zip.Open(Path("no/such/dir/x.zip"), omZip));
    EXPECT_EQ(zip.Mode(), omNone);
  }
  {
    // A caller's stream: omZip writes an empty archive into it at once.
    TMemoryStream stream;
    TZipArchive zip;
    zip.Open(String(), omZip, &stream);
    EXPECT_EQ(stream.Size(), 22);
  }
}

TEST_F(ZipArchiveTest, CloseKeepsTheModeAndTheEngineReportsTheClosedArchive) {
  TZipArchive zip;
  zip.Open(Path("x.zip"), omZipUnzip);
  zip.Close();
  EXPECT_EQ(zip.Mode(), omZipUnzip);
  EXPECT_EQ(test::MessageOf<EZEException>([&] { zip.FileFromBinary(u"a", Bytes{1}); }),
            u"Archive is not open - Native error: 00013");
}

TEST_F(ZipArchiveTest, PackSettingsByFlags) {
  Write("data/a.txt", "a");
  Write("data/sub/b.txt", "b");
  struct Case {
    bool storePathNames, recursive;
    std::vector<String> expected;
  } cases[] = {
      {true, true, {u"a.txt", u"sub", u"sub\\b.txt"}},
      {true, false, {u"a.txt"}},
      {false, true, {u"a.txt", u"b.txt"}},
      {false, false, {u"a.txt"}},
  };
  for (const Case& c : cases) {
    {
      TZipArchive zip;
      zip.Open(Path("x.zip"), omZip);
      zip.Pack(Path("data"), c.recursive, c.storePathNames, zmDeflate, zlBest);
      zip.Close();
    }
    EXPECT_EQ(List("x.zip"), c.expected) << c.storePathNames << c.recursive;
  }
}

TEST_F(ZipArchiveTest, PackFileAndPackDirectoryStoreRelativeNames) {
  Write("data/top.txt", "top");
  Write("data/sub/a.txt", "aaa");
  Write("data/sub/.hidden", "h");
  Write("data/sub/deeper/b", "bbb");
  fs::create_directories(FRoot + "/data/sub/empty");
  const TDateTime before = Now();
  {
    TZipArchive zip;
    zip.Open(Path("x.zip"), omZip);
    zip.PackFile(Path("data"), u"sub\\a.txt");
    zip.PackDirectory(Path("data"), u"sub");
    zip.Close();
  }
  // Directories get no entries; an entry met twice keeps one place.
  EXPECT_EQ(List("x.zip"), (std::vector<String>{u"sub\\a.txt", u"sub\\.hidden", u"sub\\deeper\\b"}));
  TZipArchive zip;
  zip.Open(Path("x.zip"), omUnzip);
  TZEArchiveItem item;
  ASSERT_TRUE(zip.Locate(u"sub/deeper/b", &item));
  EXPECT_EQ(item.ExternalFileAttributes, 0x80u);
  EXPECT_EQ(item.UncompressedSize, 3);
  // Stored with the time of storing, not the file's.
  const TDateTime stored = DosStampToDateTime((std::uint32_t(item.LastModFileDate) << 16) | item.LastModFileTime);
  EXPECT_GE(stored, before - 3.0 / 86400);
  // Only the last element counts, and it names a top-level entry.
  EXPECT_THROW(zip.FileToBinary(u"sub\\a.txt"), EZEException);
}

TEST_F(ZipArchiveTest, PackDirectoryOfTheMainDirectoryItself) {
  Write("data/a.txt", "a");
  Write("data/sub/b.txt", "b");
  {
    TZipArchive zip;
    zip.Open(Path("data/self.zip"), omZip);
    zip.PackDirectory(Path("data"), u"");
    zip.Close();
  }
  // No leading separators, and the archive is not stored into itself.
  EXPECT_EQ(List("data/self.zip"), (std::vector<String>{u"a.txt", u"sub\\b.txt"}));
}

// A named pipe is no file: never opened (that would wait for a writer).
TEST_F(ZipArchiveTest, ANamedPipeIsRefusedWithoutWaiting) {
#ifdef _WIN32
  GTEST_SKIP() << "Windows has no named pipes in the file system (they live under \\\\.\\pipe)";
#else
  Write("src/a.txt", "content");
  ASSERT_EQ(mkfifo((FRoot + "/src/pipe").c_str(), 0600), 0);
  TZipArchive zip;
  zip.Open(Path("x.zip"), omZip);
  EXPECT_THROW(zip.WriteFile(Path("src/pipe"), zmDeflate, zlBest, u""), EZipError);
  EXPECT_EQ(test::MessageOf<EFOpenError>([&] { zip.PackFile(Path("src"), u"pipe"); }),
            u"Cannot open file \"" + Path("src/pipe") + u"\". Invalid argument");
  zip.Close();
#endif
}

TEST_F(ZipArchiveTest, WriteFileTakesTheFilesTimeAndAttributes) {
  Write("src/a.txt", "content");
  fs::last_write_time(FRoot + "/src/a.txt", fs::file_time_type::clock::now() - std::chrono::hours(24 * 400));
  {
    TZipArchive zip;
    zip.Open(Path("x.zip"), omZip);
    zip.WriteFile(Path("src/a.txt"), zmStore, zlBest, u"");
    const auto missing =
        test::ErrorOf<EZipError>([&] { zip.WriteFile(Path("src/missing.txt"), zmDeflate, zlBest, u""); });
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->ErrorCode(), -201);
    EXPECT_EQ(missing->Message(), u"File \"" + Path("src/missing.txt") + u"\" not found (or invalid)");
    zip.Close();
  }
  TZipArchive zip;
  zip.Open(Path("x.zip"), omUnzip);
  std::vector<String> names;
  zip.ListFiles(names);
  EXPECT_EQ(names.size(), 1u) << "nothing but the one file";
  TZEArchiveItem item;
  zip.Locate(u"*a.txt", &item);
  EXPECT_EQ(item.ExternalFileAttributes, 0x20u);
  EXPECT_EQ(item.CompressedSize, 7) << "zmStore stores";
  const std::optional<TLocalTime> t = FileGetLocalTime(Path("src/a.txt"));
  ASSERT_TRUE(t);
  EXPECT_EQ((std::uint32_t(item.LastModFileDate) << 16) | item.LastModFileTime, LocalTimeToDos(*t));
}

TEST_F(ZipArchiveTest, MemoryTransfersAndLookups) {
  Bytes all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  const std::vector<String> lines = {u"first", u"", u"dritte Zeile \u00e4\u20ac"};
  {
    TZipArchive zip;
    zip.Open(Path("x.zip"), omZipUnzip);
    zip.FileFromBinary(u"C:\\some\\dir\\bytes.bin", all);
    zip.FileFromSL(u"dir/lines.txt", lines);
    zip.FileFromBinary(u"empty.bin", Bytes{});
    EXPECT_EQ(zip.FileToBinary(u"elsewhere\\bytes.bin"), all) << "readable in the same session";
    zip.Close();
  }
  TZipArchive zip;
  zip.Open(Path("x.zip"), omUnzip);
  EXPECT_EQ(zip.FileToBinary(u"bytes.bin"), all);
  EXPECT_TRUE(zip.FileToBinary(u"empty.bin").empty());
  std::vector<String> read = {u"old content"};
  zip.FileToSL(u"lines.txt", read);
  EXPECT_EQ(read, lines);
  EXPECT_TRUE(zip.Locate(u"BYTES.BIN"));
  EXPECT_EQ(test::MessageOf<EZipError>([&] { zip.Locate(u"absent.txt"); }),
            u"File \"absent.txt\" not found (or invalid)");
}

TEST_F(ZipArchiveTest, UnpackRestoresTreeTimesAndAttributes) {
  Write("data/a.txt", "alpha");
  Write("data/sub/deep/b.txt", std::string(100000, 'b'));
  Write("data/empty.txt", "");
  fs::create_directories(FRoot + "/data/emptydir");
  fs::last_write_time(FRoot + "/data/a.txt", fs::file_time_type::clock::now() - std::chrono::hours(100));
  fs::permissions(FRoot + "/data/sub/deep/b.txt", fs::perms::owner_write, fs::perm_options::remove);
  {
    TZipArchive zip;
    zip.Open(Path("x.zip"), omZip);
    zip.Pack(Path("data"), true, true, zmDeflate, zlBest);
    zip.Close();
  }
  // Existing files are overwritten.
  Write("out/a.txt", "stale content that is longer");
  TZipArchive zip;
  zip.Open(Path("x.zip"), omUnzip);
  zip.Unpack(Path("out"), umSkip, false);
  EXPECT_EQ(zip.AbortedFailure(), nullptr);
  auto read = [&](const std::string& rel) { return test::ReadAll(FRoot + "/" + rel); };
  EXPECT_EQ(read("out/a.txt"), "alpha");
  EXPECT_EQ(read("out/sub/deep/b.txt"), std::string(100000, 'b'));
  EXPECT_TRUE(fs::is_regular_file(FRoot + "/out/empty.txt"));
  EXPECT_TRUE(fs::is_directory(FRoot + "/out/emptydir"));
  EXPECT_EQ(LocalTimeToDos(*FileGetLocalTime(Path("out/a.txt"))), LocalTimeToDos(*FileGetLocalTime(Path("data/a.txt"))));
  EXPECT_EQ(FileGetAttr(Path("out/sub/deep/b.txt")) & faReadOnly, faReadOnly);
  fs::permissions(FRoot + "/out/sub/deep/b.txt", fs::perms::owner_write, fs::perm_options::add);
}

}  // namespace
}  // namespace zo
