// Storing entries: the commit's loop over the entries that are written again.
//
// Each entry to store goes through three steps. Setting up (on this thread,
// in order): its source is opened and its size taken. Reading (on this
// thread, in order): the source is read block by block, and each block is
// handed to a worker that compresses it (zip/BlockDeflate.h). Writing (on
// this thread, in order): the local header, then each block's compressed
// bytes as they come back, then the header again with the final CRC and
// sizes. An entry's bytes are gathered and written at once when it ends, so
// a small entry costs one write and its header is completed in memory; a
// large one goes out as it grows and has its header written again. Reading
// runs ahead of writing by at most a few blocks' worth of data per worker,
// so while one entry is written the next ones are being compressed, and
// memory stays at a few blocks per worker whatever the entries' sizes.
//
// A failure belongs to the entry it was met in. Everything read ahead for
// later entries is dropped, the archive is cut back to where the failed
// entry started, and the failure decision runs exactly as it would with no
// workers: retry sets that entry up again, ignore goes on after it, abort
// ends the commit. The archive's bytes do not depend on the number of
// workers.
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <optional>

#include "platform/FileSystem.h"
#include "zip/BlockDeflate.h"
#include "zip/WorkerPool.h"
#include "zip/ZipEngine.h"

namespace zo {

namespace {

// Entries set up ahead of the one being written, at most: each may hold an
// open file.
constexpr std::size_t kMaxEntriesAhead = 64;

// An entry's bytes gathered before they are written, at most.
constexpr std::size_t kMaxGathered = 1 << 20;

bool IsStored(const TDirItem& item) {
  return item.Modified && item.Operation != poRename && item.Operation != poChangeAttr &&
         item.Operation != poChangeComment;
}

String SourceNameOf(const TDirItem& item) { return item.HasSrcFile() ? item.SrcFileName() : item.Name; }

}  // namespace

// One entry on its way into the archive, from setting up to its last byte.
struct TPendingEntry {
  int Index = -1;
  bool Copy = false;                 // copied unchanged rather than stored
  bool IsDirectory = false;
  TStream* Source = nullptr;         // the entry's own stream, or File
  std::unique_ptr<TFileStream> File;
  std::int64_t SavedPosition = 0;    // of the entry's own stream, given back afterwards
  std::int64_t Size = 0;
  int Mode = 0;
  std::int64_t Read = 0;             // bytes of the source read and handed on
  bool AllRead = false;
  bool Changed = false;              // a file whose size is not the one it was opened with
  Bytes Window;                      // the last bytes read: the next block's dictionary
  std::deque<std::future<TDeflatedBlock>> Blocks;   // handed on, not yet written
  std::exception_ptr Failure;        // the entry stops there

  // Writing state.
  bool Started = false;
  std::int64_t Start = 0;            // archive position of the local header
  bool LocalZip64 = false;
  Bytes Name;
  Bytes NameExtra;                   // the Unicode path field, behind any Zip64 sizes
  std::uint32_t Crc = 0;
  std::int64_t Written = 0;          // compressed bytes written
  std::int64_t Done = 0;             // uncompressed bytes written

  ~TPendingEntry() {
    // Tasks still running refer to nothing of the entry's; waiting keeps
    // their end inside the entry's life all the same.
    for (std::future<TDeflatedBlock>& block : Blocks) {
      if (block.valid()) block.wait();
    }
  }
};

// What writing the next piece of an entry came to: more is to come, the
// entry is complete, a progress hook cancelled, or the entry failed.
enum class TWriteStep : std::uint8_t { wsMore, wsFinished, wsCancelled, wsFailed };
using enum TWriteStep;

struct TWriteResult {
  TWriteStep Step = wsMore;
  std::optional<EZEException> Failure;   // with wsFailed
};

// What the commit's loop may do to the engine beyond its public face: write
// to the archive (with the engine's disk-full retries), copy an entry that
// stays as it was, and record the sources that changed size.
struct TStorerAccess {
  std::function<void(const void* data, std::int64_t count)> WriteToArchive;
  std::function<void(int index)> CopyItemUnchanged;
  TZEBaseArchiver::TZEChangedSources& ChangedSources;
};

// Runs the commit's loop; see the top of this file.
class TEntryStorer {
 public:
  TEntryStorer(TZEBaseArchiver& engine, TStorerAccess access, TWorkerPool& pool, TDeflaterShelf& deflaters)
      : FEngine(engine), FAccess(std::move(access)), FPool(pool), FDeflaters(deflaters),
        FBudget(pool.Threads() * kLargestDeflateBlock) {}

  bool Run(int first) {
    FNext = first;
    if (FEngine.OnWorkProgress) CountWork(first);
    for (;;) {
      Fill();
      if (FPending.empty()) return true;
      TPendingEntry& entry = FPending.front();
      if (entry.Copy) {
        FAccess.CopyItemUnchanged(entry.Index);
        FPending.pop_front();
        continue;
      }
      const TWriteResult result = WriteNext(entry);
      switch (result.Step) {
        case wsMore:
          break;
        case wsFinished:
          FPending.pop_front();
          break;
        case wsCancelled:   // by a progress hook
          Drop();
          return false;
        case wsFailed:
          if (!Decide(*result.Failure)) return false;
          break;
      }
    }
  }

 private:
  TDirItem& Item(const TPendingEntry& entry) { return FEngine.Dir().CDir[entry.Index]; }

  // --- Progress --------------------------------------------------------------------

  // What there is to store, for the progress report: the entries with data
  // and their sizes (a file's as it is now).
  void CountWork(int first) {
    for (int i = first; i < Count(); ++i) {
      const TDirItem& item = FEngine.Dir().CDir[i];
      if (!IsStored(item) || (item.externalAttr & faDirectory) != 0) continue;
      ++FWork.FilesTotal;
      if (item.Stream() != nullptr) {
        FWork.BytesTotal += item.Stream()->Size();
      } else if (const std::optional<std::int64_t> size = FileGetSize(item.SrcFileName())) {
        FWork.BytesTotal += *size;
      }
    }
  }

  void ReportWork() {
    if (FEngine.OnWorkProgress) FEngine.OnWorkProgress(FEngine, poAdd, FWork);
  }
  int Count() const { return FEngine.Dir().CDir.Count(); }

  // --- Reading ahead -----------------------------------------------------------

  // Sets up entries and hands on their blocks, in order, until the limit of
  // blocks in flight is reached or everything has been read.
  void Fill() {
    for (;;) {
      if (!FPending.empty() && !FPending.back().AllRead) {
        if (!RoomForBlock()) return;
        ReadBlock(FPending.back());
        continue;
      }
      if (FNext >= Count() || FPending.size() >= kMaxEntriesAhead || (!RoomForBlock() && !FPending.empty())) {
        return;
      }
      SetUp(FNext++);
    }
  }

  // Whether another block may be handed on: with workers, while the data in
  // their hands stays within one of the largest blocks each (many small
  // files' blocks keep every worker busy; a large file's stay one a worker,
  // and one more read ahead); with none, one at a time. Each block in hand
  // holds its input and its output, so memory stays at a few MiB a worker.
  bool RoomForBlock() const { return FInFlight == 0 || FInFlightBytes < FBudget; }

  void SetUp(int index) {
    FPending.emplace_back();
    TPendingEntry& entry = FPending.back();
    entry.Index = index;
    TDirItem& item = Item(entry);
    if (!IsStored(item)) {
      entry.Copy = true;
      entry.AllRead = true;
      return;
    }
    entry.IsDirectory = (item.externalAttr & faDirectory) != 0;
    entry.Mode = item.compMethod == kZipMethodDeflate ? item.CompressionMode : 0;
    try {
      OpenSource(entry, item);
    } catch (const std::exception&) {
      // Raised when the entry comes to be written, so that failures meet
      // their decisions in the entries' order.
      entry.Failure = std::current_exception();
      entry.AllRead = true;
      return;
    }
    entry.AllRead = entry.Size == 0;
  }

  // The entry's stream, or the file it names (native 61 for a path too long
  // to open, 33 for one that cannot be opened, or the stream layer's own
  // error where that failure is the caller's). A directory has no source.
  void OpenSource(TPendingEntry& entry, const TDirItem& item) {
    if (entry.IsDirectory) return;
    if (item.Stream() != nullptr) {
      entry.Source = item.Stream();
      entry.SavedPosition = item.Stream()->Position();
    } else if (item.HasSrcFile()) {
      const String source = item.SrcFileName();
      // A source path longer than the system opens is refused up front with
      // its own message rather than as an open failure.
      if (IsPathTooLong(source)) throw EZEException(kZENativeNameTooLong, {source}, &FEngine);
      try {
        entry.File = std::make_unique<TFileStream>(source, fmOpenRead | ShareModeBits(FEngine.Options.ShareMode));
      } catch (const EFileError&) {
        if (item.OpenFailureIsCallers) throw;
        throw EZEException(kZENativeCannotOpenSource, {source}, &FEngine);
      }
      entry.Source = entry.File.get();
    }
    if (entry.Source == nullptr) return;
    entry.Size = entry.Source->Size();
    const bool freshlyOpened = entry.File != nullptr;
    // Known before a byte is read: a source that needs Zip64 sizes when they
    // may not be written.
    if (static_cast<std::uint64_t>(entry.Size) >= kZip64Marker32 && FEngine.Zip64Mode() == zmDisabled)
      throw EZEException(kZENativeZip64Needed, {SourceNameOf(item)}, &FEngine);
    // Read from the start, whatever the position of a caller's stream was.
    if (!freshlyOpened) entry.Source->SetPosition(0);
  }

  // Reads the entry's next block and hands it to a worker. A file on disk is
  // stored as it is read: should it end before the size it was opened with
  // (it shrank), the entry ends there, and should it hold more at the end
  // (it grew), the entry keeps the size it was opened with; either way it is
  // told among the changed sources. A caller's stream that ends before its
  // size is native 34, after the blocks that were read.
  void ReadBlock(TPendingEntry& entry) {
    const std::int64_t blockSize = DeflateBlockSize(entry.Mode);
    const std::int64_t want = std::min(blockSize, entry.Size - entry.Read);
    auto input = std::make_shared<Bytes>(static_cast<std::size_t>(want));
    std::int64_t got = 0;
    while (got < want) {
      const std::int64_t n = entry.Source->Read(input->data() + got, want - got);
      if (n <= 0) break;
      got += n;
    }
    const bool file = entry.File != nullptr;
    if (got < want && file) {
      entry.Changed = true;
      entry.Size = entry.Read + got;   // what the entry will hold
    }
    if (got == 0) {
      if (file) {
        // The file ended where a block would have begun: a deflate stream
        // still needs its final block, here an empty one.
        if (entry.Mode != 0 && entry.Read > 0) Submit(entry, std::make_shared<Bytes>(), true);
        entry.AllRead = true;
        return;
      }
      entry.Failure = std::make_exception_ptr(EZEException(
          kZENativeBadSourceSize, {static_cast<long long>(entry.Size), static_cast<long long>(entry.Read)}, &FEngine));
      entry.AllRead = true;
      return;
    }
    input->resize(static_cast<std::size_t>(got));
    entry.Read += got;
    const bool last = entry.Read >= entry.Size || got < want;
    Submit(entry, std::move(input), last);
    if (got < want && entry.Read < entry.Size) {
      entry.Failure = std::make_exception_ptr(EZEException(
          kZENativeBadSourceSize, {static_cast<long long>(entry.Size), static_cast<long long>(entry.Read)}, &FEngine));
    }
    if (last || entry.Failure) entry.AllRead = true;
  }

  // Hands the entry's next block, input, to a worker; the entry's window
  // moves on past it.
  void Submit(TPendingEntry& entry, std::shared_ptr<Bytes> input, bool last) {
    const std::int64_t got = static_cast<std::int64_t>(input->size());
    auto dictionary = std::make_shared<Bytes>(std::move(entry.Window));
    const std::size_t keep = std::min<std::size_t>(input->size(), kDeflateWindow);
    entry.Window.assign(input->end() - static_cast<std::ptrdiff_t>(keep), input->end());
    if (keep < kDeflateWindow && !dictionary->empty()) {
      // A block shorter than the window: the window reaches into the one before.
      const std::size_t from = std::min(dictionary->size(), kDeflateWindow - keep);
      entry.Window.insert(entry.Window.begin(), dictionary->end() - static_cast<std::ptrdiff_t>(from), dictionary->end());
    }
    const int mode = entry.Mode;
    entry.Blocks.push_back(FPool.Submit([&deflaters = FDeflaters, input, dictionary, mode, last] {
      return DeflateBlock(deflaters, input->data(), input->size(), dictionary->data(), dictionary->size(), mode, last);
    }));
    ++FInFlight;
    FInFlightBytes += got;
  }

  // --- Writing -------------------------------------------------------------------

  // Writes what is next of the front entry: its header, or its next block,
  // or its end; says which came of it, an engine error of the entry too.
  TWriteResult WriteNext(TPendingEntry& entry) {
    try {
      return {WritePiece(entry), std::nullopt};
    } catch (const EZEException& e) {
      return {wsFailed, e};
    }
  }

  TWriteStep WritePiece(TPendingEntry& entry) {
    if (!entry.Started) return WriteHeader(entry) ? wsMore : wsCancelled;
    if (!entry.Blocks.empty()) {
      TDeflatedBlock block = entry.Blocks.front().get();
      entry.Blocks.pop_front();
      --FInFlight;
      FInFlightBytes -= block.Size;
      Gather(block.Data.data(), block.Data.size());
      entry.Crc = entry.Done == 0 ? block.Crc : CombineCrc32(entry.Crc, block.Crc, block.Size);
      entry.Written += static_cast<std::int64_t>(block.Data.size());
      entry.Done += block.Size;
      FWork.BytesDone += block.Size;
      ReportWork();
      const double percent = 100.0 * static_cast<double>(entry.Done) / static_cast<double>(entry.Size);
      return Progress(entry, ppProcess, percent) ? wsMore : wsCancelled;
    }
    if (entry.Failure) std::rethrow_exception(entry.Failure);
    if (!entry.AllRead) return wsMore;   // more blocks to come
    Finish(entry);
    if (!entry.IsDirectory) {
      ++FWork.FilesDone;
      ReportWork();
    }
    return wsFinished;
  }

  bool Progress(const TPendingEntry& entry, TZEProgressPhase phase, double percent) {
    if (!FEngine.OnFileProgress) return true;
    bool cancel = false;
    const TDirItem& item = Item(entry);
    FEngine.OnFileProgress(FEngine, SourceNameOf(item), percent, item.Operation, phase, cancel);
    return !cancel;
  }

  // The local header, with the CRC placeholder and, when the entry needs
  // them, the Zip64 sizes behind the name.
  bool WriteHeader(TPendingEntry& entry) {
    if (entry.Failure && entry.Blocks.empty() && entry.Read == 0) std::rethrow_exception(entry.Failure);
    TDirItem& item = Item(entry);
    TStream& archive = *FEngine.ArchiveStream();
    entry.Name = EncodeEntryName(item.Name, FEngine.Options.OEMFileNames, item.genPurposeFlag);
    if (entry.Name.size() > 0xFFFF) throw EZEException(kZENativeNameTooLong, {item.Name}, &FEngine);
    entry.NameExtra = UnicodePathExtra(item.Name, entry.Name);

    entry.Start = archive.Position();
    FGatheredFrom = entry.Start;
    entry.Started = true;
    const bool always = FEngine.Zip64Mode() == zmAlways;
    item.bHugeFile = false;
    item.ResetZip64ExtInfo();
    item.SetLocalHeaderOffset(static_cast<std::uint64_t>(entry.Start), always);
    // Sizes go into a Zip64 extra field of the local header when the source
    // is that large (or always, when asked); both size fields then hold the
    // marker, as readers expect.
    entry.LocalZip64 = static_cast<std::uint64_t>(entry.Size) >= kZip64Marker32 || always;
    if (entry.LocalZip64) item.bHugeFile = true;
    const std::uint16_t version = item.bHugeFile ? kZipVersionZip64
                                                 : (FEngine.Options.OEMFileNames ? kZipVersion20 : kZipVersionAnsiNames);
    item.extractVersion = version;
    item.versionMadeBy = version;
    if (item.bHugeFile && FEngine.Zip64Mode() == zmDisabled)
      throw EZEException(kZENativeZip64Needed, {SourceNameOf(item)}, &FEngine);

    std::uint8_t head[kZipLocalHeaderSize + kZip64LocalExtraSize] = {};
    LocalHeaderOf(item, entry, item.crc32, 0, entry.LocalZip64 ? kZip64Marker32 : static_cast<std::uint32_t>(entry.Size))
        .Write(head);
    Gather(head, kZipLocalHeaderSize);
    Gather(entry.Name.data(), entry.Name.size());
    if (entry.LocalZip64) Gather(head + kZipLocalHeaderSize, kZip64LocalExtraSize);
    Gather(entry.NameExtra.data(), entry.NameExtra.size());
    if (entry.IsDirectory) {
      item.crc32 = 0;
      item.compSize = 0;
      item.unCompSize = 0;
      return true;
    }
    return Progress(entry, ppStart, 0);
  }

  TZELocalFileHeader LocalHeaderOf(const TDirItem& item, const TPendingEntry& entry, std::uint32_t crc,
                                   std::uint32_t compSize, std::uint32_t unCompSize) const {
    TZELocalFileHeader local;
    local.extractVersion = item.extractVersion;
    local.genPurposeFlag = item.genPurposeFlag;
    local.compMethod = item.compMethod;
    local.lastModTime = item.lastModTime;
    local.lastModDate = item.lastModDate;
    local.crc32 = crc;
    local.compSize = entry.LocalZip64 ? kZip64Marker32 : compSize;
    local.unCompSize = unCompSize;
    local.nameLength = static_cast<std::uint16_t>(entry.Name.size());
    local.extraLength =
        static_cast<std::uint16_t>((entry.LocalZip64 ? kZip64LocalExtraSize : 0) + entry.NameExtra.size());
    return local;
  }

  // The final CRC and sizes, into the central fields and the local header.
  void Finish(TPendingEntry& entry) {
    TDirItem& item = Item(entry);
    if (entry.IsDirectory) {
      WriteGathered();
      return;
    }
    TStream& archive = *FEngine.ArchiveStream();
    if (static_cast<std::uint64_t>(entry.Written) >= kZip64Marker32 &&
        (FEngine.Zip64Mode() == zmDisabled || !entry.LocalZip64))
      throw EZEException(kZENativeZip64CompSize, {SourceNameOf(item)}, &FEngine);
    if (entry.Size == 0) {
      // An empty source is stored, whatever the level asked for.
      item.compMethod = kZipMethodStored;
      item.CompressionMethod = kZipMethodStored;
    }
    item.crc32 = entry.Crc;
    item.SetUncompressedSize(static_cast<std::uint64_t>(entry.Size), entry.LocalZip64);
    item.SetCompressedSize(static_cast<std::uint64_t>(entry.Written), entry.LocalZip64);

    std::uint8_t head[kZipLocalHeaderSize + kZip64LocalExtraSize] = {};
    const TZELocalFileHeader local = LocalHeaderOf(
        item, entry, entry.Crc, item.compSize, entry.LocalZip64 ? kZip64Marker32 : item.unCompSize);
    local.Write(head);
    PutLE16(head + kZipLocalHeaderSize, kZip64ExtraId);
    PutLE16(head + kZipLocalHeaderSize + 2, 16);
    PutLE64(head + kZipLocalHeaderSize + 4, static_cast<std::uint64_t>(entry.Size));
    PutLE64(head + kZipLocalHeaderSize + 12, static_cast<std::uint64_t>(entry.Written));
    const std::size_t extraAt = kZipLocalHeaderSize + entry.Name.size();
    if (FGatheredFrom == entry.Start) {
      // The header has not left memory: completed there, written once.
      std::memcpy(FGathered.data(), head, kZipLocalHeaderSize);
      if (entry.LocalZip64) std::memcpy(FGathered.data() + extraAt, head + kZipLocalHeaderSize, kZip64LocalExtraSize);
      WriteGathered();
    } else {
      WriteGathered();
      const std::int64_t end = archive.Position();
      archive.SetPosition(entry.Start);
      FAccess.WriteToArchive(head, kZipLocalHeaderSize);
      if (entry.LocalZip64) {
        archive.SetPosition(entry.Start + static_cast<std::int64_t>(extraAt));
        FAccess.WriteToArchive(head + kZipLocalHeaderSize, kZip64LocalExtraSize);
      }
      archive.SetPosition(end);
    }
    // A file that grew, or changed its size again, since it was read shows
    // here, while it is still open.
    if (entry.File != nullptr && entry.File->Size() != entry.Size) entry.Changed = true;
    if (entry.Changed) {
      TZEBaseArchiver::TZEChangedSources& changed = FAccess.ChangedSources;
      if (changed.Count++ == 0) changed.FirstPath = SourceNameOf(item);
    }
    Release(entry);
    Progress(entry, ppEnd, 100);
    // The source is no longer needed: the engine's own copy goes now.
    item.ReleaseStream();
  }

  // --- Gathering the front entry's bytes ----------------------------------------

  // Adds to the front entry's bytes. What would take them to kMaxGathered
  // goes out at once, after what was gathered before it, without a copy.
  void Gather(const void* data, std::size_t size) {
    if (FGathered.size() + size < kMaxGathered) {
      if (FGatheredFrom < 0) FGatheredFrom = FEngine.ArchiveStream()->Position();
      const auto* bytes = static_cast<const std::uint8_t*>(data);
      FGathered.insert(FGathered.end(), bytes, bytes + size);
      return;
    }
    WriteGathered();
    FGatheredFrom = -1;   // what follows is no longer in memory
    FAccess.WriteToArchive(data, static_cast<std::int64_t>(size));
  }

  // Writes what was gathered. Only the front entry's bytes are ever held, so
  // a failure here is that entry's (and its decision drops them).
  void WriteGathered() {
    if (FGathered.empty()) return;
    FAccess.WriteToArchive(FGathered.data(), static_cast<std::int64_t>(FGathered.size()));
    DropGathered();   // the buffer's room is kept for the next entry
  }

  // Forgets what was gathered: the entry it belongs to is written again, or
  // not at all.
  void DropGathered() {
    FGathered.clear();
    FGatheredFrom = -1;
  }

  // Gives the entry's own stream its position back and closes a file.
  void Release(TPendingEntry& entry) {
    if (entry.Source != nullptr && entry.File == nullptr) entry.Source->SetPosition(entry.SavedPosition);
    entry.Source = nullptr;
    entry.File.reset();
  }

  // --- Failures ------------------------------------------------------------------

  // Drops everything set up or read ahead; the entries will be set up again
  // from FNext on.
  void Drop() {
    for (TPendingEntry& entry : FPending) Release(entry);
    FPending.clear();
    FInFlight = 0;
    FInFlightBytes = 0;
    DropGathered();
  }

  // The failure decision for the front entry's engine error. False when
  // aborted.
  bool Decide(const EZEException& e) {
    const EZEException failure = e;   // e may live in the entry dropped below
    TPendingEntry& entry = FPending.front();
    const int index = entry.Index;
    FWork.BytesDone -= entry.Done;   // written again, or not at all
    TStream& archive = *FEngine.ArchiveStream();
    // Whatever part of the entry was written goes again.
    if (entry.Started) {
      archive.SetSize(entry.Start);
      archive.SetPosition(entry.Start);
    }
    Drop();
    TZEDirArray& dir = FEngine.Dir().CDir;
    const TZEDirArray& old = FEngine.Dir().RBCDir;
    const TZEAction action = FEngine.ProcessFileFailure(SourceNameOf(dir[index]), dir[index].Operation, failure);
    if (action == fxaAbort) return false;
    FNext = index;
    if (action == fxaRetry) return true;
    // Ignore: a new entry leaves the directory; a replaced one keeps its old
    // content. Entries are only ever appended, so up to the old count the
    // indices still match the old directory.
    const bool hadOld = index < old.Count() && TZEDirArray::NameKey(old[index].Name) == TZEDirArray::NameKey(dir[index].Name);
    --FWork.FilesTotal;
    if (hadOld) {
      dir[index] = old[index];
      FAccess.CopyItemUnchanged(index);
      FNext = index + 1;
    } else {
      dir.Delete(index);
    }
    return true;
  }

  TZEBaseArchiver& FEngine;
  const TStorerAccess FAccess;
  TWorkerPool& FPool;
  TDeflaterShelf& FDeflaters;
  const std::int64_t FBudget;  // bytes handed on and not yet written, about at most
  int FInFlight = 0;           // blocks handed on and not yet written
  std::int64_t FInFlightBytes = 0;
  Bytes FGathered;             // the front entry's bytes not yet written
  std::int64_t FGatheredFrom = -1;   // their archive position
  int FNext = 0;               // the next entry to set up
  TZEWorkProgress FWork;
  std::deque<TPendingEntry> FPending;
};

bool TZEBaseArchiver::RewriteEntries(int first, TStream* tail, std::int64_t tailStart) {
  // Workers pay off only when there may be more than one block to compress:
  // several entries, a file (of a size not known yet) or a large stream.
  int blocks = 0;
  for (int i = first; i < FDir.CDir.Count() && blocks < 2; ++i) {
    const TDirItem& item = FDir.CDir[i];
    if (!IsStored(item) || (item.externalAttr & faDirectory) != 0) continue;
    const bool large = item.Stream() == nullptr || item.Stream()->Size() > DeflateBlockSize(item.CompressionMode);
    blocks += large ? 2 : 1;
  }
  // The shelf outlives the pool: the pool's end runs what is still queued.
  TDeflaterShelf deflaters;
  TWorkerPool pool(blocks > 1 ? FThreadCount : 0);
  TStorerAccess access{
      .WriteToArchive = [this](const void* data, std::int64_t count) { WriteToArchive(data, count); },
      .CopyItemUnchanged = [this, tail, tailStart](int index) { CopyItemUnchanged(index, tail, tailStart); },
      .ChangedSources = FChangedSources,
  };
  TEntryStorer storer(*this, std::move(access), pool, deflaters);
  return storer.Run(first);
}

}  // namespace zo
