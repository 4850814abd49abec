// The commit of an update transaction.
//
// Entries before the first changed one stay where they are. From there on
// every entry is written again: a changed one is stored (compressed anew),
// an unchanged one copied byte for byte from where it sat. What the archive
// held from the rewrite position on is kept aside first (in a temporary file
// when entries must be copied back from it, in memory when it is only the
// old central directory), so that a commit that fails or is aborted puts the
// archive back byte for byte.
#include <algorithm>

#include "core/Exception.h"
#include "core/Format.h"
#include "platform/FileSystem.h"
#include "platform/TempFile.h"
#include "zip/ZipEngine.h"

namespace zo {

namespace {

// A temporary file deleted on every way out, unless it was kept: then it is
// the only copy of what the archive lost, and stays for the user.
class TTempFile {
 public:
  explicit TTempFile(const String& dir) {
    int error = 0;
    FPath = CreateTempFile(dir, u"FC", &error);
    if (FPath.empty()) {
      const String where = (dir.empty() ? TempDirectory() : dir) + u"/FC";
      RaiseCreateError(where, error);
    }
    FStream = std::make_unique<TFileStream>(FPath, fmOpenReadWrite | fmShareExclusive);
  }
  ~TTempFile() {
    FStream.reset();
    if (!FKept) DeleteFile(FPath);
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;

  TStream& Stream() { return *FStream; }
  const String& Path() const { return FPath; }
  void Keep() { FKept = true; }

 private:
  String FPath;
  std::unique_ptr<TFileStream> FStream;
  bool FKept = false;
};

std::int64_t OffsetOf(const TDirItem& item) { return static_cast<std::int64_t>(item.LocalHeaderOffset()); }

// The byte length of an entry as it sits in the archive: local header, name,
// extra field, data and, when the entry has one, its data descriptor.
std::int64_t StoredLength(TStream& source, std::int64_t headerPos, const TDirItem& item) {
  std::uint8_t raw[kZipLocalHeaderSize];
  source.SetPosition(headerPos);
  source.ReadBuffer(raw, sizeof raw);
  TZELocalFileHeader header;
  header.Read(raw);
  if (header.signature != kZipLocalHeaderSignature) throw EZEException(kZENativeInvalidArchive);
  std::int64_t length = static_cast<std::int64_t>(kZipLocalHeaderSize) + header.nameLength +
                        header.extraLength + static_cast<std::int64_t>(item.CompressedSize());
  if ((header.genPurposeFlag & kZipFlagDataDescriptor) != 0) {
    // CRC and sizes follow the data, with or without their signature.
    std::uint8_t sig[4] = {};
    source.SetPosition(headerPos + length);
    const bool FSigned = source.Read(sig, 4) == 4 && GetLE32(sig) == kZipDataDescriptorSignature;
    length += (FSigned ? 4 : 0) + 4 + (item.bHugeFile ? 16 : 8);
  }
  return length;
}

// Copies count bytes of source from position to the current position of
// target, a megabyte at a time.
void CopyRange(TStream& source, std::int64_t position, TStream& target, std::int64_t count) {
  constexpr std::int64_t kChunk = 1 << 20;
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(std::min(count, kChunk)));
  source.SetPosition(position);
  while (count > 0) {
    const std::int64_t n = std::min(count, kChunk);
    source.ReadBuffer(buffer.data(), n);
    target.WriteBuffer(buffer.data(), n);
    count -= n;
  }
}

// The first entry that differs from the archive on disk, or the end of the
// shorter list.
int FirstChangedIndex(const TZEDirArray& dir, const TZEDirArray& old) {
  const int common = std::min(dir.Count(), old.Count());
  for (int i = 0; i < common; ++i) {
    if (dir[i].Modified || dir[i].Name != old[i].Name) return i;
  }
  return common;
}

// Where rewriting starts: every entry from First on (in directory order) is
// written again, and the archive's bytes from Position on are replaced.
struct TRewriteStart {
  int First = 0;
  std::int64_t Position = 0;
};

// Entries before First are kept where they are, so each must lie wholly
// before Position. The central directory need not list entries in the order
// the file holds them: an entry listed before the first changed one may lie
// after it, or run into it. Such an entry is rewritten too, rather than cut
// away.
TRewriteStart FindRewriteStart(TStream& stream, const TZEDirManager& manager, int firstChanged) {
  const TZEDirArray& old = manager.RBCDir;
  TRewriteStart start{firstChanged, 0};
  if (start.First < old.Count()) {
    start.Position = OffsetOf(old[start.First]);
    for (int i = start.First + 1; i < old.Count(); ++i) start.Position = std::min(start.Position, OffsetOf(old[i]));
  } else {
    start.Position = old.Count() == 0 ? manager.StubSize : manager.CentralDirOffset;
  }
  for (;;) {
    for (int j = 0; j < start.First; ++j) {
      if (OffsetOf(old[j]) >= start.Position) {
        start.First = j;
        break;
      }
    }
    // Of the entries kept in place only the last one in the file can reach
    // past the position (unless entries overlap, which that one shows too).
    int last = -1;
    for (int j = 0; j < start.First; ++j) {
      if (last < 0 || OffsetOf(old[j]) > OffsetOf(old[last])) last = j;
    }
    if (last < 0) break;
    std::int64_t end = 0;
    try {
      end = OffsetOf(old[last]) + StoredLength(stream, OffsetOf(old[last]), old[last]);
    } catch (const Exception&) {
      break;   // no readable entry there: copying it would fail the same way
    }
    if (end <= start.Position) break;
    start.Position = OffsetOf(old[last]);
    start.First = std::min(start.First, last);
  }
  start.Position = std::clamp<std::int64_t>(start.Position, 0, stream.Size());
  return start;
}

// What the archive held from a position on, kept until the commit is done
// and put back when it is not.
class TArchiveBackup {
 public:
  // entriesFollow: entries are to be copied back from the kept bytes, so
  // they go into a temporary file; otherwise only the old central directory
  // and end records follow the position, and memory holds them.
  TArchiveBackup(TStream& archive, std::int64_t from, bool entriesFollow, const String& tempDir)
      : FArchive(archive), FFrom(from), FSize(archive.Size()) {
    if (entriesFollow) {
      FTail = std::make_unique<TTempFile>(tempDir);
      CopyRange(archive, from, FTail->Stream(), FSize - from);
    } else {
      FEnd.resize(static_cast<std::size_t>(FSize - from));
      archive.SetPosition(from);
      archive.ReadBuffer(FEnd.data(), static_cast<std::int64_t>(FEnd.size()));
    }
    FTempDir = tempDir;
  }

  // The kept bytes, from where they started in the archive; nullptr when
  // they are held in memory.
  TStream* Tail() { return FTail ? &FTail->Stream() : nullptr; }
  std::int64_t From() const { return FFrom; }

  // Puts the archive back as it was. Should that fail, the kept bytes are
  // the only copy of the archive's end: they stay in a file (the temporary
  // tail, or one written now), and the error names it.
  void Restore() {
    try {
      FArchive.SetSize(FFrom);
      FArchive.SetPosition(FFrom);
      if (FTail) {
        CopyRange(FTail->Stream(), 0, FArchive, FSize - FFrom);
      } else {
        FArchive.WriteBuffer(FEnd.data(), static_cast<std::int64_t>(FEnd.size()));
      }
    } catch (const std::exception&) {
      String kept;
      if (FTail) {
        FTail->Keep();
        kept = FTail->Path();
      } else {
        try {
          TTempFile copy(FTempDir);
          copy.Stream().WriteBuffer(FEnd.data(), static_cast<std::int64_t>(FEnd.size()));
          copy.Keep();
          kept = copy.Path();
        } catch (const std::exception&) {
          throw EInOutError(Format(u"The archive could not be put back after a failed update, and its "
                                   u"original bytes from offset %d on could not be saved",
                                   {static_cast<long long>(FFrom)}));
        }
      }
      throw EInOutError(Format(u"The archive could not be put back after a failed update. Its original "
                               u"bytes from offset %d on are kept in \"%s\"",
                               {static_cast<long long>(FFrom), kept}));
    }
  }

 private:
  TStream& FArchive;
  std::int64_t FFrom;
  std::int64_t FSize;
  std::unique_ptr<TTempFile> FTail;
  Bytes FEnd;
  String FTempDir;
};

// What the directory's end looked like before the commit.
struct TDirEndState {
  TZEZipCentralDirEnd end;
  TZEZip64CentralDirEnd zip64End;
  TZEZip64CentralDirEndLocator locator;
  std::int64_t centralDirOffset = 0;
  bool zip64 = false;
};

TDirEndState SaveDirEnd(const TZEDirManager& dir) {
  return {dir.CentralDirEnd, dir.Zip64CentralDirEnd, dir.Zip64CentralDirEndLocator, dir.CentralDirOffset,
          dir.FZip64};
}

void RestoreDirEnd(TZEDirManager& dir, const TDirEndState& state) {
  dir.CentralDirEnd = state.end;
  dir.Zip64CentralDirEnd = state.zip64End;
  dir.Zip64CentralDirEndLocator = state.locator;
  dir.CentralDirOffset = state.centralDirOffset;
  dir.FZip64 = state.zip64;
}

}  // namespace

// Copies entry index, unchanged, from where it sat before the commit (in the
// temporary tail when one was made and the entry lay in it, else in the
// archive itself, before the rewrite position) to the archive's current
// position, and records its new offset.
void TZEBaseArchiver::CopyItemUnchanged(int index, TStream* tail, std::int64_t tailStart) {
  TDirItem& item = FDir.CDir[index];
  const std::int64_t oldOffset = OffsetOf(item);
  const bool fromTail = tail != nullptr && oldOffset >= tailStart;
  TStream& source = fromTail ? *tail : *FStream;
  const std::int64_t sourcePos = fromTail ? oldOffset - tailStart : oldOffset;
  const std::int64_t target = FStream->Position();

  const std::int64_t length = StoredLength(source, sourcePos, item);
  FStream->SetPosition(target);
  if (FZip64Mode == zmDisabled && static_cast<std::uint64_t>(target) >= kZip64Marker32)
    throw EZEException(kZENativeZip64Needed, {item.Name}, this);
  // An entry whose offset was in its Zip64 block keeps it there.
  item.SetLocalHeaderOffset(static_cast<std::uint64_t>(target), item.relOffsetLH == kZip64Marker32);
  CopyRange(source, sourcePos, *FStream, length);
  FStream->SetPosition(target + length);
}

bool TZEBaseArchiver::Commit() {
  FUpdateCount = 0;
  TStream& stream = *FStream;
  const TRewriteStart start = FindRewriteStart(stream, FDir, FirstChangedIndex(FDir.CDir, FDir.RBCDir));
  const TDirEndState endState = SaveDirEnd(FDir);
  std::unique_ptr<TArchiveBackup> backup;
  auto rollBack = [&] {
    FDir.CDir = FDir.RBCDir;
    RestoreDirEnd(FDir, endState);
    if (backup) backup->Restore();   // nothing was touched before the backup existed
  };

  bool committed = false;
  try {
    backup = std::make_unique<TArchiveBackup>(stream, start.Position, start.First < FDir.RBCDir.Count(), FTempDir);
    stream.SetSize(start.Position);
    stream.SetPosition(start.Position);
    committed = RewriteEntries(start.First, backup->Tail(), backup->From());
    if (committed) FDir.SaveDir(true, stream, DirSettings());
  } catch (...) {
    rollBack();
    throw;
  }
  if (!committed) {
    rollBack();
    return false;
  }
  for (int i = 0; i < FDir.CDir.Count(); ++i) {
    FDir.CDir[i].ReleaseStream();
  }
  if (Options.FlushBuffers) {
    if (auto* file = dynamic_cast<TFileStream*>(FStream)) file->Flush();
  }
  return true;
}

}  // namespace zo
