// Entry names and the platform pieces under them: code pages, the name
// index, and temporary files.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/StringUtils.h"
#include "platform/CodePage.h"
#include "platform/TempFile.h"
#include "platform/Utf.h"
#include "tests/MessageOf.h"
#include "tests/ScopedEnv.h"
#include "tests/zip/ZipPeerTools.h"
#include "zip/ZipDirectory.h"

namespace zo {
namespace {

Bytes B(std::string_view s) { return Bytes(s.begin(), s.end()); }

TEST(ZipNames, EncodingPicksTheCodePageOnlyWhenTheNameSurvivesIt) {
  struct Case {
    const char16_t* name;
    bool oem;
    std::string_view bytes;
    bool utf8Flag;
  };
  const Case cases[] = {
      {u"plain/a.txt", true, "plain/a.txt", false},
      {u"caf\u00E9", true, "caf\x82", false},          // CP437
      {u"caf\u00E9", false, "caf\xE9", false},         // Windows-1252
      // CP437 only: an older reader converts OEM to ANSI and gets '?'.
      {u"\u256C", true, "\xE2\x95\xAC", true},          // box drawing
      {u"\u03A3.txt", true, "\xCE\xA3.txt", true},       // sigma
      {u"\u256C", false, "\xE2\x95\xAC", true},
      {u"\u20AC", true, "\xE2\x82\xAC", true},         // euro: Windows-1252 only
      {u"\u20AC", false, "\x80", false},
      {u"\u0416", true, "\xD0\x96", true},             // in neither
      {u"\U0001F600", false, "\xF0\x9F\x98\x80", true},
      // In CP437 these are E1 84 94, which read back as UTF-8 (U+1114).
      {u"\u00DF\u00E4\u00F6.txt", true, "\xC3\x9F\xC3\xA4\xC3\xB6.txt", true},
  };
  for (const Case& c : cases) {
    std::uint16_t flag = kZipFlagDirectory;
    EXPECT_EQ(EncodeEntryName(c.name, c.oem, flag), B(c.bytes)) << ToUtf8(c.name);
    EXPECT_EQ(flag, kZipFlagDirectory | (c.utf8Flag ? kZipFlagUtf8 : 0)) << ToUtf8(c.name);
    EXPECT_EQ(DecodeEntryName(B(c.bytes), c.oem, flag), c.name) << ToUtf8(c.name);
  }
  // A name already flagged UTF-8 stays UTF-8.
  std::uint16_t flag = kZipFlagUtf8;
  EXPECT_EQ(EncodeEntryName(u"caf\u00E9", true, flag), B("caf\xC3\xA9"));
}

// Whatever the name, every reading gives back exactly the name written: our
// own; for OEM names without bit 11 also plain CP437 (as most tools read
// them) and the older rule that converts OEM to ANSI before reading; for
// flagged names UTF-8. Every pair of non-ASCII characters of both code pages
// (which covers every two-byte UTF-8 look-alike) and random runs of them.
TEST(ZipNames, EveryNameReadsBackAsWritten) {
  for (const bool oem : {true, false}) {
    std::u16string upper;
    for (int b = 0x80; b < 0x100; ++b) {
      upper += DecodeCodePage(std::string(1, static_cast<char>(b)), cpOem);
      upper += DecodeCodePage(std::string(1, static_cast<char>(b)), cpAnsi);
    }
    auto expectRoundTrip = [&](const std::u16string& name) {
      std::uint16_t flag = 0;
      const Bytes bytes = EncodeEntryName(name, oem, flag);
      const std::string text(bytes.begin(), bytes.end());
      ASSERT_EQ(DecodeEntryName(bytes, oem, flag), name) << ToUtf8(name) << (oem ? " oem" : " ansi");
      if ((flag & kZipFlagUtf8) != 0) {
        ASSERT_EQ(FromUtf8(text), name) << ToUtf8(name);
      } else if (oem) {
        ASSERT_EQ(DecodeCodePage(text, cpOem), name) << ToUtf8(name);
        const std::string ansi = ConvertCodePage(text, cpOem, cpAnsi);
        ASSERT_EQ(DecodeEntryName(Bytes(ansi.begin(), ansi.end()), false, 0), name) << ToUtf8(name);
      }
    };
    for (char16_t a : upper) {
      for (char16_t b : upper) expectRoundTrip(std::u16string{u'x', a, b, u'.', u't'});
    }
    std::uint32_t x = 12345;
    for (int n = 0; n < 20000; ++n) {
      std::u16string name;
      for (int k = 0; k < 3 + n % 5; ++k) name += upper[((x = x * 1103515245u + 12345u) >> 16) % upper.size()];
      expectRoundTrip(name);
    }
  }
}

TEST(ZipNames, DecodingTrustsValidUtf8OverTheFlag) {
  EXPECT_EQ(DecodeEntryName(B("caf\xC3\xA9"), true, 0), u"caf\u00E9");    // UTF-8 without flag
  EXPECT_EQ(DecodeEntryName(B("caf\xC3"), true, 0), u"caf\u251C");        // broken UTF-8: CP437
  EXPECT_EQ(DecodeEntryName(B("\x81\x8D"), false, 0), u"\u0081\u008D");   // undefined in 1252
}

TEST(ZipNames, FileNamesThatAreNotUtf8ReadAsWindows1252) {
  EXPECT_EQ(ReadableFileName(FromOsPath("caf\xE9/\x80uro \x81.txt")), u"caf\u00E9/\u20ACuro \u0081.txt");
  EXPECT_EQ(ReadableFileName(u"caf\u00E9"), u"caf\u00E9");
}

TEST(ZipNames, CodePagesReportWhatTheyCannotHold) {
  bool exact = true;
  EXPECT_EQ(EncodeCodePage(u"a\u20ACb", cpOem, &exact), "a?b");
  EXPECT_FALSE(exact);
  EXPECT_EQ(EncodeCodePage(u"a\u20ACb", cpAnsi, &exact), "a\x80" "b");
  EXPECT_TRUE(exact);
  EXPECT_EQ(ConvertCodePage("\xE9", cpAnsi, cpOem), "\x82");
  for (int b = 0; b < 256; ++b) {   // both tables read back what they write
    const std::string one(1, static_cast<char>(b));
    EXPECT_EQ(EncodeCodePage(DecodeCodePage(one, cpAnsi), cpAnsi), one) << b;
    EXPECT_EQ(EncodeCodePage(DecodeCodePage(one, cpOem), cpOem), one) << b;
  }
  EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));
  EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));   // above U+10FFFF
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));           // overlong
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));       // surrogate
}

TEST(ZipNames, NameIndexIgnoresAsciiCaseOnly) {
  TZEDirArray dir;
  for (const char16_t* name : {u"Readme.TXT", u"\u00C4rger.txt", u"b/"}) {
    TDirItem item;
    item.Name = name;
    dir.Add(item);
  }
  EXPECT_EQ(dir.IndexOf(u"README.txt"), 0);
  EXPECT_EQ(dir.IndexOf(u"\u00E4rger.txt"), -1);   // not ASCII: case counts
  EXPECT_EQ(dir.IndexOf(u"\u00C4RGER.TXT"), 1);
  EXPECT_EQ(dir.IndexOf(u"B/"), 2);
  dir.Delete(0);
  EXPECT_EQ(dir.IndexOf(u"b/"), 1);
  EXPECT_EQ(dir.IndexOf(u"readme.txt"), -1);
  const auto taken = test::ErrorOf<EZEException>([&] { dir.Rename(0, u"B/"); });
  ASSERT_TRUE(taken);
  EXPECT_EQ(taken->NativeError, 59);
  dir.Rename(0, u"c.txt");
  EXPECT_EQ(dir.IndexOf(u"C.TXT"), 0);
  EXPECT_EQ(TZEDirArray::NameHash(u"ab"), ((std::uint32_t{'a'} << 2) ^ 'b'));
}

TEST(ZipNames, DirectoryArrayGrowsInDoublingSteps) {
  TZEDirArray dir;
  EXPECT_EQ(dir.AllocBy(), 500);
  for (int i = 0; i < 20000; ++i) {
    TDirItem item;
    item.Name = u"f" + AsciiToString(std::to_string(i));
    dir.Add(std::move(item));
  }
  EXPECT_EQ(dir.AllocBy(), TZEDirArray::kMaxAllocBy);
  EXPECT_EQ(dir.IndexOf(u"F19999"), 19999);
}

// The index against a plain scan of the entries, through additions of names
// that differ only in case or not at all, renames and deletions: the first
// entry of a name is found, whatever was removed from the table before it.
TEST(ZipNames, NameIndexAgreesWithAScanThroughRenamesAndDeletions) {
  TZEDirArray dir;
  auto nameOf = [](int i) { return u"d" + AsciiToString(std::to_string(i % 700)) + u"/F.txt"; };
  for (int i = 0; i < 3000; ++i) {
    TDirItem item;
    item.Name = nameOf(i);
    if (i % 3 == 1) item.Name[0] = u'D';   // the same name in other case
    dir.Add(std::move(item));
  }
  for (int i = 0; i < 3000; i += 7) {
    if (dir.IndexOf(u"r" + AsciiToString(std::to_string(i))) < 0) dir.Rename(i, u"r" + AsciiToString(std::to_string(i)));
  }
  for (int i = 2990; i > 0; i -= 97) dir.Delete(i);
  auto scan = [&](StringView name, bool exact) {
    for (int i = 0; i < dir.Count(); ++i) {
      if (exact ? dir[i].Name == name : SameTextAscii(dir[i].Name, name)) return i;
    }
    return -1;
  };
  for (int i = 0; i < 3000; i += 11) {
    for (const String& name : {nameOf(i), u"D" + nameOf(i).substr(1), u"R" + AsciiToString(std::to_string(i))}) {
      EXPECT_EQ(dir.IndexOf(name), scan(name, false)) << ToUtf8(name);
      EXPECT_EQ(dir.IndexOfExact(name), scan(name, true)) << ToUtf8(name);
    }
  }
}

// What an entry holds out of line (comment, extra fields, a name's stored
// bytes, a source path) is its own after a copy, as the rollback copy of a
// transaction needs.
TEST(ZipNames, EntryCopiesOwnWhatTheyHoldOutOfLine) {
  TDirItem item;
  item.Name = u"caf\u00E9.txt";
  item.SetComment("first");
  item.SetStoredName(B("caf\x82.txt"));
  item.SetExtraFields({TZEExtraFieldDataBlock{0x5455, 1, Bytes{1}}});
  item.SetUncompressedSize(std::uint64_t{5} << 32);
  TDirItem copy = item;
  copy.SetComment("second");
  copy.ClearStoredName();
  copy.SetExtraFields({});
  copy.SetUncompressedSize(7);
  EXPECT_EQ(item.Comment(), "first");
  EXPECT_EQ(item.StoredName(), B("caf\x82.txt"));
  EXPECT_EQ(item.ExtraFields().size(), 1u);
  EXPECT_EQ(item.UncompressedSize(), std::uint64_t{5} << 32);
  EXPECT_EQ(copy.UncompressedSize(), 7u);
  // Bytes that are the name itself are not kept: the name gives them back.
  TDirItem plain;
  plain.Name = u"a b~.txt";
  plain.SetStoredName(B("a b~.txt"));
  EXPECT_TRUE(plain.StoredName().empty());
  plain.SetStoredName(B("A b~.txt"));   // bytes that are not the name are
  EXPECT_EQ(plain.StoredName(), B("A b~.txt"));
}

// Source paths are held as a shared directory and the entry's name where
// they are that; every path comes back whole, a renamed entry's too.
TEST(ZipNames, SourcePathsComeBackWholeHoweverTheyAreHeld) {
  TZEDirArray dir;
  struct Case {
    String name, source;
  };
  const std::vector<Case> cases = {
      {u"a.txt", u"/base/a.txt"},
      {u"sub/b.txt", u"/base/sub/b.txt"},
      {u"sub/", u"/base/sub"},             // a directory's path has no '/'
      {u"c.txt", u"/elsewhere/c.txt"},     // another directory
      {u"d.txt", u"/base/renamed-on-disk"},
      {u"e.txt", u""},                      // a stream: no source
      {u"f.txt", u"f.txt"},                 // the name alone
  };
  for (const Case& c : cases) {
    TDirItem item;
    item.Name = c.name;
    dir.SetSrcFileName(dir.Add(std::move(item)), c.source);
  }
  for (int i = 0; i < dir.Count(); ++i) {
    EXPECT_EQ(dir[i].SrcFileName(), cases[static_cast<std::size_t>(i)].source) << i;
    EXPECT_EQ(dir[i].HasSrcFile(), !cases[static_cast<std::size_t>(i)].source.empty()) << i;
  }
  const TZEDirArray copy = dir;
  dir.Rename(1, u"moved.txt");
  EXPECT_EQ(dir[1].SrcFileName(), u"/base/sub/b.txt");
  EXPECT_EQ(copy[1].SrcFileName(), u"/base/sub/b.txt");
  EXPECT_EQ(dir.IndexOf(u"MOVED.TXT"), 1);
  EXPECT_EQ(dir.IndexOf(u"sub/b.txt"), -1);
}

TEST(ZipNames, TempFilesAreNewUniqueAndWhereAsked) {
  test::ScratchDir scratch;
  const std::u16string first = CreateTempFile(FromUtf8(scratch.Dir().string()), u"FC");
  const std::u16string second = CreateTempFile(FromUtf8(scratch.Dir().string()), u"FC");
  ASSERT_FALSE(first.empty());
  EXPECT_NE(first, second);
  const std::string real = std::filesystem::canonical(scratch.Dir()).generic_string();
  EXPECT_EQ(ToUtf8(first).rfind(real + "/FC", 0), 0u) << ToUtf8(first);
  EXPECT_EQ(std::filesystem::file_size(std::filesystem::u8path(ToUtf8(first))), 0u);

  int error = 0;
  EXPECT_TRUE(CreateTempFile(FromUtf8(scratch.File("missing")), u"tmp", &error).empty());
  EXPECT_EQ(error, ENOENT);

  // Without a directory: the system's temporary directory, from the
  // environment.
  {
    const test::ScopedEnv tmp(test::TempDirVariable(), scratch.Dir().string());
    const std::u16string inTmp = CreateTempFile(u"", u"tmp");
    EXPECT_EQ(ToUtf8(inTmp).rfind(real + "/tmp", 0), 0u) << ToUtf8(inTmp);
  }

  ZO_SKIP_UNLESS_SHOWN(test::WhyNoModes());
  EXPECT_EQ(test::ModeBits(ToUtf8(first)), 0600);
}

}  // namespace
}  // namespace zo
