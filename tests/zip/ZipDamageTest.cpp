// Damaged and hostile archives at the engine's level: what the directory
// holds after loading (central directory walked to its size, recovery by
// local headers and data descriptors, ZIP files stored inside), what is
// refused before anything is extracted, and the per-entry checks that keep
// a damaged entry from passing for a whole one. The console program's view
// of the same classes, with the files on disk, is tests/faults/unpack_corpus.py.
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
using test::Crc;
using test::LocalHeader;
using test::TestEntry;

std::string Text(size_t size, unsigned seed = 1) {
  std::string s(size, '\0');
  std::uint32_t x = seed;
  for (char& c : s) {
    x = x * 1103515245 + 12345;
    c = "abcdefgh \n"[(x >> 16) % 10];
  }
  return s;
}

// The engine's errors as text, so that a table of damaged archives can say
// what each one gives.
class ZipDamageTest : public test::ZipEngineOnMemory {
 protected:
  // Opens bytes; returns the engine's error text, "" when it opened.
  std::string Open(const std::string& bytes) {
    const auto error = test::ErrorOf<EZEException>([&] { ZipEngineOnMemory::Open(bytes); });
    return error ? error->what() : "";
  }

  // The entry's content, or the engine's error text.
  std::string Extract(const String& name) {
    std::string content;
    if (const auto error = test::ErrorOf<EZEException>([&] { content = ZipEngineOnMemory::Extract(name); }))
      return std::string("error: ") + error->what();
    return content;
  }
};

const std::vector<TestEntry> kThree = {
    {.name = "a.txt", .data = Text(5000, 1)},
    {.name = "b.bin", .data = Text(3000, 2), .method = 0},
    {.name = "c.txt", .data = Text(70000, 3)},
};

TEST_F(ZipDamageTest, CentralDirectoryIsReadToItsSizeWhateverTheCount) {
  const std::string good = BuildArchive(kThree);
  const size_t end = good.size() - 22;
  auto withCount = [&](std::uint16_t count) {
    std::string a = good;
    a[end + 8] = a[end + 10] = static_cast<char>(count & 0xFF);
    a[end + 9] = a[end + 11] = static_cast<char>(count >> 8);
    return a;
  };
  for (const std::uint16_t count : {0, 1, 2, 3, 4, 0xFFFF}) {
    SCOPED_TRACE(count);
    ASSERT_EQ(Open(withCount(count)), "");
    EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "b.bin", "c.txt"}));
    // A count above the headers found means entries are missing: the
    // directory is rebuilt from the local headers instead, and since they
    // account for every byte up to the central directory, none is missing.
    EXPECT_EQ(FEngine.Dir().Recovered, count == 4 || count == 0xFFFF);
    EXPECT_TRUE(!FEngine.Dir().Recovered || FEngine.Dir().RecoveryComplete);
    EXPECT_EQ(Extract(u"c.txt"), kThree[2].data);
  }
}

TEST_F(ZipDamageTest, CountWrappedPast65535IsReadWhole) {
  std::vector<TestEntry> entries(65537, TestEntry{.name = "d/", .data = "", .method = 0, .externalAttr = 0x10});
  entries.back() = {.name = "last.txt", .data = "last"};
  ASSERT_EQ(Open(BuildArchive(entries)), "");   // the end record counts 65,537 mod 65,536 = 1
  EXPECT_FALSE(FEngine.Dir().Recovered);
  EXPECT_EQ(FEngine.Dir().CDir.Count(), 65537);
  EXPECT_EQ(Extract(u"last.txt"), "last");
}

TEST_F(ZipDamageTest, RecoverySkipsEachEntrysDataBySize) {
  // A stored archive inside, and stored data that looks like a header: after
  // the central directory is lost both stay data of their entries.
  const std::string inner = BuildArchive({{.name = "a.txt", .data = "EVIL", .method = 0}, {.name = "x", .data = "x"}});
  const std::string fake = LocalHeader("a.txt", 0, 0, Crc("EVIL"), 4, 4) + "EVIL";
  const std::vector<TestEntry> entries = {{.name = "a.txt", .data = "real"},
                                          {.name = "inner.zip", .data = inner, .method = 0},
                                          {.name = "fake.bin", .data = fake, .method = 0},
                                          {.name = "z.txt", .data = "last"}};
  const std::string body = BuildArchive(entries, {.withCentralDirectory = false});
  ASSERT_EQ(Open(body), "");
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "inner.zip", "fake.bin", "z.txt"}));
  EXPECT_TRUE(FEngine.Dir().Recovered);
  EXPECT_FALSE(FEngine.Dir().RecoveryComplete);   // no central directory: entries may be missing
  EXPECT_EQ(Extract(u"a.txt"), "real");
  EXPECT_EQ(Extract(u"inner.zip"), inner);

  // With the central directory cut short, the inner archive's end record is
  // the last one in the file; its directory is not taken for this one's.
  const std::string whole = BuildArchive(entries);
  ASSERT_EQ(Open(whole.substr(0, body.size() + 50)), "");
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.txt", "inner.zip", "fake.bin", "z.txt"}));
  EXPECT_TRUE(FEngine.Dir().RecoveryComplete);   // every byte up to the directory accounted for
}

TEST_F(ZipDamageTest, RecoveryFindsDescriptorsWithAndWithoutSignature) {
  // Each form of descriptor after stored and deflated data, stored data
  // that holds a descriptor's signature, and an entry of 0 bytes.
  std::string body;
  std::vector<std::pair<std::string, std::string>> expected;
  const struct {
    const char* name;
    std::uint16_t method;
    bool signature;
    std::string data;
  } forms[] = {
      {"signed-deflate.txt", 8, true, Text(4000, 4)},
      {"unsigned-deflate.txt", 8, false, Text(4000, 5)},
      {"signed-stored.bin", 0, true, "PK\x07\x08 looks like a descriptor " + Text(100, 6)},
      {"unsigned-stored.bin", 0, false, Text(700, 7)},
      {"empty.txt", 0, false, ""},
  };
  for (const auto& f : forms) {
    const std::string packed = f.method == 8 ? test::RawDeflate(f.data) : f.data;
    body += LocalHeader(f.name, f.method, 8, 0, 0, 0) + packed;
    body += test::DataDescriptor(Crc(f.data), packed.size(), f.data.size(), f.signature);
    expected.emplace_back(f.name, f.data);
  }
  ASSERT_EQ(Open(body), "");
  ASSERT_EQ(FEngine.Dir().CDir.Count(), 5);
  for (const auto& [name, data] : expected) EXPECT_EQ(Extract(FromUtf8(name)), data) << name;
}

TEST_F(ZipDamageTest, LostDescriptorIsNeverTakenForAnEmptyEntry) {
  std::string body = LocalHeader("first.txt", 0, 0, Crc("first"), 5, 5) + "first";
  body += LocalHeader("lost.txt", 8, 8, 0, 0, 0) + test::RawDeflate(Text(3000));   // no descriptor follows
  body += LocalHeader("last.txt", 0, 0, Crc("last"), 4, 4) + "last";
  ASSERT_EQ(Open(body), "");
  EXPECT_EQ(Names(), (std::vector<std::string>{"first.txt", "lost.txt", "last.txt"}));
  EXPECT_EQ(Extract(u"lost.txt"),
            "error: The size and check sum of \"lost.txt\" are lost: its data descriptor was not found"
            " - Native error: 00008");
  EXPECT_EQ(Extract(u"last.txt"), "last");
}

TEST_F(ZipDamageTest, BytesWithoutAReadableEntryAreNoArchive) {
  const std::string invalid = "Invalid archive file. - Native error: 00035";
  EXPECT_EQ(Open("PK\x03\x04" + Text(500)), invalid);
  EXPECT_EQ(Open(std::string("PK\x03\x04") + std::string(500, '\0')), invalid);
  EXPECT_EQ(Open(BuildArchive(kThree).substr(0, 20)), invalid);
  // One header whose data runs past the end is an entry that cannot be
  // restored, not nothing.
  ASSERT_EQ(Open(LocalHeader("big.bin", 8, 0, 1, 1000000, 2000000) + Text(100)), "");
  EXPECT_EQ(Extract(u"big.bin"),
            "error: Invalid size or check sum of file or unsupported compression format - Native error: 00008");
}

// The little-endian 32-bit value at offset.
void Put32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[offset + static_cast<std::size_t>(i)] = static_cast<char>(value >> (8 * i));
}

std::uint32_t Get32(const std::string& bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<std::uint8_t>(bytes[offset + static_cast<std::size_t>(i)]);
  return value;
}

TEST_F(ZipDamageTest, OverlappingEntriesAreRefusedBeforeAnything) {
  // Two central entries for one local header; and two stored entries, the
  // first of which grows over the second: every entry shares its bytes.
  std::string shared = BuildArchive({{.name = "a.txt", .data = Text(1000)}});
  std::string two = BuildArchive({{.name = "a.txt", .data = Text(1000)}, {.name = "b.txt", .data = Text(1000)}});
  const size_t central = two.find("PK\x01\x02");
  const size_t second = two.find("PK\x01\x02", central + 4);
  std::string sameOffset = two;
  for (int i = 0; i < 4; ++i) sameOffset[second + 42 + i] = two[central + 42 + i];
  sameOffset.replace(second + 46, 5, "a.txt");
  std::string stored = BuildArchive({{.name = "a.txt", .data = Text(1000), .method = 0},
                                     {.name = "b.txt", .data = Text(1000), .method = 0}});
  const size_t storedCentral = stored.find("PK\x01\x02");
  for (const size_t field : {storedCentral + 20, storedCentral + 24, std::size_t{18}, std::size_t{22}}) {
    Put32(stored, field, 1000 + 30 + 5 + 1000);   // a.txt's sizes take in all of b.txt
  }
  EXPECT_EQ(Open(sameOffset),
            "The archive is refused: entries \"a.txt\" and \"a.txt\" overlap in the archive - Native error: 00048");
  EXPECT_EQ(Open(stored),
            "The archive is refused: entries \"a.txt\" and \"b.txt\" overlap in the archive - Native error: 00048");
  EXPECT_EQ(Open(shared), "");
}

// A compressed size that overstates the data is no overlap: the deflate
// stream ends where it says, and what follows it is not read, as other
// readers do not read it. Swept around the next local header: up to it, one
// byte into it, and far over it; in the central directory alone and in both
// headers.
TEST_F(ZipDamageTest, AnOverstatedCompressedSizeIsReadToTheStreamsEnd) {
  const std::string a = Text(5000, 1), b = Text(3000, 2);
  const std::string good = BuildArchive({{.name = "a.txt", .data = a}, {.name = "b.txt", .data = b},
                                         {.name = "c.txt", .data = "c", .method = 0}});
  const size_t central = good.find("PK\x01\x02");
  const std::uint32_t packed = Get32(good, central + 20);
  for (const std::uint32_t grow : {0u, 1u, 29u, 30u, 31u, 40u, 600u}) {
    for (const bool inLocal : {false, true}) {
      SCOPED_TRACE(std::to_string(grow) + (inLocal ? " in both headers" : " in the central directory"));
      std::string bytes = good;
      Put32(bytes, central + 20, packed + grow);
      if (inLocal) Put32(bytes, 18, packed + grow);
      ASSERT_EQ(Open(bytes), "");
      EXPECT_EQ(Extract(u"a.txt"), a);
      EXPECT_EQ(Extract(u"b.txt"), b);
      EXPECT_EQ(Extract(u"c.txt"), "c");
    }
  }
  // The local header's own size is read no further: a stream that needs
  // more than it gives is refused as a disagreement.
  std::string understated = good;
  Put32(understated, 18, packed / 2);
  ASSERT_EQ(Open(understated), "");
  EXPECT_EQ(Extract(u"a.txt"),
            "error: The local header of \"a.txt\" does not agree with the central directory (sizes) - Native error: 00008");
  EXPECT_EQ(Extract(u"b.txt"), b);
}

// An overlap that does not make up the archive refuses the entries that
// take part in it, each when it is reached; the others are whole.
TEST_F(ZipDamageTest, AnOverlapInsideAReadableArchiveRefusesOnlyItsEntries) {
  std::string bytes = BuildArchive({{.name = "a.txt", .data = Text(1000, 1)},
                                    {.name = "x.bin", .data = Text(1000, 2), .method = 0},
                                    {.name = "y.txt", .data = Text(1000, 3), .method = 0},
                                    {.name = "z.txt", .data = Text(1000, 4)}});
  const size_t xLocal = bytes.find("x.bin") - 30;
  const size_t xCentral = bytes.find("x.bin", bytes.find("PK\x01\x02")) - 46;
  for (const size_t field : {xLocal + 18, xLocal + 22, xCentral + 20, xCentral + 24}) {
    Put32(bytes, field, 1000 + 30 + 5 + 500);   // x.bin's data runs over half of y.txt
  }
  ASSERT_EQ(Open(bytes), "");
  EXPECT_EQ(Extract(u"a.txt"), Text(1000, 1));
  EXPECT_EQ(Extract(u"x.bin"), "error: The data of \"x.bin\" overlaps another entry in the archive - Native error: 00048");
  EXPECT_EQ(Extract(u"y.txt"), "error: The data of \"y.txt\" overlaps another entry in the archive - Native error: 00048");
  EXPECT_EQ(Extract(u"z.txt"), Text(1000, 4));
}

TEST_F(ZipDamageTest, LocalHeaderMustAgreeWithTheCentralDirectory) {
  std::string bytes = BuildArchive({{.name = "name.txt", .data = Text(2000)},
                                    {.name = "method.txt", .data = Text(2000)},
                                    {.name = "sizes.txt", .data = Text(2000)},
                                    {.name = "ok.txt", .data = "ok"}});
  // The first copy of each name is in its local header, 30 bytes in.
  auto local = [&](const std::string& name) { return bytes.find(name) - 30; };
  bytes[local("name.txt") + 30] = 'N';                  // "Name.txt"
  bytes[local("method.txt") + 8] = 0;                   // stored
  bytes[local("sizes.txt") + 22] ^= 1;                  // uncompressed size
  ASSERT_EQ(Open(bytes), "");
  for (const auto& [name, what] : {std::pair{u"name.txt", "name"}, {u"method.txt", "compression method"},
                                   {u"sizes.txt", "sizes"}}) {
    EXPECT_EQ(Extract(name), "error: The local header of \"" + ToUtf8(name) +
                                 "\" does not agree with the central directory (" + what + ") - Native error: 00008");
  }
  EXPECT_EQ(Extract(u"ok.txt"), "ok");
}

TEST_F(ZipDamageTest, NameIndexStaysRightUnderCollidingNames) {
  // Two-letter blocks that each add the same value to the engine's name
  // hash: every name below hashes alike.
  const std::string blocks[] = {"ay", "bu", "cq", "dm", "ei", "fe", "ga", "hn"};
  std::vector<TestEntry> entries;
  for (int n = 0; n < 4096; ++n) {
    std::string name;
    for (int k = n, i = 0; i < 4; ++i, k /= 8) name += blocks[k % 8];
    entries.push_back({.name = name, .data = name, .method = 0});
  }
  ASSERT_EQ(TZEDirArray::NameHash(u"aybu"), TZEDirArray::NameHash(u"buay"));
  ASSERT_EQ(Open(BuildArchive(entries)), "");
  for (int n = 0; n < 4096; n += 97) {
    EXPECT_EQ(FEngine.Dir().CDir.IndexOf(FromUtf8(entries[static_cast<size_t>(n)].name)), n);
  }
  EXPECT_EQ(FEngine.Dir().CDir.IndexOf(u"AYBUCQDM"), FEngine.Dir().CDir.IndexOf(u"aybucqdm"));
  EXPECT_EQ(FEngine.Dir().CDir.IndexOf(u"ayayayaz"), -1);
}

TEST(ZipPrintableName, ControlsAndReorderingAreEscaped) {
  const struct {
    std::u16string name;
    std::u16string shown;
  } cases[] = {
      {u"plain name.txt", u"plain name.txt"},
      {u"Gr\u00FC\u00DFe \u20AC \U0001F600.txt", u"Gr\u00FC\u00DFe \u20AC \U0001F600.txt"},
      {u"a\x1B[31mred\x07.txt", u"a\\x1B[31mred\\x07.txt"},
      {std::u16string(u"nul\0x", 5), u"nul\\x00x"},
      {u"cr\r\nlf\x7F\x9B", u"cr\\x0D\\x0Alf\\x7F\\x9B"},
      {u"evil\u202Etxt.exe", u"evil\\u202Etxt.exe"},
      {u"lone\xD800.txt", u"lone\\uD800.txt"},
      {u"\\back\\slash", u"\\back\\slash"},
  };
  for (const auto& c : cases) EXPECT_EQ(PrintableName(c.name), c.shown) << ToUtf8(c.shown);
  const String shown = PrintableName(String(70000, u'a') + u"\x1B");
  EXPECT_EQ(shown, String(600, u'a') + u"..." + String(199, u'a') + u"\\x1B");
}

}  // namespace
}  // namespace zo
