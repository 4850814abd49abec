// Collection of files on disk for adding: selection, order, stored names,
// exclusions, and AddFiles end to end.
#include "zip/ZipCollect.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "tests/ScratchDir.h"
#include "tests/zip/ZipPeerTools.h"
#include "zip/ZipEngine.h"

namespace zo {
namespace {

class ZipCollectTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(std::filesystem::create_directory(FBase)); }

  void File(const std::string& rel, const std::string& content = "x") const {
    const std::string path = FBase + rel;
    ForceDirectories(FromUtf8(path.substr(0, path.rfind('/'))));
    std::ofstream(path) << content;
  }
  void Dir(const std::string& rel) const { ForceDirectories(FromUtf8(FBase + rel)); }

  std::string Collect(StringView mask, std::uint32_t attr, TZEStorePathMode mode, bool recurse,
                      std::vector<String> exclusions = {}, const String& archive = u"") const {
    TZECollectSettings s;
    s.BaseDir = FromUtf8(FBase);
    s.StorePath = mode;
    s.Recurse = recurse;
    s.ExclusionMasks = std::move(exclusions);
    if (!archive.empty()) s.ArchivePaths.push_back(archive);
    std::string names;
    for (const TZEFoundFile& f : CollectFiles(mask, attr, s)) names += ToUtf8(f.StoredName) + ",";
    return names;
  }

  test::ScratchDir FScratch{"zipread-collect"};
  // With '/' throughout, as the engine's base directory is once resolved.
  const std::string FRoot = FScratch.Dir().generic_string();
  const std::string FBase = FRoot + "/base/";
};

TEST_F(ZipCollectTest, SelectionAndOrderFollowTheSettings) {
  File("a.txt");
  File("sub/b.txt");
  EXPECT_EQ(Collect(u"*.*", 0x28BF, spRelativePath, true), "a.txt,sub/,sub/b.txt,");
  EXPECT_EQ(Collect(u"*.*", 0x28AF, spNoPath, false), "a.txt,");
  EXPECT_EQ(Collect(u"*.*", 0x28AF, spNoPath, true), "a.txt,b.txt,");
  // Files of a directory come before its subdirectories, each subdirectory
  // entry right before its content.
  File("z.txt");
  File("sub/deeper/c.txt");
  File("other/d.txt");
  EXPECT_EQ(Collect(u"*.*", 0x28BF, spRelativePath, true),
            "a.txt,z.txt,other/,other/d.txt,sub/,sub/b.txt,sub/deeper/,sub/deeper/c.txt,");
  EXPECT_EQ(Collect(u"*.txt", 0x28AF, spRelativePath, true), "a.txt,z.txt,other/d.txt,sub/b.txt,sub/deeper/c.txt,");
  EXPECT_EQ(Collect(u"sub/*.txt", 0x28AF, spRelativePath, false), "sub/b.txt,");
}

TEST_F(ZipCollectTest, DirectoriesHiddenFilesAndNamesWithoutDot) {
  Dir("empty");
  Dir("nodot");
  File("README");
  File(".hidden");
  EXPECT_EQ(Collect(u"*.*", 0x28BF, spRelativePath, true), ".hidden,README,empty/,nodot/,");
  EXPECT_EQ(Collect(u"*.*", 0x28AF, spRelativePath, true), ".hidden,README,");
  EXPECT_EQ(Collect(u"*.*", 0x20, spRelativePath, true), "README,");  // hidden ones left out
  EXPECT_EQ(Collect(u"*.*", 0x28BF, spRelativePath, true, {}, FromUtf8(FBase + "README")), ".hidden,empty/,nodot/,");
}

TEST_F(ZipCollectTest, ExclusionsAndMasksOutsideTheBase) {
  File("keep.txt");
  File("drop.log");
  File("sub/drop.txt");
  File("sub/keep2.txt");
  EXPECT_EQ(Collect(u"*.*", 0x28AF, spRelativePath, true, {u"*.log"}), "keep.txt,sub/drop.txt,sub/keep2.txt,");
  EXPECT_EQ(Collect(u"*.*", 0x28AF, spRelativePath, true, {u"sub/drop.txt"}), "drop.log,keep.txt,sub/keep2.txt,");
  EXPECT_EQ(Collect(u"*.*", 0x28BF, spRelativePath, true, {FromUtf8(FBase + "sub/*.*")}), "drop.log,keep.txt,sub/,");

  // A file reached through an absolute mask keeps its full path, without the
  // root (and drive).
  std::ofstream(FRoot + "/outside.txt") << "o";
  const std::string expected = ToUtf8(RemoveDrivePart(FromUtf8(FRoot))) + "/outside.txt,";
  EXPECT_EQ(Collect(FromUtf8(FRoot + "/outside.txt"), 0x28AF, spRelativePath, false), expected);
  EXPECT_EQ(Collect(u"../outside.txt", 0x28AF, spRelativePath, false), expected);
}

TEST_F(ZipCollectTest, SymbolicLinkCyclesEndTheWalk) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoSymbolicLinks());
  File("sub/a.txt");
  ASSERT_TRUE(test::MakeSymbolicLink(FBase, FBase + "sub/loop"));
  EXPECT_EQ(Collect(u"*.*", 0x28AF, spRelativePath, true), "sub/a.txt,");
}

// What the file pass takes is decided by the kind of the object and then by
// its DOS attributes: a Windows file whose archive bit was cleared (attribute
// bits 0, or only read-only) is stored; a device is not, whatever its bits.
TEST(FileFilterTest, KindDecidesWhatIsAFileAttributesFilter) {
  constexpr std::uint32_t kWithDirs = 0x28BF, kWithoutDirs = 0x28AF;
  const struct {
    TEntryKind kind;
    std::uint32_t attr, filter;
    bool taken;
  } cases[] = {
      {ekFile, faArchive, kWithDirs, true},
      {ekFile, 0, kWithDirs, true},                     // archive bit cleared
      {ekFile, faReadOnly, kWithoutDirs, true},         // archive bit cleared, read-only
      {ekFile, faHidden | faSysFile, kWithoutDirs, true},
      {ekFile, faHidden, faArchive, false},             // the filter does not ask for hidden files
      {ekFile, 0, faArchive, false},                    // nor for those without any bit
      {ekLink, 0, kWithDirs, true},                     // leads nowhere: reported when it is read
      {ekOther, faArchive, kWithDirs, false},           // a device or pipe: nothing to read
      {ekDirectory, faDirectory, kWithDirs, false},     // the directory pass's
      {ekDirectory, 0, kWithDirs, false},
      {ekNone, faArchive, kWithDirs, false},
  };
  for (const auto& c : cases) {
    TSearchRec rec;
    rec.Name = u"x";
    rec.Kind = c.kind;
    rec.Attr = c.attr;
    EXPECT_EQ(IsTakenAsFile(rec, c.filter), c.taken)
        << "kind " << static_cast<int>(c.kind) << " attr " << c.attr << " filter " << c.filter;
  }
}

TEST(StoredNameTest, Cases) {
  EXPECT_EQ(RemoveDrivePart(u"C:\\data\\a.txt"), u"data\\a.txt");
  EXPECT_EQ(RemoveDrivePart(u"\\\\server\\share\\a.txt"), u"share\\a.txt");
  EXPECT_EQ(RemoveDrivePart(u"//server/share/a.txt"), u"share/a.txt");
  EXPECT_EQ(RemoveDrivePart(u"/a.txt"), u"a.txt");
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPosixPaths());   // "/data/" is no absolute directory
  EXPECT_EQ(StoredNameOf(u"/data/sub/b.txt", u"/data/", spRelativePath), u"sub/b.txt");
  EXPECT_EQ(StoredNameOf(u"/data/sub/", u"/data/", spRelativePath), u"sub");
  EXPECT_EQ(StoredNameOf(u"/data/sub/b.txt", u"/data/", spNoPath), u"b.txt");
  EXPECT_EQ(StoredNameOf(u"/data/sub/b.txt", u"/data/", spFullPath), u"data/sub/b.txt");
  EXPECT_EQ(StoredNameOf(u"/data/sub/b.txt", u"/data/", spFullPathWithDrive), u"/data/sub/b.txt");
  EXPECT_EQ(StoredNameOf(u"/elsewhere/c.txt", u"/data/", spRelativePath), u"elsewhere/c.txt");
  EXPECT_EQ(StoredNameOf(u"/data/a:b.txt", u"/data/", spRelativePath), u"a:b.txt");  // ':' is a name character here
}

TEST(ExclusionTest, Cases) {
  EXPECT_TRUE(IsExcludedBy(u"/d/x/a.log", u"*.log", u"/d/"));             // name only
  EXPECT_FALSE(IsExcludedBy(u"/d/x/a.log", u"x/b.log", u"/d/"));
  EXPECT_TRUE(IsExcludedBy(u"/d/x/y/a.txt", u"/d/x/*.*", u"/d/"));        // "*.*" covers the tree below
  EXPECT_FALSE(IsExcludedBy(u"/d/x/y/a.txt", u"/d/x/*.txt", u"/d/"));     // other masks only their directory
  EXPECT_TRUE(IsExcludedBy(u"/d/x/a.txt", u"/d/x/*.txt", u"/d/"));
  EXPECT_FALSE(IsExcludedBy(u"/d/y/a.zip", u"/d/x/a.zip", u"/d/"));       // same name elsewhere is kept
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPosixPaths());   // "/d/" is no absolute directory
  EXPECT_TRUE(IsExcludedBy(u"/d/x/a.log", u"x/A.LOG", u"/d/"));           // relative to the current dir
}

TEST_F(ZipCollectTest, AddFilesStoresTheTreeButNotTheArchiveItself) {
  File("a.txt", "alpha");
  File("sub/b.txt", "beta");
  File("one/same.txt", "first");
  File("two/same.txt", "second");
  const String archive = FromUtf8(FBase + "self.zip");
  {
    TZipEngine engine;
    engine.SetFileName(archive);
    engine.OpenArchive(fmCreate);
    engine.SetBaseDir(FromUtf8(FBase));
    engine.Options.StorePath = spNoPath;
    engine.AddFiles(u"*.*", 0x28AF, u"");
    engine.CloseArchive();
  }
  TZipEngine reader;
  reader.SetFileName(archive);
  reader.OpenArchive(0x20);
  std::string names;
  for (int i = 0; i < reader.Dir().CDir.Count(); ++i) names += ToUtf8(reader.Dir().CDir[i].Name) + ",";
  // Same names collected without paths leave one entry, the last one found.
  EXPECT_EQ(names, "a.txt,same.txt,b.txt,");
  TMemoryStream out;
  reader.ExtractToStream(u"same.txt", out);
  EXPECT_EQ(std::string(out.Memory().begin(), out.Memory().end()), "second");
  reader.CloseArchive();
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  EXPECT_EQ(test::RunCommand("unzip -tqq " + test::Quoted(FBase + "self.zip")).status, 0);
}

// Seventy directories of a thousand files, each with a 59-byte name: the
// entry count wraps past 65,535 in the 16-bit fields, the central directory
// goes out in several writes, and every name and every file comes back.
TEST_F(ZipCollectTest, SeventyThousandFilesRoundTripWithTheirNames) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  constexpr int kFiles = 70000;
  // "dir_NN/file_NNNNN_xxx...": the content of each file is its name.
  auto nameOf = [](int i) {
    char head[32];
    std::snprintf(head, sizeof head, "dir_%02d/file_%05d_", i / 1000, i);
    std::string name = head;
    return name + std::string(59 - name.size(), 'x');
  };
  for (int i = 0; i < kFiles; ++i) {
    if (i % 1000 == 0) Dir(nameOf(i).substr(0, 6));
    std::ofstream(FBase + nameOf(i)) << nameOf(i);
  }
  const std::string archive = FRoot + "/many.zip";
  {
    TZipEngine engine;
    engine.SetFileName(FromUtf8(archive));
    engine.OpenArchive(fmCreate);
    engine.SetBaseDir(FromUtf8(FBase));
    engine.AddFiles(u"*.*", 0x28BF, u"");
    engine.CloseArchive();
  }
  const test::CommandResult peer = test::RunCommand(
      "python3 -c 'import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "files = [i.filename for i in z.infolist() if not i.is_dir()]\n"
      "expected = [\"dir_%02d/file_%05d_\" % (i // 1000, i) for i in range(70000)]\n"
      "expected = [n + \"x\" * (59 - len(n)) for n in expected]\n"
      "print(len(z.infolist()), sorted(files) == expected, all(z.read(n) == n.encode() for n in files))\n"
      "' " + test::Quoted(archive));
  EXPECT_EQ(peer.output, "70070 True True\n");
  EXPECT_EQ(test::RunCommand("unzip -tqq " + test::Quoted(archive)).status, 0);

  // Read back by the engine: the whole count, each name in the order packed
  // and each file's content (taken to memory: unpacking to disk is the same
  // path per entry, and creating another 70,000 files would double the cost).
  TZipEngine engine;
  engine.SetFileName(FromUtf8(archive));
  engine.OpenArchive(fmOpenRead);
  const TZEDirArray& dir = engine.Dir().CDir;
  ASSERT_EQ(dir.Count(), kFiles + kFiles / 1000);
  int wrong = 0;
  for (int i = 0, entry = 0; i < kFiles; ++i, ++entry) {
    if (i % 1000 == 0 && dir[entry++].Name != FromUtf8(nameOf(i).substr(0, 7))) ++wrong;
    if (dir[entry].Name != FromUtf8(nameOf(i))) {
      ++wrong;
      continue;
    }
    TMemoryStream content;
    engine.ExtractToStream(dir[entry].Name, content);
    if (std::string(content.Memory().begin(), content.Memory().end()) != nameOf(i)) ++wrong;
  }
  EXPECT_EQ(wrong, 0);
}

}  // namespace
}  // namespace zo
