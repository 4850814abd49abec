// Extracting entries to files below a destination directory (ExtractFiles):
// the plan of each entry, the directories of a pass, and the pass itself,
// which may write files on worker threads.
//
// Extraction never writes outside the destination: names that are absolute,
// carry a drive, open with "//" or climb with ".." are refused, and every
// directory below the destination is entered through its handle without ever
// following a symbolic link. A file is written under a temporary name beside
// its target and takes the target's name only when its data came out whole
// and every entry before it is settled, so a file that was there (or a link
// or hard link that sat there) is replaced, never written through or
// changed, and a damaged entry leaves nothing behind.

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <deque>
#include <exception>
#include <future>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "core/StringUtils.h"
#include "platform/FileSystem.h"
#include "platform/Utf.h"
#include "zip/WorkerPool.h"
#include "zip/ZipCollect.h"
#include "zip/ZipEngine.h"
#include "zip/ZipEntryData.h"
#include "zip/ZipReadSupport.h"

namespace zo {

namespace {

// The file an entry is extracted into: a new file (TDirHandle::CreateFile or
// CreateUniqueFile), written from the start to the end.
class TargetFile : public TStream {
 public:
  TargetFile(TFileHandle file, const String& shownPath) : FFile(std::move(file)), FPath(shownPath) {}
  TFileHandle& File() { return FFile; }

  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* buffer, std::int64_t count) override {
    std::int64_t moved = 0;
    const int error = FFile.Write(buffer, count, moved);
    if (error != 0 || moved < count) {
      throw EZERefused(kZENativeWriteError, Format(u"Cannot write file \"%s\". %s",
                                                 {FPath, SystemErrorText(error != 0 ? error : ENOSPC)}));
    }
    FSize += moved;
    return moved;
  }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return FSize; }
  void SetSize(std::int64_t) override {}
  std::int64_t Size() override { return FSize; }

 private:
  TFileHandle FFile;
  String FPath;
  std::int64_t FSize = 0;
};


// The elements of a '/'-separated name, without empty and "." ones.
std::vector<String> PathElements(StringView name) {
  std::vector<String> elements;
  std::size_t start = 0;
  while (start <= name.size()) {
    const std::size_t end = std::min(name.find(u'/', start), name.size());
    const StringView element = name.substr(start, end - start);
    if (!element.empty() && element != u".") elements.emplace_back(element);
    start = end + 1;
  }
  return elements;
}

// --- The plan of one entry ----------------------------------------------------------

enum class TPlanKind : std::uint8_t { pkNothing, pkDirectory, pkFile };
using enum TPlanKind;

// What one entry's extraction makes, worked out from its name and
// attributes alone (as the extract hook left them): nothing is looked at on
// disk yet. The names are checked: none leads outside the destination.
struct TExtractionPlan {
  TPlanKind Kind = pkNothing;    // pkNothing: the destination itself, or a directory not made
  std::vector<String> Elements;  // the directories to enter below the destination
  String DirPart;                // the same as text ("a/b/"), for messages
  String Leaf;                   // a file's name in its directory
  std::uint32_t Attr = 0;
  String Target;                 // the path an entry touches, to tell entries that meet
  String ShownTarget;            // the target, as messages show it
};

// The plan of item under the engine's options, once the extract hook gave
// name and attr. Raises for a name that leads outside destination, has no
// name or is too long, and for a file that is encrypted.
TExtractionPlan PlanExtraction(const TZEOptions& Options, const TDirItem& item, String name, std::uint32_t attr,
                               const String& destination) {
  name = SlashedPath(name);
  if (IsUnsafeEntryName(name)) {
    throw EZERefused(kZENativeCannotCreateFile,
                     Format(u"Cannot extract file \"%s\": its name leads outside the destination directory",
                            {PrintableName(item.Name)}));
  }
  TExtractionPlan plan;
  plan.Attr = attr;
  plan.Elements = PathElements(name);
  // A directory is named with a trailing '/', or marked by its attribute
  // alone (as some writers do); an entry with data is a file whatever its
  // attribute says.
  const bool isDirectory = (!name.empty() && name.back() == u'/') ||
                           ((attr & faDirectory) != 0 && item.UncompressedSize() == 0);
  if (plan.Elements.empty()) {
    if (isDirectory) return plan;   // the destination itself
    throw EZERefused(kZENativeCannotCreateFile,
                     Format(u"Cannot extract file \"%s\": it has no name", {PrintableName(item.Name)}));
  }
  if (!isDirectory) CheckNotEncrypted(item);

  const String target = destination + name;
  // A target longer than the system's longest path could not be opened by
  // anyone afterwards, and other tools refuse it too.
  if (IsPathTooLong(target)) {
    throw EZERefused(isDirectory ? kZENativeCannotCreateDir : kZENativeCannotCreateFile,
                     Format(isDirectory ? u"Cannot create directory \"%s\". %s" : u"Cannot create file \"%s\". %s",
                            {PrintableName(target), SystemErrorText(ENAMETOOLONG)}));
  }
  if (isDirectory) {
    if (!Options.CreateDirs) return plan;
    plan.Kind = pkDirectory;
    plan.DirPart = name;
    plan.Target = target;
    return plan;
  }
  plan.Kind = pkFile;
  plan.Leaf = std::move(plan.Elements.back());
  plan.Elements.pop_back();
  if (Options.CreateDirs) {
    plan.DirPart = ExtractFilePath(name);
    plan.Target = target;
  } else {
    plan.Elements.clear();
    plan.Target = destination + plan.Leaf;
  }
  plan.ShownTarget = PrintableName(plan.Target);
  return plan;
}

// --- The directories of a pass --------------------------------------------------------

// The directories of one extraction pass: the destination, opened (and
// made) once, and the directory of the entry before, which the next entry
// usually shares. Used on the pass's thread only; the handles it gives are
// shared with the file jobs, on any thread, and stay open until the last of
// them is done.
class TExtractDirs {
 public:
  explicit TExtractDirs(const String& destination) : FDestination(destination) {}

  const String& Destination() const { return FDestination; }

  // The directory destination/elements when it exists; nothing when one of
  // them (or the destination) is still to be made. Makes nothing. dirPart
  // is the same directory as text, for messages.
  std::shared_ptr<const TDirHandle> Find(const std::vector<String>& elements, const String& dirPart,
                                         const String& entryName) {
    return Open(elements, dirPart, entryName, false);
  }

  // The same, making what is missing. Each element is entered through the
  // handle of the one before, never through a symbolic link.
  std::shared_ptr<const TDirHandle> Make(const std::vector<String>& elements, const String& dirPart,
                                         const String& entryName) {
    return Open(elements, dirPart, entryName, true);
  }

 private:
  std::shared_ptr<const TDirHandle> Open(const std::vector<String>& elements, const String& dirPart,
                                         const String& entryName, bool make) {
    if (!FRoot) {
      auto root = std::make_shared<TDirHandle>();
      // The destination itself is made too when it is missing.
      if (root->Open(FDestination) != 0) {
        if (!make) return nullptr;
        if (!ForceDirectories(FDestination) || root->Open(FDestination) != 0) CannotCreate(dirPart);
      }
      FRoot = std::move(root);
      FRoot->RemoveLeftoverPartFiles();
    }
    if (elements.empty()) return FRoot;
    if (FLast && elements == FLastElements) return FLast;
    FLast.reset();
    TDirHandle current;
    const TDirHandle* parent = FRoot.get();
    for (const String& element : elements) {
      TDirHandle child;
      int error = parent->OpenSubdirectory(element, false, child);
      if (error != 0 && error != ELOOP && error != ENOTDIR) {
        if (!make) return nullptr;
        error = parent->OpenSubdirectory(element, true, child);
      }
      if (error == ELOOP) {
        throw EZERefused(kZENativeCannotCreateDir,
                         Format(u"Cannot extract file \"%s\": its path passes through a symbolic link",
                                {PrintableName(entryName)}));
      }
      if (error != 0) CannotCreate(dirPart);
      current = std::move(child);
      parent = &current;
    }
    FLast = std::make_shared<const TDirHandle>(std::move(current));
    FLastElements = elements;
    // Part files of a killed run lie beside the files it was replacing; each
    // directory is cleared of them once, before a file is made in it.
    if (FCleared.insert(dirPart).second) FLast->RemoveLeftoverPartFiles();
    return FLast;
  }

  [[noreturn]] void CannotCreate(const String& dirPart) const {
    throw EZEException(kZENativeCannotCreateDir, {PrintableName(FDestination + dirPart)});
  }

  String FDestination;
  std::shared_ptr<const TDirHandle> FRoot;
  std::shared_ptr<const TDirHandle> FLast;   // of the entry before, which the next one usually shares
  std::vector<String> FLastElements;
  std::set<String> FCleared;                 // directories whose leftover part files are gone
};

// --- One file ---------------------------------------------------------------------------

// What remains of one entry's extraction once everything that must happen in
// order is done (hooks, questions, checks, directories): making its file,
// writing its data, and putting the file in place. Runs on any thread; it
// reads the archive only through Data.
struct TFileJob {
  int Index = 0;
  std::optional<TZELocalFileHeader> Local;   // the entry's local header, read and checked in order
  std::shared_ptr<const TDirHandle> Dir;     // the entry's directory
  String Leaf;                               // the file's name in it
  bool SetAttributes = true;
  std::uint32_t Attr = 0;
  std::optional<TFileTime> Time;             // the entry's time, worked out in order
  String ShownTarget;                        // the target, as messages show it
  // Written under its own name: nothing was at the target and no entry
  // before it was still unsettled, so no decision can come between its
  // writing and its taking its name.
  bool Direct = false;
};

// A file written beside its target under a name of its own: removed when it
// goes out of scope without having been put in place. A file written
// directly under the target's name is in place once it is whole.
class TFileAside {
 public:
  TFileAside() = default;
  TFileAside(std::shared_ptr<const TDirHandle> dir, String name) : FDir(std::move(dir)), FName(std::move(name)) {}
  TFileAside(TFileAside&& other) noexcept : FDir(std::move(other.FDir)), FName(std::exchange(other.FName, String())) {}
  TFileAside& operator=(TFileAside&& other) noexcept {
    if (this != &other) {
      Discard();
      FDir = std::move(other.FDir);
      FName = std::exchange(other.FName, String());
    }
    return *this;
  }
  ~TFileAside() { Discard(); }

  // Gives the file the name leaf, replacing what is there (a file, a link,
  // a hard link shared with a file elsewhere: never written through).
  void PutInPlace(const String& leaf, const String& shownTarget) {
    if (FName.empty()) return;   // written directly: in place since it was whole
    if (FDir->Rename(FName, leaf) != 0) {
      Discard();
      throw EZEException(kZENativeCannotCreateFile, {shownTarget});
    }
    FName.clear();
  }

  // Keeps the file where it was written: it already has its own name.
  void Keep() { FName.clear(); }

 private:
  void Discard() {
    if (!FName.empty()) FDir->Remove(std::exchange(FName, String()));
  }

  std::shared_ptr<const TDirHandle> FDir;
  String FName;
};

// Writes the job's entry, with its time and attributes, into a new file
// beside its target, under a name of its own that no entry has, or under the
// target's name itself for a direct job while nothing is there. Runs on any
// thread. A file that fails is removed.
TFileAside WriteAside(const TFileJob& job, const TEntryData& data) {
  String written = job.Leaf;
  TFileHandle created;
  int error = job.Direct ? job.Dir->CreateFile(job.Leaf, created) : EEXIST;
  if (error == EEXIST) error = job.Dir->CreateUniqueFile(written, created);
  if (error != 0) throw EZEException(kZENativeCannotCreateFile, {job.ShownTarget});
  TFileAside aside(job.Dir, written);
  TargetFile file(std::move(created), job.ShownTarget);
  try {
    data.Extract(job.Index, job.Local, file);
    if (job.Time) file.File().SetTime(*job.Time);
    if (job.SetAttributes) file.File().SetAttr(job.Attr);
    file.File().Close();
  } catch (...) {
    file.File().Close();
    throw;
  }
  // A direct file is whole now: it stays where it is whatever comes after.
  if (written == job.Leaf) aside.Keep();
  return aside;
}

// True when path is target or lies below it.
bool IsAtOrBelow(StringView path, StringView target) {
  return path.size() >= target.size() && path.substr(0, target.size()) == target &&
         (path.size() == target.size() || path[target.size()] == u'/');
}

// An entry's size as progress counts it: the size it declares, capped.
std::int64_t ProgressSize(const TDirItem& item) {
  return static_cast<std::int64_t>(std::min<std::uint64_t>(item.UncompressedSize(), INT64_MAX / 4));
}

// Adds an entry's size to a progress count. Sizes are as the archive
// declares them and may be absurd: the count stops at its top rather than
// overflow.
void CountBytes(std::int64_t& count, std::int64_t size) {
  count = size > INT64_MAX - count ? INT64_MAX : count + size;
}

// --- The pass ------------------------------------------------------------------------------

// One extraction pass over the tagged entries, with the outcome of handling
// them one after the other in the order of the directory, whatever the number
// of workers.
//
// Everything a person or a hook can see (questions, hooks, failure
// decisions, directories made) happens in that order on the calling thread,
// and only when every entry before is settled. Only writing each file goes to
// the workers, a few entries ahead, and a worker writes it under a temporary
// name: the file takes its name here, in order, once the entries before it
// are settled. So an Abort leaves exactly what it leaves without workers: the
// files written ahead are removed unseen. Before an entry's directory or
// target is touched, the files still being written there are settled first,
// so entries that meet (the same name twice, a file where a later entry wants
// a directory) meet as they would one after the other. Hooks that see every
// entry keep the whole pass in step.
//
// A worker runs one TFileJob, which it owns, and reads the archive only
// through the pass's TEntryData; it touches nothing else of the pass or the
// engine but the cancel flag.
//
// Entries handed to the workers and not yet settled, per worker: enough that
// a worker finds the next small file waiting when it is done with one, few
// enough that finishing the ones in the way of an entry stays cheap. Each
// holds no data of its own, only its target.
constexpr std::size_t kEntriesInFlightPerWorker = 8;

class TExtractionPass {
 public:
  TExtractionPass(TZEBaseArchiver& engine, const TZEWorkProgress& work, bool parallel)
      : FEngine(engine), FItems(engine.Dir().CDir), FData(engine.EntryData()), FWork(work),
        FInStep(engine.OnConfirmProcessFile || engine.OnExtractFile), FDirs(ResolveBaseDir(engine.BaseDir())),
        FLimit(parallel ? kEntriesInFlightPerWorker * static_cast<std::size_t>(engine.ThreadCount()) : 1),
        FPool(parallel ? engine.ThreadCount() : 0) {}
  // The tasks still queued see the flag and start nothing; the pool, the
  // last member, is the first to go and ends its threads, and only then the
  // entries in flight go, on this thread, removing the files written ahead.
  ~TExtractionPass() { FCancelled = true; }
  TExtractionPass(const TExtractionPass&) = delete;
  TExtractionPass& operator=(const TExtractionPass&) = delete;

  // Extracts every tagged entry; after an Abort, counts those not reached
  // and drops the rest of the pass. Returns what was not restored.
  TZEBaseArchiver::TZEUnrestored Run() {
    if (!ExtractAll()) {
      DiscardInFlight();
      CountUnreached();
      FEngine.CancelUpdate();
    }
    return std::move(FUnrestored);
  }

 private:
  // A decision was Abort: the pass ends.
  struct TAborted {};
  // The entries written ahead of a failed one were undone: the pass goes on
  // from FNext.
  struct TRewound {};

  // What a worker made of a job: the file written aside, or the engine
  // error, as a value made on the worker rather than an exception thrown
  // across threads. The job comes back with it, to be written again alone.
  struct TWritten {
    TFileJob Job;
    TFileAside File;
    std::optional<EZEException> Failure;
  };

  // An entry whose file a worker is writing.
  struct TInFlight {
    int Index;
    String Target;   // to tell entries that meet
    std::future<TWritten> Done;
  };

  // False when a decision was Abort.
  bool ExtractAll() {
    FNext = 0;
    for (;;) {
      try {
        while (FNext < FItems.Count()) {
          const int index = FNext++;
          if (!FItems[index].Tagged) continue;
          if (FInStep) {
            SettleAll();
          } else if (FInFlight.size() >= FLimit) {
            SettleOldest();
          }
          StartEntry(index);
        }
        SettleAll();
        return true;
      } catch (const TRewound&) {
        continue;
      } catch (const TAborted&) {
        return false;
      }
    }
  }

  // One entry, whose failure is decided after those of the entries before.
  void StartEntry(int index) {
    try {
      Start(index, false);
    } catch (const EZEException& e) {
      SettleAll();
      Decide(index, e);
    }
  }

  // One entry from the start, in these steps on this thread: the hooks, the
  // plan, the checks of its data, the files in its way settled, its
  // directory, the file that is there. Then its file is written by a worker
  // (or at once when there are none); to the end on this thread when
  // synchronous.
  void Start(int index, bool synchronous) {
    const TDirItem& item = FItems[index];
    String offered = item.Name;
    std::replace(offered.begin(), offered.end(), u'/', u'\\');
    if (!FEngine.ConfirmProcessFile(offered, poExtract)) return Restored(index);
    String name = item.Name;
    std::uint32_t attr = item.externalAttr;
    if (FEngine.OnExtractFile) FEngine.OnExtractFile(FEngine, name, attr, item.Comment());

    const TExtractionPlan plan = PlanExtraction(FEngine.Options, item, std::move(name), attr, FDirs.Destination());
    if (plan.Kind == pkNothing) return Restored(index);
    // The entry's local header, read and checked here in order, goes with
    // the job: the worker reads only the data.
    std::optional<TZELocalFileHeader> local;
    if (plan.Kind == pkFile) local = FData.Check(index);
    FinishFilesInTheWay(plan);
    std::shared_ptr<const TDirHandle> dir = EnterDirectory(plan, item);
    if (plan.Kind == pkDirectory) return Restored(index);

    const TEntryInfo existing = dir->Stat(plan.Leaf);
    if (existing.Kind == ekDirectory) throw EZEException(kZENativeCannotCreateFile, {plan.ShownTarget});
    if (!MayReplace(item, existing, plan.ShownTarget)) return Restored(index);

    TFileJob job{index, std::move(local), std::move(dir), plan.Leaf, FEngine.Options.SetAttributes, plan.Attr,
                 FileTimeOf(DosToLocalTime(item.DosStamp())), plan.ShownTarget};
    // Nothing in flight: every entry before this one is settled, so its file
    // may appear under its name at once, as without workers. Written ahead of
    // others, it waits under a name of its own.
    job.Direct = existing.Kind == ekNone && FInFlight.empty();
    if (synchronous) {
      Place(job, WriteAside(job, FData));
      return;
    }
    auto work = [&data = FData, &cancelled = FCancelled, job = std::move(job)]() mutable -> TWritten {
      if (cancelled) return {std::move(job), TFileAside(), EZEException(kZENativeOpenAborted)};
      try {
        TFileAside file = WriteAside(job, data);
        return {std::move(job), std::move(file), std::nullopt};
      } catch (const EZEException& e) {
        return {std::move(job), TFileAside(), e};
      }
    };
    FInFlight.push_back({index, plan.Target, FPool.Submit(std::move(work))});
  }

  // The entry's directory, made where it is missing once everything before
  // is settled: a directory made is seen outside the pass.
  std::shared_ptr<const TDirHandle> EnterDirectory(const TExtractionPlan& plan, const TDirItem& item) {
    if (std::shared_ptr<const TDirHandle> dir = FDirs.Find(plan.Elements, plan.DirPart, item.Name)) return dir;
    SettleAll();
    return FDirs.Make(plan.Elements, plan.DirPart, item.Name);
  }

  // Whether the existing object at the target may be replaced under the
  // engine's overwrite settings; a question is put once everything before
  // is settled.
  bool MayReplace(const TDirItem& item, const TEntryInfo& existing, const String& target) {
    if (existing.Kind == ekLink || existing.Kind == ekNone) return true;
    if ((existing.Attr & faReadOnly) && !FEngine.Options.ReplaceReadOnly) return false;
    const std::optional<bool> decided =
        OverwriteByMode(FEngine.Options.OverwriteMode, LocalTimeToDos(existing.Time), item.DosStamp());
    if (decided) return *decided;
    SettleAll();
    String dest = target;
    return FEngine.ConfirmOverwrite(item.Name, dest);
  }

  void Place(const TFileJob& job, TFileAside file) {
    file.PutInPlace(job.Leaf, job.ShownTarget);
    Restored(job.Index);
  }

  // Settles the oldest entry in flight: its file takes its name, or its
  // failure is decided, here and in order.
  void SettleOldest() {
    TInFlight entry = std::move(FInFlight.front());
    FInFlight.pop_front();
    TWritten written = entry.Done.get();
    if (!written.Failure) {
      try {
        Place(written.Job, std::move(written.File));
      } catch (const EZEException& e) {
        Decide(entry.Index, e);
      }
    } else if (IsAboutTheData(*written.Failure) || FInFlight.empty()) {
      Decide(entry.Index, std::move(*written.Failure));
    } else {
      // A file that could not be made or written may have failed for the
      // files of later entries written beside it at the same time (a disk
      // that all of them filled): those are undone, and it is written again
      // alone, as it would have been in order.
      UndoEntriesAfter(entry.Index);
      try {
        Place(written.Job, WriteAside(written.Job, FData));
      } catch (const EZEException& e) {
        Decide(entry.Index, e);
      }
    }
    if (std::exchange(FRewinding, false)) throw TRewound{};
  }

  void SettleAll() {
    while (!FInFlight.empty()) SettleOldest();
  }

  // Damaged data is damaged whatever else runs; other failures may not be.
  static bool IsAboutTheData(const EZEException& failure) {
    return failure.NativeError == kZENativeBadData || failure.NativeError == kZENativeDeflate64;
  }

  // Drops the entries in flight after index, all of them later in the
  // directory: the pass takes them up again once index is decided.
  void UndoEntriesAfter(int index) {
    if (FInFlight.empty()) return;
    DiscardInFlight();
    FNext = index + 1;
    FRewinding = true;
  }

  // The failure decision for entry index; a retry runs the whole entry again
  // on this thread, after the entries written ahead of it are undone (in
  // order, they come after the retry). Throws TAborted after an Abort.
  void Decide(int index, EZEException failure) {
    for (;;) {
      const TZEAction action = FEngine.ProcessFileFailure(FItems[index].Name, poExtract, failure);
      if (action == fxaRetry) {
        UndoEntriesAfter(index);
        try {
          Start(index, true);
          return;
        } catch (const EZEException& e) {
          failure = e;
          continue;
        }
      }
      NotRestored(index, failure);
      if (action == fxaIgnore) return;
      FAbortedAt = index;
      throw TAborted{};
    }
  }

  // Settles the files in flight at or below the plan's target, or in the
  // way of its directory, before the entry touches them.
  void FinishFilesInTheWay(const TExtractionPlan& plan) {
    const String dir = FDirs.Destination() + plan.DirPart;
    for (const TInFlight& entry : FInFlight) {
      if (IsAtOrBelow(entry.Target, plan.Target) || IsAtOrBelow(dir, entry.Target)) {
        SettleAll();
        return;
      }
    }
  }

  void Restored(int index) {
    if (FItems[index].IsDirectory()) return;
    ++FWork.FilesDone;
    CountBytes(FWork.BytesDone, ProgressSize(FItems[index]));
    if (FEngine.OnWorkProgress) FEngine.OnWorkProgress(FEngine, poExtract, FWork);
  }

  void NotRestored(int index, const EZEException& e) {
    if (FUnrestored.Count++ == 0) {
      FUnrestored.FirstName = FItems[index].Name;
      FUnrestored.FirstFailure = std::make_shared<const EZEException>(e);
    }
  }

  // After an Abort the tagged entries after the one aborted at are not
  // restored either.
  void CountUnreached() {
    for (int j = FAbortedAt + 1; FAbortedAt >= 0 && j < FItems.Count(); ++j) {
      if (FItems[j].Tagged) ++FUnrestored.Count;
    }
  }

  // Takes what the workers made of the entries in flight (they start
  // nothing more meanwhile): the files they wrote aside go with it, here.
  void DiscardInFlight() {
    FCancelled = true;
    for (TInFlight& entry : FInFlight) {
      try {
        entry.Done.get();
      } catch (const std::exception&) {
      }
    }
    FInFlight.clear();
    FCancelled = false;
  }

  TZEBaseArchiver& FEngine;
  const TZEDirArray& FItems;    // not changed while the pass runs
  const TEntryData FData;       // what the workers read
  TZEWorkProgress FWork;
  TZEBaseArchiver::TZEUnrestored FUnrestored;
  const bool FInStep;           // hooks see every entry: no entry runs ahead
  TExtractDirs FDirs;
  const std::size_t FLimit;     // entries in flight at most
  std::deque<TInFlight> FInFlight;
  int FNext = 0;                // the next entry to start
  bool FRewinding = false;      // entries in flight were undone: the pass goes on from FNext
  int FAbortedAt = -1;          // the entry whose failure was answered with Abort
  std::atomic<bool> FCancelled = false;   // the workers start nothing more
  TWorkerPool FPool;            // last: its threads end before anything they use
};

}  // namespace

void TZEBaseArchiver::ExtractFiles(const String& FileMask, std::uint32_t SearchAttr, const String& ExclusionMask) {
  CheckActive();
  if (InUpdate()) throw EZEException(kZENativeUpdateNotEnded);
  FUnrestored = TZEUnrestored{};
  TZEDirArray& items = FDir.CDir;
  for (int i = 0; i < items.Count(); ++i) items[i].Tagged = false;
  TZEArchiveItem found;
  const bool many = Options.Recurse || HasWildcards(FileMask) || !ExclusionMask.empty() ||
                    SearchAttr != kZEDefaultSearchAttr;
  if (FindFirst(FileMask, found, ExclusionMask, SearchAttr)) {
    do {
      items[found.Handle.ItemNo].Tagged = true;
    } while (many && FindNext(found));
  }

  TZEWorkProgress work;
  for (int i = 0; i < items.Count(); ++i) {
    if (!items[i].Tagged || items[i].IsDirectory()) continue;
    ++work.FilesTotal;
    CountBytes(work.BytesTotal, ProgressSize(items[i]));
  }
  const bool parallel = FThreadCount > 0 && work.FilesTotal > 1 && FStream->ConcurrentReads();
  FUnrestored = TExtractionPass(*this, work, parallel).Run();
}

}  // namespace zo
