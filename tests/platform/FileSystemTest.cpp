#include "platform/FileSystem.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FileStream.h"
#include "platform/Utf.h"
#include "tests/ScratchDir.h"

namespace zo {
namespace {

class FileSystemTest : public ::testing::Test {
 protected:
  String Path(const std::string& rel) const { return FScratch.UFile(rel); }
  void Write(const std::string& rel, const std::string& content = "x") const {
    std::ofstream(FScratch.Path(rel)) << content;
  }

  test::ScratchDir FScratch{"zo-fs"};
};

TEST(MatchesMaskTest, Cases) {
  struct Case {
    const char16_t* name;
    const char16_t* mask;
    bool match;
  } cases[] = {
      {u"readme", u"*.*", true},       {u"a.txt", u"*.TXT", true},  {u"A.TXT", u"a.t?t", true},
      {u"a.txt", u"a.t?", false},      {u"", u"*", true},           {u"", u"?", false},
      {u"abc", u"a*c", true},          {u"abcbc", u"a*bc", true},   {u"abcbd", u"a*bc", false},
      {u"sub/b.txt", u"*", true},      {u"x", u"", false},          {u"\u00C4.txt", u"\u00E4.txt", false},
      {u"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", u"*a*a*a*a*a*a*a*a*a*a*c", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(MatchesMask(c.name, c.mask), c.match) << ToUtf8(c.name) << " ~ " << ToUtf8(c.mask);
  }
}

TEST(ExpandFileNameTest, Cases) {
#ifdef _WIN32
  // Roots are drives and network shares; "\\x" is the root of the base's drive.
  EXPECT_EQ(ExpandFileName(u"a/./b/../c", u"C:/base"), u"C:/base/a/c");
  EXPECT_EQ(ExpandFileName(u"sub\\dir\\", u"C:\\base"), u"C:/base/sub/dir/");
  EXPECT_EQ(ExpandFileName(u"C:/x//y/../../..", u"D:/base"), u"C:/");
  EXPECT_EQ(ExpandFileName(u"\\x", u"D:/base"), u"D:/x");
  EXPECT_EQ(ExpandFileName(u"\\\\srv\\share\\x\\..\\y", u"C:/base"), u"//srv/share/y");
  EXPECT_EQ(ExpandFileName(u"f", u""), GetCurrentDir() + u"/f");
  return;
#endif
  EXPECT_EQ(ExpandFileName(u"a/./b/../c", u"/base"), u"/base/a/c");
  EXPECT_EQ(ExpandFileName(u"sub\\dir\\", u"/base"), u"/base/sub/dir/");
  EXPECT_EQ(ExpandFileName(u"/x//y/../../..", u"/base"), u"/");
  EXPECT_EQ(ExpandFileName(u"f", u""), GetCurrentDir() + u"/f");
  EXPECT_EQ(ExtractFilePath(u"a\\b/c.txt"), u"a\\b/");
  EXPECT_EQ(ExtractFileName(u"a\\b/c.txt"), u"c.txt");
}

TEST_F(FileSystemTest, AttributesFollowTheMapping) {
  Write("plain.txt");
  Write(".hidden");
  ASSERT_TRUE(ForceDirectories(Path("d1/d2/d3")));
  EXPECT_EQ(FileGetAttr(Path("plain.txt")), faArchive);
  EXPECT_EQ(FileGetAttr(Path(".hidden")), faArchive | faHidden);
  EXPECT_EQ(FileGetAttr(Path("d1/d2")), faDirectory);
  EXPECT_EQ(FileGetAttr(Path("missing")), kInvalidFileAttributes);

  ASSERT_TRUE(FileSetAttr(Path("plain.txt"), faReadOnly | faArchive));
  EXPECT_EQ(FileGetAttr(Path("plain.txt")), faReadOnly | faArchive);
  ASSERT_TRUE(FileSetAttr(Path("plain.txt"), faArchive));
  EXPECT_EQ(FileGetAttr(Path("plain.txt")), faArchive);
  EXPECT_FALSE(FileSetAttr(Path("missing"), 0));
}

TEST_F(FileSystemTest, TimesRoundTripInLocalTime) {
  Write("t.txt");
  const TLocalTime t{2019, 7, 14, 13, 37, 42, 0};
  ASSERT_TRUE(FileSetLocalTime(Path("t.txt"), t));
  EXPECT_EQ(FileGetLocalTime(Path("t.txt")), t);
  EXPECT_FALSE(FileGetLocalTime(Path("missing")).has_value());
}

TEST_F(FileSystemTest, ListingFiltersByAttributesAndSortsByName) {
  Write("b.txt");
  Write("a");
  Write(".h");
  ASSERT_TRUE(ForceDirectories(Path("sub")));
#ifdef _WIN32
  // Hidden is an attribute of its own here, not the leading dot.
  ASSERT_TRUE(FileSetAttr(Path(".h"), faHidden | faArchive));
#else
  ASSERT_EQ(mkfifo(FScratch.File("pipe").c_str(), 0666), 0);  // never listed
#endif
  auto names = [](const std::vector<TSearchRec>& list) {
    std::u16string joined;
    for (const auto& r : list) joined += r.Name + u",";
    return joined;
  };
  EXPECT_EQ(names(FindFiles(Path("*.*"), 0x28AF)), u".h,a,b.txt,");
  EXPECT_EQ(names(FindFiles(Path("*.*"), faArchive)), u"a,b.txt,");
  EXPECT_EQ(names(FindFiles(Path("*"), 0x16)), u".h,a,b.txt,sub,");
  EXPECT_EQ(names(FindFiles(Path("*"), 0x20)), u"a,b.txt,");
  EXPECT_EQ(names(FindFiles(Path("*.TXT"), 0x28BF)), u"b.txt,");
  EXPECT_TRUE(FindFiles(Path("nowhere/*.*"), 0x28BF).empty());
  const auto one = FindFiles(Path("b.txt"), 0x28BF);
  ASSERT_EQ(one.size(), 1u);
  EXPECT_EQ(one[0].Size, 1);
  EXPECT_EQ(one[0].Attr, faArchive);
}

// The kind of an object is its own fact, told by the listing and by
// FileKind alike, whatever its attribute bits say.
TEST_F(FileSystemTest, KindIsAFactOfItsOwn) {
  Write("file.txt");
  ASSERT_TRUE(ForceDirectories(Path("dir")));
  // Without the archive bit (cleared on Windows as backup tools do) a file
  // is still a file.
  ASSERT_TRUE(FileSetAttr(Path("file.txt"), faReadOnly));
  struct Case {
    const char* name;
    TEntryKind kind;
  };
  std::vector<Case> cases = {{"file.txt", ekFile}, {"dir", ekDirectory}};
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(FScratch.File("pipe").c_str(), 0666), 0);
  ASSERT_EQ(::symlink(FScratch.File("nowhere").c_str(), FScratch.File("dangling").c_str()), 0);
  ASSERT_EQ(::symlink(FScratch.File("loop").c_str(), FScratch.File("loop").c_str()), 0);
  ASSERT_EQ(::symlink(FScratch.File("dir").c_str(), FScratch.File("to-dir").c_str()), 0);
  ASSERT_EQ(::symlink(FScratch.File("file.txt").c_str(), FScratch.File("to-file").c_str()), 0);
  cases.insert(cases.end(), {{"dangling", ekLink}, {"loop", ekLink}, {"to-dir", ekDirectory}, {"to-file", ekFile}});
  EXPECT_EQ(FileKind(Path("pipe")), ekOther);
#endif
  EXPECT_EQ(FileKind(Path("missing")), ekNone);
  const std::vector<TSearchRec> listing = FindFiles(Path("*"), faAnyFile);
  ASSERT_EQ(listing.size(), cases.size());   // a named pipe is never listed
  for (const Case& c : cases) {
    EXPECT_EQ(FileKind(Path(c.name)), c.kind) << c.name;
    const auto rec = std::find_if(listing.begin(), listing.end(),
                                  [&](const TSearchRec& r) { return r.Name == FromUtf8(c.name); });
    ASSERT_NE(rec, listing.end()) << c.name;
    EXPECT_EQ(rec->Kind, c.kind) << c.name;
  }
  ASSERT_TRUE(FileSetAttr(Path("file.txt"), 0));
}

TEST_F(FileSystemTest, DeleteRemovesALinkNotItsTarget) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine creates no symbolic links";
#else
  Write("target.txt");
  ASSERT_EQ(symlink(FScratch.File("target.txt").c_str(), FScratch.File("link").c_str()), 0);
  EXPECT_TRUE(IsSymbolicLink(Path("link")));
  EXPECT_TRUE(DeleteFile(Path("link")));
  EXPECT_FALSE(PathEntryExists(Path("link")));
  EXPECT_TRUE(FileExists(Path("target.txt")));
#endif
}

// Levels of a deep tree: near PATH_MAX (4096) on POSIX, well past MAX_PATH
// (260, the limit without \\?\) on Windows. Wine looks up every level of a
// path anew on each call, so the POSIX depth would take a minute there.
#ifdef _WIN32
constexpr int kDeepLevels = 200;
#else
constexpr int kDeepLevels = 1500;
#endif

TEST_F(FileSystemTest, ForceDirectoriesMakesEveryMissingLevel) {
  std::string deep = "x";
  for (int i = 0; i < kDeepLevels; ++i) deep += "/d";
  EXPECT_TRUE(ForceDirectories(Path(deep)));
  EXPECT_TRUE(DirectoryExists(Path(deep)));
  EXPECT_TRUE(ForceDirectories(Path(deep + "/")));   // there already
  Write("file");
  EXPECT_FALSE(ForceDirectories(Path("file/sub")));
  EXPECT_FALSE(ForceDirectories(Path(std::string(5000, 'l'))));   // longer than any path may be
}

// The system's own limit, in its own units: bytes on POSIX (a character
// outside ASCII counts as its UTF-8 bytes), UTF-16 units of the \\?\ path
// on Windows.
TEST(IsPathTooLongTest, CountsInTheSystemsOwnUnits) {
#ifdef _WIN32
  const std::u16string root = u"C:/";
  const std::size_t longest = 32767 - std::u16string_view(u"\\\\?\\C:\\").size();
  EXPECT_FALSE(IsPathTooLong(root + std::u16string(longest, u'a')));
  EXPECT_TRUE(IsPathTooLong(root + std::u16string(longest + 1, u'a')));
  EXPECT_FALSE(IsPathTooLong(root + std::u16string(5000, u'\u00e9')));
#else
  const std::u16string root = u"/";
  EXPECT_FALSE(IsPathTooLong(root + std::u16string(4094, u'a')));
  EXPECT_TRUE(IsPathTooLong(root + std::u16string(4095, u'a')));
  EXPECT_FALSE(IsPathTooLong(root + std::u16string(2047, u'\u00e9')));   // 4094 bytes
  EXPECT_TRUE(IsPathTooLong(root + std::u16string(2048, u'\u00e9')));
  EXPECT_TRUE(IsPathTooLong(u"\\\\?\\" + std::u16string(4095, u'a')));   // no prefix lifts the limit here
#endif
}

TEST_F(FileSystemTest, DirHandleWorksBelowItsDirectoryWithoutFollowingLinks) {
#ifdef _WIN32
  GTEST_SKIP() << "Wine creates no symbolic links";
#else
  ASSERT_TRUE(ForceDirectories(Path("base/real")));
  ASSERT_TRUE(ForceDirectories(Path("elsewhere")));
  ASSERT_EQ(symlink(FScratch.File("elsewhere").c_str(), FScratch.File("base/link").c_str()), 0);
  Write("base/file", "old");
  TDirHandle base, child;
  ASSERT_EQ(base.Open(Path("base")), 0);
  EXPECT_EQ(base.OpenSubdirectory(u"real", false, child), 0);
  EXPECT_EQ(base.OpenSubdirectory(u"new", true, child), 0);
  EXPECT_TRUE(DirectoryExists(Path("base/new")));
  EXPECT_EQ(base.OpenSubdirectory(u"missing", false, child), ENOENT);
  EXPECT_EQ(base.OpenSubdirectory(u"link", true, child), ELOOP);
  EXPECT_EQ(base.OpenSubdirectory(u"file", true, child), ENOTDIR);
  EXPECT_EQ(base.Stat(u"link").Kind, ekLink);
  EXPECT_EQ(base.Stat(u"file").Kind, ekFile);
  EXPECT_EQ(base.Stat(u"nothing").Kind, ekNone);

  // A new file never replaces what is there; a rename does, a link included.
  TFileHandle file;
  EXPECT_EQ(base.CreateFile(u"file", file), EEXIST);
  EXPECT_EQ(base.CreateFile(u"link", file), EEXIST);
  String temporary;
  ASSERT_EQ(base.CreateUniqueFile(temporary, file), 0);
  std::int64_t moved = 0;
  ASSERT_EQ(file.Write("new", 3, moved), 0);
  EXPECT_EQ(moved, 3);
  EXPECT_EQ(file.SetAttr(faReadOnly), 0);
  EXPECT_EQ(file.SetTime(*FileTimeOf(TLocalTime{2020, 5, 6, 7, 8, 10, 0})), 0);
  EXPECT_EQ(file.Close(), 0);
  EXPECT_EQ(base.Rename(temporary, u"link"), 0);
  EXPECT_FALSE(IsSymbolicLink(Path("base/link")));
  EXPECT_TRUE(DirectoryExists(Path("elsewhere")));
  EXPECT_EQ(FileGetAttr(Path("base/link")), faReadOnly | faArchive);
  EXPECT_EQ(FileGetLocalTime(Path("base/link")), (TLocalTime{2020, 5, 6, 7, 8, 10, 0}));
  EXPECT_EQ(base.Remove(u"link"), 0);
  EXPECT_FALSE(PathEntryExists(Path("base/link")));
#endif
}

}  // namespace
}  // namespace zo

namespace zo {
namespace {

// Only regular files open as streams, and a named pipe without a writer is
// refused at once rather than waited on.
TEST_F(FileSystemTest, OnlyRegularFilesOpenAsStreams) {
#ifdef _WIN32
  GTEST_SKIP() << "named pipes (mkfifo) are POSIX only";
#else
  ASSERT_EQ(::mkfifo(FScratch.File("pipe").c_str(), 0600), 0);
  ASSERT_EQ(::mkdir(FScratch.File("dir").c_str(), 0700), 0);
  Write("file", "data");
  const struct {
    const char* name;
    TFileHandle::OpenKind kind;
    int expected;
  } cases[] = {
      {"pipe", TFileHandle::OpenKind::Read, EINVAL},   {"pipe", TFileHandle::OpenKind::ReadWrite, EINVAL},
      {"pipe", TFileHandle::OpenKind::Create, EINVAL}, {"dir", TFileHandle::OpenKind::Read, EISDIR},
      {"file", TFileHandle::OpenKind::Read, 0},        {"missing", TFileHandle::OpenKind::Read, ENOENT},
  };
  for (const auto& c : cases) {
    TFileHandle file;
    EXPECT_EQ(file.Open(Path(c.name), c.kind), c.expected) << c.name;
  }
  TFileHandle file;
  ASSERT_EQ(file.Open(Path("file"), TFileHandle::OpenKind::Read), 0);
  char buffer[8];
  std::int64_t moved = 0;
  EXPECT_EQ(file.Read(buffer, sizeof buffer, moved), 0);
  EXPECT_EQ(moved, 4);
#endif
}

}  // namespace
}  // namespace zo
