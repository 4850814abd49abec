// Writing archives: entries of every kind checked by the peer tools, the
// deflate block layout, Zip64 end records, and the engine's settings.
#include <gtest/gtest.h>
#include <algorithm>
#include <zlib.h>

#include "tests/MessageOf.h"
#include "tests/zip/ZipPeerTools.h"
#include "zip/BlockDeflate.h"
#include "zip/WholeBufferCodec.h"
#include "zip/ZipEngine.h"

namespace zo {
namespace {

using test::ExpectPeersAccept;
using test::PythonListing;
using test::ReadAll;
using test::Sha1Hex;
using test::StreamOf;

// 2024-05-06 07:08:10, so stamps are reproducible.
const TDateTime kStamp = 45418 + (7 * 3600 + 8 * 60 + 10) / 86400.0;

class ZipWrite : public ::testing::Test {
 protected:
  void OpenNew(TZEBaseArchiver& engine) {
    engine.SetFileName(scratch.UFile("a.zip"));
    engine.OpenArchive(fmCreate);
  }
  void Add(TZEBaseArchiver& engine, const String& name, const std::string& data,
           std::uint32_t attr = 0x20) {
    auto stream = StreamOf(data);
    engine.AddFromStream(name, *stream, true, 0, 0, attr, kStamp);   // the engine keeps a copy
  }
  std::string Archive() const { return scratch.File("a.zip"); }

  test::ScratchDir scratch;
};

std::string Line(const std::string& name, int flags, int method, const std::string& data) {
  return name + "\t" + std::to_string(flags) + "\t" + std::to_string(method) + "\t" + Sha1Hex(data) + "\n";
}

TEST_F(ZipWrite, NewArchiveClosedWithoutEntriesIsTheBareEndRecord) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  {
    TZipEngine engine;
    OpenNew(engine);
    EXPECT_TRUE(engine.Active());
  }  // destroying the engine closes it
  const std::string expected("PK\x05\x06" + std::string(18, '\0'));
  EXPECT_EQ(ReadAll(Archive()), expected);
  EXPECT_EQ(test::RunCommand("python3 -c 'import sys,zipfile; sys.exit(len(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
                             test::Quoted(Archive())).status, 0);
}

TEST_F(ZipWrite, EntriesOfEveryKindReadBackIdenticallyWithPeers) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  const std::string text = test::SampleData(300000, 7);
  const std::string binary = test::SampleData(70000, 3) + std::string(5000, '\xFF');
  {
    TZipEngine engine;
    OpenNew(engine);
    engine.SetCompressionLevel(clNone);
    Add(engine, u"stored.txt", text);
    engine.SetCompressionLevel(clMax);
    Add(engine, u"deflated.txt", text);
    Add(engine, u"empty.txt", "");
    Add(engine, u"sub\\", "", 0x10);
    engine.SetCompressionLevel(clFastest);
    Add(engine, u"sub\\inner.bin", binary);
    engine.SetCompressionLevel(clNormal);
    Add(engine, u"caf\u00E9.txt", "in both code pages");        // CP437 0x82
    Add(engine, u"box\u256C.txt", "only in CP437");             // UTF-8: '?' in Windows-1252
    Add(engine, u"euro\u20AC.txt", "only in Windows-1252");     // UTF-8
    Add(engine, u"\u0416\u0443\u043A.txt", "in neither");       // UTF-8
    engine.CloseArchive();
  }
  ExpectPeersAccept(Archive());
  EXPECT_EQ(PythonListing(Archive()),
            Line("stored.txt", 0, 0, text) + Line("deflated.txt", 0, 8, text) +
                Line("empty.txt", 0, 0, "") + Line("sub/", 2, 0, "") +
                Line("sub/inner.bin", 0, 8, binary) +
                Line("caf\xC3\xA9.txt", 0, 8, "in both code pages") +
                Line("box\xE2\x95\xAC.txt", 2048, 8, "only in CP437") +
                Line("euro\xE2\x82\xAC.txt", 2048, 8, "only in Windows-1252") +
                Line("\xD0\x96\xD1\x83\xD0\xBA.txt", 2048, 8, "in neither"));

  // The other peers read names without flag bit 11 in the host's character
  // set, or ignore the flag: they take every non-ASCII name from its Unicode
  // path field.
  for (const std::string lister : {"7z l -ba -slt", "bsdtar -tf", "unzip -Z1"}) {
    const auto listing = test::RunCommand("LC_ALL=C.UTF-8 " + lister + " " + test::Quoted(Archive()));
    EXPECT_NE(listing.output.find("caf\xC3\xA9.txt"), std::string::npos) << listing.output;
    EXPECT_NE(listing.output.find("box\xE2\x95\xAC.txt"), std::string::npos) << listing.output;
    EXPECT_NE(listing.output.find("euro\xE2\x82\xAC.txt"), std::string::npos) << listing.output;
    EXPECT_NE(listing.output.find("\xD0\x96\xD1\x83\xD0\xBA.txt"), std::string::npos) << listing.output;
  }

  // Fields of the empty file and the directory, from the central directory.
  const auto fields = test::RunCommand(
      "python3 -c 'import sys, zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist()[2:4]:\n"
      "    print(i.filename, i.CRC, i.compress_size, i.file_size, i.external_attr, i.create_version, i.extract_version)\n"
      "' " + test::Quoted(Archive()));
  EXPECT_EQ(fields.output, "empty.txt 0 0 0 32 20 20\nsub/ 0 0 0 16 20 20\n");
}

TEST_F(ZipWrite, WithoutOemNamesTheAnsiCodePageIsUsed) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  {
    TZipEngine engine;
    engine.Options.OEMFileNames = false;
    OpenNew(engine);
    Add(engine, u"caf\u00E9.txt", "x");
    Add(engine, u"\u0416.txt", "y");
  }
  const std::string bytes = ReadAll(Archive());
  EXPECT_NE(bytes.find("caf\xE9.txt"), std::string::npos);     // Windows-1252
  EXPECT_NE(bytes.find("\xD0\x96.txt"), std::string::npos);    // UTF-8
  ExpectPeersAccept(Archive());
  const auto versions = test::RunCommand(
      "python3 -c 'import sys, zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.create_system, i.create_version, i.flag_bits)\n"
      "' " + test::Quoted(Archive()));
  EXPECT_EQ(versions.output, "11 20 0\n11 20 2048\n");
}

// The raw deflate data of an archive's first entry.
std::string FirstEntryData(const std::string& archive) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(archive.data());
  const std::uint32_t compressed = GetLE32(p + 18);
  const std::size_t start = kZipLocalHeaderSize + GetLE16(p + 26) + GetLE16(p + 28);
  return archive.substr(start, compressed);
}

// zlib's own raw deflate at level 9, flushed with a sync flush after each
// block of 1.5 MiB but the last.
std::string ReferenceDeflate(const std::string& data) {
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&z, data.size()) + 1024, '\0');
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const std::size_t block = 0x180000;
  for (std::size_t done = 0; done < data.size();) {
    const std::size_t n = std::min(block, data.size() - done);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data() + done));
    z.avail_in = static_cast<uInt>(n);
    done += n;
    deflate(&z, done == data.size() ? Z_FINISH : Z_SYNC_FLUSH);
  }
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

TEST_F(ZipWrite, LevelNineDeflatesInBlocksOfOneAndAHalfMebibytes) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  for (const std::size_t size : {std::size_t{1572864}, std::size_t{1572865}}) {
    SCOPED_TRACE(size);
    const std::string data = test::SampleData(size, 11);
    {
      TZipEngine engine;
      OpenNew(engine);
      engine.SetCompressionMode(9);
      Add(engine, u"big.txt", data);
    }
    const std::string archive = ReadAll(Archive());
    const std::string entry = FirstEntryData(archive);
    // An entry of one block alone goes to the whole-buffer codec where there
    // is one (its bytes are that codec's); blocks are zlib's own.
    if (size > 1572864 || !HaveWholeBufferCodec()) {
      EXPECT_EQ(entry, ReferenceDeflate(data));
    }
    // One block ends without a sync-flush marker; two have one between them.
    const bool marker = entry.find(std::string("\x00\x00\xFF\xFF", 4)) != std::string::npos;
    EXPECT_EQ(marker, size > 1572864);
    ExpectPeersAccept(Archive());
    EXPECT_EQ(PythonListing(Archive()), Line("big.txt", 0, 8, data));
  }
}

TEST_F(ZipWrite, SixtyFiveThousandFiveHundredThirtyFiveEntriesGetZip64EndRecords) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  const int count = 65535;
  {
    TZipEngine engine;
    OpenNew(engine);
    auto empty = StreamOf("");
    auto one = StreamOf("1");
    engine.BeginUpdate();
    for (int i = 0; i < count; ++i) {
      const std::string name = "f" + std::to_string(i);
      engine.AddFromStream(String(name.begin(), name.end()), i % 2 ? *one : *empty, false, 0, 0, 0x20, kStamp);
    }
    engine.EndUpdate();
    EXPECT_EQ(engine.Dir().CDir.Count(), count);
  }
  const std::string archive = ReadAll(Archive());
  ASSERT_GT(archive.size(), 22u + 20u + 56u);
  const auto* end = reinterpret_cast<const std::uint8_t*>(archive.data()) + archive.size() - 22;
  EXPECT_EQ(GetLE32(end), kZipEndRecordSignature);
  EXPECT_EQ(GetLE16(end + 8), 0xFFFF);
  EXPECT_EQ(GetLE16(end + 10), 0xFFFF);
  const auto* locator = end - 20;
  EXPECT_EQ(GetLE32(locator), kZip64EndLocatorSignature);
  const auto* record = reinterpret_cast<const std::uint8_t*>(archive.data()) + GetLE64(locator + 8);
  EXPECT_EQ(GetLE32(record), kZip64EndRecordSignature);
  EXPECT_EQ(GetLE64(record + 32), static_cast<std::uint64_t>(count));
  EXPECT_EQ(GetLE64(record + 48), GetLE32(end + 16));   // same central directory offset

  ExpectPeersAccept(Archive());
  const auto counted = test::RunCommand(
      "python3 -c 'import sys, zipfile; z = zipfile.ZipFile(sys.argv[1]); "
      "print(len(z.namelist()), z.read(\"f65533\"))' " + test::Quoted(Archive()));
  EXPECT_EQ(counted.output, "65535 b'1'\n");
}

// The central directory goes out in pieces of a mebibyte: a directory of one
// byte less, exactly that and one byte more reads back whole, every name in
// its place, with the end record's size and offset right.
TEST_F(ZipWrite, CentralDirectoryAroundItsWritePieceReadsBackWhole) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  constexpr std::size_t kPiece = std::size_t{1} << 20;
  constexpr std::size_t kNameSize = 100;
  constexpr std::size_t kEntrySize = kZipCentralHeaderSize + kNameSize;
  for (const std::size_t dirSize : {kPiece - 1, kPiece, kPiece + 1}) {
    // Entries of a 100-byte name, the last one's name making up the rest.
    std::size_t count = dirSize / kEntrySize;
    std::size_t rest = dirSize - count * kEntrySize;
    if (rest < kZipCentralHeaderSize + 6) {
      --count;
      rest += kEntrySize;
    }
    std::vector<std::string> names;
    for (std::size_t i = 0; i < count; ++i) {
      const std::string head = "e" + std::to_string(i) + "_";
      names.push_back(head + std::string(kNameSize - head.size(), 'n'));
    }
    names.push_back("last_" + std::string(rest - kZipCentralHeaderSize - 5, 'n'));
    {
      TZipEngine engine;
      OpenNew(engine);
      auto empty = StreamOf("");
      engine.BeginUpdate();
      for (const std::string& name : names) {
        engine.AddFromStream(String(name.begin(), name.end()), *empty, false, 0, 0, 0x20, kStamp);
      }
      engine.EndUpdate();
    }
    const std::string archive = ReadAll(Archive());
    const auto* end = reinterpret_cast<const std::uint8_t*>(archive.data()) + archive.size() - 22;
    ASSERT_EQ(GetLE32(end), kZipEndRecordSignature);
    EXPECT_EQ(GetLE32(end + 12), dirSize);
    EXPECT_EQ(GetLE32(end + 16) + dirSize, archive.size() - 22);
    std::string expected;
    for (const std::string& name : names) expected += name + "\n";
    const auto listed = test::RunCommand(
        "python3 -c 'import sys, zipfile; print(\"\\n\".join(zipfile.ZipFile(sys.argv[1]).namelist()))' " +
        test::Quoted(Archive()));
    EXPECT_EQ(listed.output, expected) << dirSize;
    EXPECT_EQ(test::RunCommand("unzip -tqq " + test::Quoted(Archive())).status, 0) << dirSize;
  }
}

TEST_F(ZipWrite, Zip64FieldsWhenAskedAlwaysAreReadByPeers) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  const std::string data = test::SampleData(200000, 5);
  {
    TZEBaseArchiver engine;   // the base engine allows Zip64
    EXPECT_EQ(engine.Zip64Mode(), zmAuto);
    engine.SetZip64Mode(zmAlways);
    OpenNew(engine);
    Add(engine, u"a.txt", data);
    Add(engine, u"b.txt", "");
    Add(engine, u"a.txt", "again");   // replaced: copies b.txt through the tail
  }
  ExpectPeersAccept(Archive());
  EXPECT_EQ(PythonListing(Archive()), Line("a.txt", 0, 8, "again") + Line("b.txt", 0, 0, ""));
}

TEST_F(ZipWrite, ZipEngineRefusesZip64WhenDisabled) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  TZipEngine engine;
  EXPECT_EQ(engine.Zip64Mode(), zmDisabled);
  // Zip64 forced at registration by a source the size of 4 GiB: simulated by
  // a stream that only reports that size.
  class HugeStream : public TMemoryStream {
   public:
    std::int64_t Size() override { return 0x100000000LL; }
  } huge;
  OpenNew(engine);
  std::vector<std::int64_t> natives;
  engine.OnProcessFileFailure = [&](TZEBaseArchiver&, const String&, TZEProcessOperation, int native,
                                    int, const String& message, TZEAction& action) {
    natives.push_back(native);
    EXPECT_EQ(message, u"Cannot compress file 'huge.bin'. Zip64 mode is not enabled - Native error: 00043");
    action = fxaIgnore;
  };
  Add(engine, u"keep.txt", "kept");
  engine.BeginUpdate();
  engine.AddFromStream(u"huge.bin", huge, false, 0, 0, 0x20, kStamp);
  Add(engine, u"other.txt", "other");
  engine.EndUpdate();
  engine.CloseArchive();
  EXPECT_EQ(natives, std::vector<std::int64_t>{43});
  EXPECT_EQ(PythonListing(Archive()), Line("keep.txt", 0, 8, "kept") + Line("other.txt", 0, 8, "other"));
}

TEST_F(ZipWrite, SettingsAtCreationAndTheirDependencies) {
  TZipEngine engine;
  EXPECT_EQ(engine.CompressionLevel(), clFastest);
  EXPECT_EQ(engine.CompressionMode(), 1);
  EXPECT_EQ(engine.CompressionMethod(), 8);
  EXPECT_TRUE(engine.FileName().empty());
  EXPECT_TRUE(engine.TempDir().empty());
  EXPECT_FALSE(engine.UnicodeFilenames);
  EXPECT_TRUE(engine.OpenCorruptedArchives);
  EXPECT_FALSE(engine.ExtractCorruptedFiles);
  EXPECT_EQ(engine.Options.StorePath, spRelativePath);
  EXPECT_TRUE(engine.Options.Recurse);
  EXPECT_EQ(engine.Options.ShareMode, smShareDenyNone);
  EXPECT_EQ(ShareModeBits(engine.Options.ShareMode), 0x40);
  EXPECT_EQ(engine.Options.OverwriteMode, omAlways);
  EXPECT_TRUE(engine.Options.CreateDirs && engine.Options.ReplaceReadOnly && engine.Options.SetAttributes);
  EXPECT_EQ(engine.Options.SearchAttr, 0x28BFu);
  EXPECT_TRUE(engine.Options.FlushBuffers);
  EXPECT_TRUE(engine.Options.OEMFileNames);

  struct Case { int mode; TZECompressionLevel level; std::uint16_t method; };
  for (const Case c : {Case{0, clNone, 0}, Case{2, clFastest, 8}, Case{4, clNormal, 8},
                       Case{6, clNormal, 8}, Case{7, clMax, 8}, Case{9, clMax, 8}}) {
    engine.SetCompressionMode(c.mode);
    EXPECT_EQ(engine.CompressionLevel(), c.level) << c.mode;
    EXPECT_EQ(engine.CompressionMethod(), c.method) << c.mode;
  }
  engine.SetCompressionLevel(clNormal);
  EXPECT_EQ(engine.CompressionMode(), 6);
  const auto refused = test::ErrorOf<EZEException>([&] { engine.SetCompressionMode(10); });
  ASSERT_TRUE(refused) << "mode 10 accepted";
  EXPECT_EQ(refused->NativeError, 5);
  EXPECT_EQ(engine.CompressionMode(), 6);
}

TEST_F(ZipWrite, OpeningAndAddingFailWithTheirNativeNumbers) {
  auto native = [](const std::function<void()>& action) {
    const auto error = test::ErrorOf<EZEException>(action);
    return error ? static_cast<int>(error->NativeError) : -1;
  };
  TZipEngine engine;
  auto stream = StreamOf("x");
  EXPECT_EQ(native([&] { engine.AddFromStream(u"a", *stream, false, 0, 0, 0x20, 0); }), 13);
  EXPECT_EQ(native([&] { engine.OpenArchive(fmCreate); }), 10);
  engine.SetFileName(scratch.UFile("dir/"));
  EXPECT_EQ(native([&] { engine.OpenArchive(fmCreate); }), 10);
  engine.SetFileName(scratch.UFile("missing.zip"));
  EXPECT_EQ(native([&] { engine.OpenArchive(fmOpenReadWrite); }), 12);
  EXPECT_FALSE(engine.Active());

  // A file that cannot be created: the stream layer's own error.
  engine.SetFileName(scratch.UFile("no/such/dir/a.zip"));
  EXPECT_EQ(test::MessageOf<EFCreateError>([&] { engine.OpenArchive(fmCreate); }),
            u"Cannot create file \"" + scratch.UFile("no/such/dir/a.zip") + u"\". No such file or directory");
}

TEST_F(ZipWrite, ReadOnlyArchiveRefusesUpdates) {
  {
    TZipEngine engine;
    OpenNew(engine);
    Add(engine, u"a.txt", "a");
  }
  TZipEngine engine;
  engine.SetFileName(scratch.UFile("a.zip"));
  engine.OpenArchive(fmOpenRead | fmShareDenyWrite);
  EXPECT_EQ(test::MessageOf<EZEException>([&] { engine.BeginUpdate(); }),
            u"File is open in read-only mode - Native error: 00032");
}

TEST_F(ZipWrite, CopyToBufferStoresTheSliceAndKeepsTheCallersPosition) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  auto source = StreamOf("0123456789");
  source->SetPosition(7);
  {
    TZipEngine engine;
    OpenNew(engine);
    engine.AddFromStream(u"slice", *source, true, 2, 5, 0x20, kStamp);
    engine.AddFromStream(u"whole", *source, true, 4, 0, 0x20, kStamp);
  }
  EXPECT_EQ(source->Position(), 7);
  EXPECT_EQ(PythonListing(Archive()), Line("slice", 0, 8, "23456") + Line("whole", 0, 8, "0123456789"));
}

TEST_F(ZipWrite, TimeAndAttributesAreStored) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  {
    TZipEngine engine;
    OpenNew(engine);
    Add(engine, u"a.txt", "a", 0x21);
    auto stream = StreamOf("b");
    engine.AddFromStream(u"now.txt", *stream, false, 0, 0, 0x80, 0);
  }
  const auto info = test::RunCommand(
      "python3 -c 'import sys, zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist(): print(i.date_time, i.external_attr)\n"
      "' " + test::Quoted(Archive()));
  int year, month, day, hour, minute, second, msec;
  DecodeDateTime(Now(), year, month, day, hour, minute, second, msec);
  EXPECT_EQ(info.output.substr(0, info.output.find('\n')), "(2024, 5, 6, 7, 8, 10) 33");
  EXPECT_NE(info.output.find("(" + std::to_string(year) + ", "), std::string::npos) << info.output;
  EXPECT_NE(info.output.find(") 128\n"), std::string::npos) << info.output;
}

TEST_F(ZipWrite, ArchiveOnACallersStream) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  TMemoryStream archive;
  {
    TZipEngine engine;
    engine.OpenArchive(archive, true);
    EXPECT_EQ(archive.Size(), 22);   // an empty archive at once
    Add(engine, u"a.txt", "alpha");
    Add(engine, u"b.txt", "beta");
  }  // the engine does not free the caller's stream
  test::WriteAll(Archive(), std::string(archive.Memory().begin(), archive.Memory().end()));
  ExpectPeersAccept(Archive());
  EXPECT_EQ(PythonListing(Archive()), Line("a.txt", 0, 8, "alpha") + Line("b.txt", 0, 8, "beta"));
}

TEST_F(ZipWrite, SameNameAddedTwiceKeepsOneEntryWithTheLaterDataAtTheFirstPlace) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  {
    TZipEngine engine;
    OpenNew(engine);
    Add(engine, u"Dir\\A.txt", "first");
    Add(engine, u"b.txt", "b");
    Add(engine, u"dir/a.TXT", "second");
    EXPECT_EQ(engine.Dir().CDir.Count(), 2);
    engine.Options.OverwriteMode = omNever;
    Add(engine, u"DIR/A.TXT", "third");
  }
  ExpectPeersAccept(Archive());
  EXPECT_EQ(PythonListing(Archive()), Line("dir/a.TXT", 0, 8, "second") + Line("b.txt", 0, 8, "b"));
}

TEST_F(ZipWrite, OverwriteByStampComparesDosTimes) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  struct Case { TZEOverwriteMode mode; TDateTime later; bool replaced; };
  const TDateTime earlier = kStamp - 1, later = kStamp + 1;
  for (const Case c : {Case{omIfNewer, later, true}, Case{omIfNewer, earlier, false},
                       Case{omIfOlder, earlier, true}, Case{omIfOlder, later, false},
                       Case{omIfNewer, kStamp, false}}) {
    TZipEngine engine;
    OpenNew(engine);
    Add(engine, u"a.txt", "old");
    engine.Options.OverwriteMode = c.mode;
    auto stream = StreamOf("new");
    engine.AddFromStream(u"a.txt", *stream, false, 0, 0, 0x20, c.later);
    engine.CloseArchive();
    EXPECT_EQ(PythonListing(Archive()), Line("a.txt", 0, 8, c.replaced ? "new" : "old"));
  }
}

// A file that another process shrinks or grows while the engine stores it
// is stored as it was read: a shrunk one with the bytes it still had (all of
// the first block, which was read before the change), a grown one with the
// size it was opened with; its sizes and CRC agree in the local header and
// the central directory, the peers read it whole, and the engine names it
// among the changed sources. The writer, truncate(1), runs from the progress
// hook at the entry's start: with no workers the first block has been read
// by then and nothing after it.
TEST_F(ZipWrite, AFileThatChangesSizeWhileStoredIsStoredAsRead) {
  ZO_SKIP_UNLESS_SHOWN(test::WhyNoPeers());
  for (const TZECompressionLevel level : {clMax, clNone}) {
    const std::int64_t b = DeflateBlockSize(level == clMax ? 9 : 0);
    const struct {
      std::int64_t initial, changed;
    } cases[] = {
        {2 * b + 1, b},     // shrinks to where the next block would begin
        {2 * b, b + 1},     // one byte of a second block left
        {2 * b, b - 1},     // below what was read
        {2 * b, 0},
        {b + 1, b},
        {b - 1, 2 * b},     // grows after its only block was read
        {b, b + 1},
        {b + 1, 2 * b + 1},
    };
    for (const bool compressible : {true, false}) {
      for (const auto& c : cases) {
        SCOPED_TRACE("level " + std::to_string(static_cast<int>(level)) + (compressible ? ", text" : ", noise") + ", " +
                     std::to_string(c.initial) + " -> " + std::to_string(c.changed));
        const std::string source = scratch.File("source.bin");
        const std::string data = compressible ? test::SampleData(static_cast<std::size_t>(c.initial), 3)
                                              : test::NoiseData(static_cast<std::size_t>(c.initial));
        test::WriteAll(source, data);
        TZipEngine engine;
        engine.SetCompressionLevel(level);
        engine.OnFileProgress = [&](TZEBaseArchiver&, const String&, double, TZEProcessOperation,
                                    TZEProgressPhase phase, bool&) {
          if (phase != ppStart) return;
          const test::CommandResult writer =
              test::RunCommand("truncate -s " + std::to_string(c.changed) + " " + test::Quoted(source));
          ASSERT_EQ(writer.status, 0) << writer.output;
        };
        OpenNew(engine);
        engine.AddFromFile(u"f.bin", FromUtf8(source), 0x20, kStamp);
        EXPECT_EQ(engine.ChangedSources().Count, 1);
        EXPECT_EQ(engine.ChangedSources().FirstPath, FromUtf8(source));
        engine.CloseArchive();
        ExpectPeersAccept(Archive());
        // What was read: everything up to the new end when the file
        // shrank, but never less than the first block; the old size when
        // it grew.
        const std::int64_t stored =
            c.changed < c.initial ? std::max(c.changed, std::min(b, c.initial)) : c.initial;
        const std::string expected = data.substr(0, static_cast<std::size_t>(stored));
        TZipEngine reader;
        reader.SetFileName(scratch.UFile("a.zip"));
        reader.OpenArchive(0x20);
        ASSERT_EQ(reader.Dir().CDir.Count(), 1);
        EXPECT_EQ(reader.Dir().CDir[0].UncompressedSize(), static_cast<std::uint64_t>(stored));
        TMemoryStream out;
        reader.ExtractToStream(u"f.bin", out);
        EXPECT_TRUE(std::string(out.Memory().begin(), out.Memory().end()) == expected);
        EXPECT_EQ(PythonListing(Archive()), Line("f.bin", 0, level == clMax ? 8 : 0, expected));
      }
    }
  }
}

// A file that keeps its size while it is stored is no changed source.
TEST_F(ZipWrite, AFileThatKeepsItsSizeIsNoChangedSource) {
  const std::string source = scratch.File("same.bin");
  test::WriteAll(source, test::SampleData(3 << 20, 1));
  TZipEngine engine;
  OpenNew(engine);
  engine.AddFromFile(u"same.bin", FromUtf8(source), 0x20, kStamp);
  EXPECT_EQ(engine.ChangedSources().Count, 0);
  engine.CloseArchive();
}

}  // namespace
}  // namespace zo
