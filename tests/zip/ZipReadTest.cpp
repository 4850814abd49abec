// Loading directories (end record, Zip64, stubs, recovery) and finding and
// extracting entries to streams, over archives built byte by byte.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Utf.h"
#include "tests/MessageOf.h"
#include "tests/zip/ZipEngineOnMemory.h"
#include "tests/zip/ZipTestArchive.h"
#include "zip/ZipEngine.h"

namespace zo {
namespace {

using test::BuildArchive;
using test::PutLE;
using test::TestArchiveOptions;
using test::TestEntry;

std::string Pattern(size_t size) {
  std::string s(size, '\0');
  std::uint32_t x = 12345;
  for (char& c : s) {
    x = x * 1103515245 + 12345;
    c = static_cast<char>((x >> 16) % 40 + 'A');
  }
  return s;
}

using ZipReadTest = test::ZipEngineOnMemory;

const std::vector<TestEntry> kSample = {
    {.name = "dir/", .data = "", .method = 0, .externalAttr = 0x10},
    {.name = "dir/deflated.txt", .data = Pattern(200000)},
    {.name = "stored.bin", .data = "stored bytes", .method = 0},
    {.name = "empty.txt", .data = "", .method = 0},
};

TEST_F(ZipReadTest, EmptyArchiveOpensWithNoEntries) {
  Open(BuildArchive({}));
  EXPECT_TRUE(FEngine.Active());
  EXPECT_EQ(FEngine.Dir().CDir.Count(), 0);
  TZEArchiveItem item;
  EXPECT_FALSE(FEngine.FindFirst(u"*.*", item, u"", 0x1FF));
}

TEST_F(ZipReadTest, ListsAndExtractsEveryKindOfEntry) {
  Open(BuildArchive(kSample));
  EXPECT_EQ(Names(), (std::vector<std::string>{"dir/", "dir/deflated.txt", "stored.bin", "empty.txt"}));
  EXPECT_EQ(Extract(u"DIR\\Deflated.TXT"), kSample[1].data);  // '\' and ASCII case do not matter
  EXPECT_EQ(Extract(u"stored.bin"), "stored bytes");
  EXPECT_EQ(Extract(u"empty.txt"), "");
  EXPECT_EQ(test::MessageOf<EZEException>([&] { Extract(u"missing.txt"); }), u"File \"missing.txt\" not found - Native error: 00015");

  TZEArchiveItem item;
  ASSERT_TRUE(FEngine.FindFirst(u"*.*", item, u"", 0x1FF));
  EXPECT_EQ(item.FileName, u"dir");
  EXPECT_EQ(item.StoredPath, u"");
  ASSERT_TRUE(FEngine.FindNext(item));
  EXPECT_EQ(item.FileName, u"deflated.txt");
  EXPECT_EQ(item.StoredPath, u"dir\\");
  EXPECT_EQ(item.UncompressedSize, 200000);
  EXPECT_GT(item.CompressionRate, 10.0);
  EXPECT_EQ(item.LastModFileDate, 0x5821);
  ASSERT_TRUE(FEngine.FindNext(item));
  ASSERT_TRUE(FEngine.FindNext(item));
  EXPECT_EQ(item.FileName, u"empty.txt");
  EXPECT_EQ(item.CompressionRate, 100.0);
  EXPECT_FALSE(FEngine.FindNext(item));
}

TEST_F(ZipReadTest, FindAppliesMasksRecursionAndAttributeFilter) {
  Open(BuildArchive({{.name = "a.txt", .data = "a"},
                     {.name = "sub/", .data = "", .method = 0, .externalAttr = 0x10},
                     {.name = "sub/b.txt", .data = "b"},
                     {.name = "sub/c.log", .data = "c"},
                     {.name = ".hidden", .data = "h", .externalAttr = 0x22},
                     {.name = "win\\d.txt", .data = "d"}}));
  auto find = [&](const String& mask, const String& exclusion, std::uint32_t attr) {
    std::string found;
    TZEArchiveItem item;
    for (bool ok = FEngine.FindFirst(mask, item, exclusion, attr); ok; ok = FEngine.FindNext(item)) {
      found += ToUtf8(item.StoredPath + item.FileName) + ",";
    }
    return found;
  };
  EXPECT_EQ(find(u"*.*", u"", 0x1FF), "a.txt,sub,sub\\b.txt,sub\\c.log,.hidden,win\\d.txt,");
  EXPECT_EQ(find(u"*.*", u"", 0x28AF), "a.txt,sub\\b.txt,sub\\c.log,.hidden,win\\d.txt,");  // no directories
  EXPECT_EQ(find(u"*.*", u"", 0x20), "a.txt,sub\\b.txt,sub\\c.log,win\\d.txt,");           // no hidden ones
  EXPECT_EQ(find(u"*.txt", u"", 0x28BF), "a.txt,sub\\b.txt,win\\d.txt,");
  EXPECT_EQ(find(u"*.*", u"*.log", 0x28BF), "a.txt,sub,sub\\b.txt,.hidden,win\\d.txt,");
  // A drive, or a "//server" (a network path), is dropped like the root:
  // stored names are relative.
  EXPECT_EQ(find(u"C:\\sub\\b.txt", u"", 0x28BF), "sub\\b.txt,");
  EXPECT_EQ(find(u"//server/sub/b.txt", u"", 0x28BF), "sub\\b.txt,");
  EXPECT_EQ(find(u"\\\\server\\sub\\b.txt", u"", 0x28BF), "sub\\b.txt,");
  // A name written with '\' (by some Windows tools) has its last element
  // after the '\', as every path here.
  EXPECT_EQ(find(u"d.txt", u"", 0x28BF), "win\\d.txt,");
  TZEArchiveItem item;
  ASSERT_TRUE(FEngine.FindFirst(u"d.txt", item, u"", 0x28BF));
  EXPECT_EQ(item.FileName, u"d.txt");
  EXPECT_EQ(item.StoredPath, u"win\\");
  FEngine.Options.Recurse = false;
  EXPECT_EQ(find(u"*.txt", u"", 0x28BF), "a.txt,");
  EXPECT_EQ(find(u"sub/*.txt", u"", 0x28BF), "sub\\b.txt,");
  EXPECT_EQ(find(u"SUB\\C.LOG", u"", 0x28BF), "sub\\c.log,");
  EXPECT_EQ(find(u"nothing", u"", 0x28BF), "");
}

TEST_F(ZipReadTest, ArchiveCommentOfAnyLengthIsFound) {
  for (size_t length : {size_t{0}, size_t{1}, size_t{65535}}) {
    const std::string comment(length, 'c');
    Open(BuildArchive(kSample, {.comment = comment}));
    EXPECT_EQ(FEngine.Dir().ArchiveComment, comment);
    EXPECT_EQ(FEngine.Dir().CDir.Count(), 4);
    EXPECT_EQ(Extract(u"stored.bin"), "stored bytes");
  }
}

TEST_F(ZipReadTest, StubInFrontIsDetectedAndOffsetsCorrected) {
  // Stubs smaller and larger than the first entry with data.
  for (size_t size : {size_t{8}, size_t{1000}}) {
    SCOPED_TRACE(size);
    Open(BuildArchive(kSample, {.stub = std::string(size, '\x90')}));
    EXPECT_EQ(FEngine.Dir().StubSize, static_cast<std::int64_t>(size));
    EXPECT_EQ(Extract(u"dir/deflated.txt"), kSample[1].data);
    EXPECT_EQ(Extract(u"stored.bin"), "stored bytes");
    EXPECT_EQ(FEngine.Dir().CDir[0].LocalHeaderOffset(), size);  // directories move too
  }
}

// Damaged directories that are rebuilt from the local headers.
TEST_F(ZipReadTest, RecoveryRebuildsTheDirectoryFromLocalHeaders) {
  const std::string good = BuildArchive(kSample);
  const std::string bodyOnly = BuildArchive(kSample, {.withCentralDirectory = false});
  std::string overwritten = good;
  std::fill(overwritten.begin() + static_cast<long>(bodyOnly.size()), overwritten.end(), '\xAA');
  std::string claimsTooMuch = good;  // 0xFFFE entries
  const size_t end = good.size() - 22;
  claimsTooMuch[end + 8] = claimsTooMuch[end + 10] = '\xFE';
  claimsTooMuch[end + 9] = claimsTooMuch[end + 11] = '\xFF';
  std::string countFFFF = good;
  countFFFF[end + 8] = countFFFF[end + 9] = countFFFF[end + 10] = countFFFF[end + 11] = '\xFF';
  std::string farEnd = good + std::string(70000, '\0');  // end record out of the search window

  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"cut off", good.substr(0, bodyOnly.size() + 30)},
      {"overwritten", overwritten},
      {"no directory at all", bodyOnly},
      {"count beyond what the directory holds", claimsTooMuch},
      {"count 0xFFFF without Zip64", countFFFF},
      {"end record too far from the end", farEnd},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Open(c.bytes);
    EXPECT_EQ(Names(), (std::vector<std::string>{"dir/", "dir/deflated.txt", "stored.bin", "empty.txt"}));
    EXPECT_EQ(FEngine.Dir().CDir[0].externalAttr, 0x10u);
    EXPECT_EQ(FEngine.Dir().CDir[3].externalAttr, 0x20u);  // an empty file stays a file
    EXPECT_EQ(Extract(u"dir/deflated.txt"), kSample[1].data);
    EXPECT_EQ(Extract(u"stored.bin"), "stored bytes");
    EXPECT_EQ(Extract(u"empty.txt"), "");
  }
}

TEST_F(ZipReadTest, RecoveryTakesSizesFromDataDescriptors) {
  std::vector<TestEntry> entries = {{.name = "a.txt", .data = Pattern(5000), .dataDescriptor = true},
                                    {.name = "b.bin", .data = "PK\x07\x08 inside", .method = 0, .dataDescriptor = true}};
  Open(BuildArchive(entries, {.withCentralDirectory = false}));
  ASSERT_EQ(Names(), (std::vector<std::string>{"a.txt", "b.bin"}));
  EXPECT_EQ(Extract(u"a.txt"), entries[0].data);
  EXPECT_EQ(Extract(u"b.bin"), entries[1].data);
}

TEST_F(ZipReadTest, HostileZip64RecordsFailOrRecoverAtOnce) {
  const std::string body = BuildArchive(kSample, {.withCentralDirectory = false});
  const std::string central = BuildArchive(kSample).substr(body.size());
  const std::string centralOnly = central.substr(0, central.size() - 22);
  auto zip64 = [&](std::uint64_t count, std::uint64_t size, std::uint64_t locatorTarget) {
    const std::string a = body + centralOnly;
    return a + test::Zip64End(a.size(), count, size, body.size(), locatorTarget);
  };
  Open(zip64(4, centralOnly.size(), 0));  // a sound Zip64 archive
  EXPECT_TRUE(FEngine.Dir().FZip64);
  EXPECT_EQ(Extract(u"dir/deflated.txt"), kSample[1].data);

  Open(zip64(4000000000ull, centralOnly.size(), 0));  // four billion entries in a few KiB
  EXPECT_EQ(FEngine.Dir().CDir.Count(), 4);
  Open(zip64(4, 0xFFFFFFFFFFFFull, 0));  // a directory larger than the file
  EXPECT_EQ(FEngine.Dir().CDir.Count(), 4);

  // A locator that points nowhere is damage like any other: the directory is
  // rebuilt from the local headers.
  Open(zip64(4, centralOnly.size(), 0xFFFFFFFFFFFFFFF0ull));
  EXPECT_TRUE(FEngine.Dir().Recovered);
  EXPECT_EQ(FEngine.Dir().CDir.Count(), 4);
  EXPECT_EQ(Extract(u"dir/deflated.txt"), kSample[1].data);
}

TEST_F(ZipReadTest, NoSignatureAtAllIsAnInvalidArchive) {
  for (const std::string& bytes : {std::string(), std::string("not an archive at all"), std::string(100000, 'x')}) {
    EXPECT_EQ(test::MessageOf<EZEException>([&] { Open(bytes); }), u"Invalid archive file. - Native error: 00035");
  }
}

TEST_F(ZipReadTest, BadEntriesFailTheirChecks) {
  std::vector<TestEntry> entries = {
      {.name = "crc.txt", .data = "payload", .badCrc = true},
      {.name = "method12.bin", .data = "x", .method = 12},
      {.name = "deflate64.bin", .data = "x", .method = 9},
      {.name = "secret.txt", .data = "x", .method = 0, .flags = 1},
      {.name = "ok.txt", .data = "fine"},
  };
  std::string bytes = BuildArchive(entries);
  Open(bytes);
  EXPECT_EQ(test::MessageOf<EZEException>([&] { Extract(u"crc.txt"); }),
            u"Invalid size or check sum of file or unsupported compression format - Native error: 00008");
  EXPECT_EQ(test::MessageOf<EZEException>([&] { Extract(u"method12.bin"); }),
            u"Invalid size or check sum of file or unsupported compression format - Native error: 00008");
  EXPECT_EQ(test::MessageOf<EZEException>([&] { Extract(u"deflate64.bin"); }),
            u"Deflate64 compression method is not supported - Native error: 00055");
  EXPECT_EQ(test::MessageOf<EZEException>([&] { Extract(u"secret.txt"); }),
            u"File \"secret.txt\" is encrypted and cannot be extracted - Native error: 00067");
  EXPECT_EQ(Extract(u"ok.txt"), "fine");
  FEngine.ExtractCorruptedFiles = true;
  EXPECT_EQ(Extract(u"crc.txt"), "payload");
}

TEST_F(ZipReadTest, CompressedSizeIsCutAtTheCentralDirectory) {
  // The second entry's sizes follow its data, so only the central directory
  // knows them; its compressed size there claims far more than is there.
  std::string bytes = BuildArchive({{.name = "a.txt", .data = Pattern(3000)},
                                    {.name = "b.txt", .data = Pattern(500), .dataDescriptor = true}});
  const size_t central = bytes.find("PK\x01\x02");
  const size_t second = bytes.find("PK\x01\x02", central + 4);
  bytes[second + 20] = bytes[second + 21] = bytes[second + 22] = '\x7F';
  Open(bytes);
  // Reading stops where the directory starts, and the deflate stream ends
  // before that.
  EXPECT_EQ(Extract(u"b.txt"), Pattern(500));
  EXPECT_EQ(Extract(u"a.txt"), Pattern(3000));
}

TEST_F(ZipReadTest, NamesAreDecodedFromEveryEncoding) {
  std::string unicodeExtra;
  PutLE(unicodeExtra, 0x554E, 2);
  PutLE(unicodeExtra, 4 + 4 + 2 * 3, 2);
  unicodeExtra += "NUCX";
  PutLE(unicodeExtra, 3, 4);
  for (char16_t c : std::u16string(u"\u03A9\u20AC!")) PutLE(unicodeExtra, c, 2);
  Open(BuildArchive({
      {.name = "Gr\x81\xE1" "e.txt", .data = "cp437"},                       // OEM code page
      {.name = "\xC3\xA9t\xC3\xA9.txt", .data = "utf8 no flag"},            // UTF-8 without bit 11
      {.name = "\xE2\x82\xAC.txt", .data = "utf8 flag", .flags = 0x800},   // UTF-8 with bit 11
      {.name = "placeholder", .data = "utf16", .centralExtra = unicodeExtra},
  }));
  EXPECT_EQ(Names(), (std::vector<std::string>{"Grüße.txt", "été.txt", "€.txt", "Ω€!"}));
  EXPECT_EQ(Extract(u"Ω€!"), "utf16");
}

}  // namespace
}  // namespace zo
