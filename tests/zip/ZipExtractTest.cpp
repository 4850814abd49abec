// Extraction to files below a destination directory: every option, the
// failure decision, and the guarantees that extraction stays inside the
// destination and never leaves a half-written file behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "tests/ScratchDir.h"
#include "tests/zip/ZipTestArchive.h"
#include "tests/zip/ZipTestSystem.h"
#include "zip/ZipEngine.h"

namespace zo {
namespace {

using test::BuildArchive;
using test::TestEntry;

class ZipExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(std::filesystem::create_directory(FDest));
    FEngine.SetBaseDir(FromUtf8(FDest));
    FEngine.OnProcessFileFailure = [this](TZEBaseArchiver&, const String& name, TZEProcessOperation,
                                          int native, int, const String& message, TZEAction& action) {
      FFailures.push_back(ToUtf8(name) + ": " + ToUtf8(message));
      FNatives.push_back(native);
      action = FAnswer;
    };
  }
  void TearDown() override { FEngine.CloseArchive(); }

  // Removes what extraction made, for another pass into the same place.
  void EmptyDestination() const {
    for (const std::filesystem::directory_entry& e : std::filesystem::directory_iterator(FDest))
      test::RemoveTree(e.path());
  }

  void Open(const std::vector<TestEntry>& entries) {
    const std::string bytes = BuildArchive(entries);
    FStream.Clear();
    FStream.WriteBuffer(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    FEngine.OpenArchive(FStream, false);
  }
  void ExtractAll() { FEngine.ExtractFiles(u"*.*", 0x28BF, u""); }

  std::string Read(const std::string& rel) const {
    std::ifstream in(FDest + "/" + rel, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  void Write(const std::string& path, const std::string& content) const { std::ofstream(path) << content; }
  bool Exists(const std::string& path) const {
    std::error_code ec;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ec));
  }
  // Every path below the sandbox ("./dest/a.txt"), in byte order, to prove
  // nothing landed outside dest.
  std::string Tree() const {
    std::vector<std::string> paths = {"."};
    for (const auto& e : std::filesystem::recursive_directory_iterator(FSandbox))
      paths.push_back("./" + std::filesystem::relative(e.path(), FSandbox).generic_string());
    std::sort(paths.begin(), paths.end());
    std::string out;
    for (const std::string& path : paths) out += path + "\n";
    return out;
  }

  test::ScratchDir FScratch{"zipread-extract"};
  // With '/' throughout, as the engine spells the paths it reports.
  const std::string FSandbox = FScratch.Dir().generic_string();
  const std::string FDest = FSandbox + "/dest";
  TMemoryStream FStream;
  TZipEngine FEngine;
  TZEAction FAnswer = fxaIgnore;
  std::vector<std::string> FFailures;
  std::vector<int> FNatives;
};

TEST(DosStampTest, RoundTripClampingAndDamagedStamps) {
  const TLocalTime t{2024, 2, 29, 23, 59, 58, 0};
  EXPECT_EQ(DosToLocalTime(LocalTimeToDos(t)), t);
  EXPECT_EQ(DosStampToDateTime(DateTimeToDosStamp(EncodeDateTime(2024, 2, 29, 23, 59, 58, 0))),
            EncodeDateTime(2024, 2, 29, 23, 59, 58, 0));
  // Odd seconds go down to the two-second grid.
  EXPECT_EQ(DosToLocalTime(LocalTimeToDos({2001, 1, 2, 3, 4, 5, 678})), (TLocalTime{2001, 1, 2, 3, 4, 4, 0}));
  EXPECT_EQ(LocalTimeToDos({1970, 1, 1, 0, 0, 0, 0}), LocalTimeToDos({1980, 1, 1, 0, 0, 0, 0}));
  EXPECT_EQ(DosToLocalTime(LocalTimeToDos({2200, 6, 1, 0, 0, 0, 0})), (TLocalTime{2107, 12, 31, 23, 59, 58, 0}));
  // Damaged stamps give a time that exists: both forms agree on it.
  const struct {
    std::uint32_t stamp;
    TLocalTime expected;
  } damaged[] = {
      {(0u << 16) | 31u, {1980, 1, 1, 0, 0, 59, 0}},                                  // month 0, day 0, 62 s
      {((43u << 9 | 2u << 5 | 31u) << 16) | (24u << 11 | 60u << 5), {2023, 2, 28, 23, 59, 0, 0}},
      {(44u << 9 | 2u << 5 | 30u) << 16, {2024, 2, 29, 0, 0, 0, 0}},                  // leap year
      {(44u << 9 | 4u << 5 | 31u) << 16, {2024, 4, 30, 0, 0, 0, 0}},
      {(44u << 9 | 15u << 5 | 1u) << 16, {2024, 12, 1, 0, 0, 0, 0}},
  };
  for (const auto& c : damaged) {
    EXPECT_EQ(DosToLocalTime(c.stamp), c.expected) << std::hex << c.stamp;
    const TLocalTime& e = c.expected;
    EXPECT_EQ(DosStampToDateTime(c.stamp), EncodeDateTime(e.Year, e.Month, e.Day, e.Hour, e.Minute, e.Second, 0));
  }
}

TEST_F(ZipExtractTest, ExtractsFilesDirectoriesTimesAndAttributes) {
  Open({{.name = "top.txt", .data = "top", .dosTime = (13 << 11) | (37 << 5) | 21, .dosDate = (39 << 9) | (7 << 5) | 14},
        {.name = "empty/", .data = "", .method = 0, .externalAttr = 0x10},
        {.name = "a/b/deep.txt", .data = std::string(300000, 'z')},
        {.name = "zero.txt", .data = "", .method = 0, .dosTime = 0, .dosDate = (44 << 9) | (1 << 5) | 2},
        // A damaged stamp, 2023-02-31 at 24:60:62, is brought into range.
        {.name = "damaged.txt", .data = "d", .dosTime = (24 << 11) | (60 << 5) | 31, .dosDate = (43 << 9) | (2 << 5) | 31},
        {.name = "ro.txt", .data = "read only", .externalAttr = 0x21},
        {.name = "by-attribute", .data = "", .method = 0, .externalAttr = 0x10},   // no trailing "/"
        {.name = "data-wins", .data = "a file", .externalAttr = 0x30}});
  ExtractAll();
  EXPECT_TRUE(FFailures.empty());
  EXPECT_TRUE(DirectoryExists(FromUtf8(FDest + "/by-attribute")));
  EXPECT_EQ(Read("data-wins"), "a file");
  EXPECT_EQ(Read("top.txt"), "top");
  EXPECT_EQ(Read("a/b/deep.txt"), std::string(300000, 'z'));
  EXPECT_TRUE(DirectoryExists(FromUtf8(FDest + "/empty")));
  EXPECT_EQ(Read("zero.txt"), "");
  EXPECT_EQ(FileGetLocalTime(FromUtf8(FDest + "/top.txt")), (TLocalTime{2019, 7, 14, 13, 37, 42, 0}));
  EXPECT_EQ(FileGetLocalTime(FromUtf8(FDest + "/zero.txt")), (TLocalTime{2024, 1, 2, 0, 0, 0, 0}));
  EXPECT_EQ(FileGetLocalTime(FromUtf8(FDest + "/damaged.txt")), (TLocalTime{2023, 2, 28, 23, 59, 59, 0}));
  EXPECT_EQ(FileGetAttr(FromUtf8(FDest + "/ro.txt")), faReadOnly | faArchive);

  // Without CreateDirs and SetAttributes: names lose their directories, attributes stay.
  EmptyDestination();
  FEngine.Options.CreateDirs = false;
  FEngine.Options.SetAttributes = false;
  ExtractAll();
  EXPECT_EQ(Read("deep.txt"), std::string(300000, 'z'));
  EXPECT_FALSE(Exists(FDest + "/a"));
  EXPECT_EQ(FileGetAttr(FromUtf8(FDest + "/ro.txt")), faArchive);
}

TEST_F(ZipExtractTest, NamesLeadingOutsideTheDestinationAreRefused) {
  const char* hostile[] = {"../evil.txt", "/abs.txt", "C:/drive.txt", "//server/share.txt",
                           "a/../../up.txt", "..\\back.txt", "x\\..\\..\\back2.txt"};
  std::vector<TestEntry> entries;
  for (const char* name : hostile) entries.push_back({.name = name, .data = "evil"});
  entries.push_back({.name = "good/ok.txt", .data = "ok"});
  Open(entries);
  const std::string before = Tree();
  ExtractAll();
  EXPECT_EQ(Read("good/ok.txt"), "ok");
  ASSERT_EQ(FFailures.size(), std::size(hostile));
  for (size_t i = 0; i < std::size(hostile); ++i) {
    EXPECT_EQ(FFailures[i], std::string(hostile[i]) + ": Cannot extract file \"" + hostile[i] +
                                "\": its name leads outside the destination directory - Native error: 00019");
  }
  EXPECT_EQ(Tree(), before + "./dest/good\n./dest/good/ok.txt\n");
}

TEST_F(ZipExtractTest, SymbolicLinkAtTheTargetIsReplacedNotWrittenThrough) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoSymbolicLinks());
  const std::string victim = FSandbox + "/victim.txt";
  Write(victim, "precious");
  ASSERT_TRUE(test::MakeSymbolicLink(victim, FDest + "/link.txt"));
  ASSERT_TRUE(test::MakeSymbolicLink(FSandbox + "/nowhere", FDest + "/dangling.txt"));
  Open({{.name = "link.txt", .data = "new"}, {.name = "dangling.txt", .data = "also new"}});
  ExtractAll();
  EXPECT_TRUE(FFailures.empty());
  EXPECT_FALSE(IsSymbolicLink(FromUtf8(FDest + "/link.txt")));
  EXPECT_EQ(Read("link.txt"), "new");
  EXPECT_EQ(Read("dangling.txt"), "also new");
  EXPECT_FALSE(Exists(FSandbox + "/nowhere"));
  std::ifstream in(victim);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "precious");
}

TEST_F(ZipExtractTest, HardLinkAtTheTargetIsReplacedNotChanged) {
  const std::string victim = FSandbox + "/victim.txt";
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoModes());
  Write(victim, "precious");
  ASSERT_TRUE(test::SetModeBits(victim, 0644));
  ASSERT_TRUE(test::MakeHardLink(victim, FDest + "/f.txt"));
  Open({{.name = "f.txt", .data = "new", .externalAttr = 0x21}});
  ExtractAll();
  EXPECT_TRUE(FFailures.empty());
  EXPECT_EQ(Read("f.txt"), "new");
  EXPECT_EQ(test::LinkCount(FDest + "/f.txt"), 1);
  EXPECT_EQ(test::ModeBits(victim), 0644);   // the shared file's mode is untouched
  std::ifstream in(victim);
  std::string content;
  in >> content;
  EXPECT_EQ(content, "precious");
}

TEST_F(ZipExtractTest, LinkedDirectoryOnTheWayIsNotFollowed) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoSymbolicLinks());
  ASSERT_TRUE(ForceDirectories(FromUtf8(FSandbox + "/elsewhere")));
  ASSERT_TRUE(test::MakeSymbolicLink(FSandbox + "/elsewhere", FDest + "/sub"));
  Open({{.name = "sub/planted.txt", .data = "x"}, {.name = "fine.txt", .data = "y"}});
  ExtractAll();
  ASSERT_EQ(FFailures.size(), 1u);
  EXPECT_EQ(FFailures[0], "sub/planted.txt: Cannot extract file \"sub/planted.txt\": its path passes through a "
                          "symbolic link - Native error: 00020");
  EXPECT_FALSE(Exists(FSandbox + "/elsewhere/planted.txt"));
  EXPECT_EQ(Read("fine.txt"), "y");
}

TEST_F(ZipExtractTest, OverwriteModesAndReadOnlyReplacement) {
  // The entry is stamped 2024-01-01 12:00; existing files are older or newer.
  const TLocalTime older{2020, 1, 1, 0, 0, 0, 0}, newer{2030, 1, 1, 0, 0, 0, 0};
  const struct {
    TZEOverwriteMode mode;
    TLocalTime existing;
    bool readOnly;
    bool replaceReadOnly;
    bool replaced;
  } cases[] = {
      {omAlways, newer, false, true, true},  {omNever, older, false, true, false},
      {omIfNewer, older, false, true, true}, {omIfNewer, newer, false, true, false},
      {omIfOlder, newer, false, true, true}, {omIfOlder, older, false, true, false},
      {omAlways, older, true, false, false}, {omAlways, older, true, true, true},
  };
  Open({{.name = "f.txt", .data = "archive"}});
  const String target = FromUtf8(FDest + "/f.txt");
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode) * 100 + c.existing.Year);
    FileSetAttr(target, 0);
    Write(FDest + "/f.txt", "existing");
    ASSERT_TRUE(FileSetLocalTime(target, c.existing));
    if (c.readOnly) FileSetAttr(target, faReadOnly);
    FEngine.Options.OverwriteMode = c.mode;
    FEngine.Options.ReplaceReadOnly = c.replaceReadOnly;
    ExtractAll();
    EXPECT_EQ(Read("f.txt"), c.replaced ? "archive" : "existing");
  }
  EXPECT_TRUE(FFailures.empty());
}

TEST_F(ZipExtractTest, FailedEntriesGoThroughTheDecisionAndLeaveNoPartialFile) {
  Open({{.name = "first.txt", .data = "1"},
        {.name = "bad.txt", .data = std::string(100000, 'b'), .badCrc = true},
        {.name = "secret.txt", .data = "s", .flags = 1},
        {.name = "last.txt", .data = "2"}});
  ExtractAll();
  EXPECT_EQ(Read("first.txt"), "1");
  EXPECT_EQ(Read("last.txt"), "2");
  EXPECT_FALSE(Exists(FDest + "/bad.txt"));     // written, failed its check, deleted
  EXPECT_FALSE(Exists(FDest + "/secret.txt"));  // never created
  EXPECT_EQ(FNatives, (std::vector<int>{8, 67}));
  EXPECT_EQ(FFailures[1], "secret.txt: File \"secret.txt\" is encrypted and cannot be extracted - Native error: 00067");
  EXPECT_EQ(FEngine.Unrestored().Count, 2);
  EXPECT_EQ(FEngine.Unrestored().FirstName, u"bad.txt");
  EXPECT_EQ(FEngine.Unrestored().FirstFailure->NativeError, 8);
  EXPECT_TRUE(Tree().find(".part") == std::string::npos);   // no temporary file either

  // Abort ends the pass at once, without an exception for the caller.
  EmptyDestination();
  FFailures.clear();
  FAnswer = fxaAbort;
  EXPECT_NO_THROW(ExtractAll());
  EXPECT_EQ(FFailures.size(), 1u);
  EXPECT_TRUE(Exists(FDest + "/first.txt"));
  EXPECT_FALSE(Exists(FDest + "/last.txt"));
  EXPECT_EQ(FEngine.Unrestored().Count, 3);   // the failed one and the two never reached

  // Retry handles the same entry again.
  FFailures.clear();
  int retries = 0;
  FEngine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String&, TZEProcessOperation, int, int,
                                     const String&, TZEAction& action) {
    action = ++retries < 3 ? fxaRetry : fxaIgnore;
  };
  ExtractAll();
  EXPECT_EQ(retries, 4);  // bad.txt: retried twice, then ignored; secret.txt: ignored
}

TEST_F(ZipExtractTest, UncreatableTargetsAreNatives19And20) {
  Write(FDest + "/blocker", "a file where a directory should go");
  ASSERT_TRUE(ForceDirectories(FromUtf8(FDest + "/isdir")));
  Open({{.name = "blocker/inner.txt", .data = "x"}, {.name = "isdir", .data = "x"}});
  ExtractAll();
  ASSERT_EQ(FFailures.size(), 2u);
  EXPECT_EQ(FFailures[0], "blocker/inner.txt: Cannot create directory \"" + FDest + "/blocker/\" - Native error: 00020");
  EXPECT_EQ(FFailures[1], "isdir: Cannot create file \"" + FDest + "/isdir\" - Native error: 00019");
}

TEST_F(ZipExtractTest, SelectionByMaskAndExclusion) {
  Open({{.name = "a.txt", .data = "a"}, {.name = "b.log", .data = "b"}, {.name = "sub/c.txt", .data = "c"}});
  FEngine.ExtractFiles(u"*.txt", 0x28BF, u"c.*");
  EXPECT_TRUE(Exists(FDest + "/a.txt"));
  EXPECT_FALSE(Exists(FDest + "/b.log"));
  EXPECT_FALSE(Exists(FDest + "/sub/c.txt"));
  FEngine.Options.Recurse = false;
  FEngine.ExtractFiles(u"sub\\c.txt", 0x28BF, u"");
  EXPECT_TRUE(Exists(FDest + "/sub/c.txt"));
  EXPECT_FALSE(Exists(FDest + "/b.log"));
}

}  // namespace
}  // namespace zo
