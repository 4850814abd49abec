// The ZIP engine: one object that holds one open archive, keeps its directory
// in memory and changes the archive only inside update transactions.
//
// Where each part lives:
//   zip/ZipEngine.cpp     construction, settings, opening (the file modes),
//                         closing, transactions, AddFromStream, entry
//                         registration, the overwrite policy, the failure
//                         decision and the other hook defaults
//   zip/ZipHooks.h        the hooks and the progress record
//   zip/ZipErrors.h/.cpp  errors, native numbers, the failure decision's
//                         action, the user prompt, PrintableName
//   zip/ZipPrompt.cpp     the terminal prompt
//   zip/ZipFormat.h/.cpp  record layouts, CRC, DOS stamps
//   zip/ZipStreams.h/.cpp the stream interface and its memory and file streams
//   zip/ZipDirectory.*    directory array, name index, name encoding, SaveDir
//   zip/ZipCollect.*      AddFiles and the collection of files on disk
//   zip/ZipSiblingNames.* names of one directory that differ only in case
//   zip/ZipCommit.cpp     the commit of a transaction, with its rollback
//   zip/ZipWriter.cpp     the commit's storing loop (local header, deflate, CRC)
//   zip/BlockDeflate.*    deflating one block on a worker
//   zip/WorkerPool.*      the worker threads
//   zip/ZipLoad.cpp       loading the directory of an existing archive
//                         (LoadDir): end record, Zip64 records, central
//                         directory, stub detection, a foreign directory
//   zip/ZipRecovery.cpp   rebuilding a damaged archive's directory from its
//                         local headers; the scan window
//   zip/ZipOverlap.cpp    entries that share their bytes, refused
//   zip/ZipLoad.h         what those three share (internal to zip/)
//   zip/ZipReadSupport.*  bounded readers of the archive's records, shared by
//                         loading, search and extraction
//   zip/ZipSearch.cpp     FindFirst, FindNext
//   zip/ZipEntryData.*    one entry's checked data (TEntryData), ExtractToStream
//   zip/ZipInflate.*      InflateAt, the one zlib inflate loop (extraction and
//                         the overlap check)
//   zip/WholeBufferCodec.h  deflate, inflate and CRC-32 of a whole buffer in
//                         one call, beside zlib's streams; its bodies in
//                         zip/codec/ (libdeflate, or none: zlib alone)
//   zip/ZipExtract.cpp    ExtractFiles: each entry's plan, the pass's
//                         directories, the pass on worker threads
//
// How a pack runs. AddFiles collects the files below the base directory and
// registers each as an entry (RegisterItem, the overwrite policy) in a
// transaction; AddFromStream and AddFromFile register one. The outermost
// EndUpdate commits: the entries before the first changed one stay, the
// others are written again in order (ZipWriter.cpp), each source read on
// this thread in blocks that workers deflate while this thread writes the
// blocks back in order, then the central directory (an entry of one block
// alone is deflated whole by the whole-buffer codec). A failed entry goes to
// the failure decision (retry, ignore, abort); an abort rolls the archive
// back. CloseArchive puts a created archive in place of FileName.
//
// How an unpack runs. OpenArchive loads the directory (recovery when it is
// damaged). ExtractFiles tags the entries that the masks find and runs one
// pass over them in directory order: on this thread each entry's hooks, its
// plan (names checked), the checks of its headers, its directory and the
// overwrite question; then a worker writes its data into a file beside the
// target, through TEntryData alone (inflated in one call when the entry fits
// the whole-inflate budget, through zlib's stream otherwise), and this thread
// gives the file its name once every entry before is settled. Failures are
// decided in that order.
//
// Threads: the hooks, the failure decisions and every change to the engine
// run on the calling thread. Workers compress blocks of bytes (packing) and
// write an entry's file from TEntryData (unpacking), which reads the archive
// by position while the directory stays unchanged.
//
// Typical use:
//   TZipEngine engine;
//   engine.SetFileName(u"/tmp/a.zip");
//   engine.OpenArchive(fmCreate);
//   engine.AddFromStream(u"dir\\a.txt", source, false, 0, 0, faArchive, 0);
//   engine.CloseArchive();
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "core/DateTime.h"
#include "core/String.h"
#include "zip/ZipDirectory.h"
#include "zip/ZipErrors.h"
#include "zip/ZipFormat.h"
#include "zip/ZipHooks.h"
#include "zip/ZipStreams.h"

namespace zo {

class TReplacementFile;
class TEntryData;

enum class TZECompressionLevel : std::uint8_t { clNone, clFastest, clNormal, clMax };
using enum TZECompressionLevel;
enum class TZip64Mode : std::uint8_t { zmDisabled, zmAuto, zmAlways };
using enum TZip64Mode;
enum class TZEStorePathMode : std::uint8_t { spNoPath, spRelativePath, spFullPath, spFullPathWithDrive };
using enum TZEStorePathMode;
// Sharing of source files; the file-mode bits are 0, 0x10, 0x20, 0x30, 0x40.
enum class TZEFileShareMode : std::uint8_t {
  smShareCompat, smShareExclusive, smShareDenyWrite, smShareDenyRead, smShareDenyNone
};
using enum TZEFileShareMode;
enum class TZEOverwriteMode : std::uint8_t { omPrompt, omAlways, omNever, omIfNewer, omIfOlder };
using enum TZEOverwriteMode;

std::uint16_t ShareModeBits(TZEFileShareMode mode);

// Whether an object that exists (stamped existingStamp) gives way to a new
// one (stamped newStamp) under mode, packing and extracting alike; nothing
// under omPrompt, where the user is asked (ConfirmOverwrite). Stamps are DOS
// stamps, date in the high 16 bits.
std::optional<bool> OverwriteByMode(TZEOverwriteMode mode, std::uint32_t existingStamp, std::uint32_t newStamp);

inline constexpr std::uint32_t kZEDefaultSearchAttr = 0x28BF;

struct TZEOptions {
  TZEStorePathMode StorePath = spRelativePath;
  bool Recurse = true;
  TZEFileShareMode ShareMode = smShareDenyNone;
  TZEOverwriteMode OverwriteMode = omAlways;
  bool CreateDirs = true;
  bool ReplaceReadOnly = true;
  bool SetAttributes = true;
  std::uint32_t SearchAttr = kZEDefaultSearchAttr;
  bool FlushBuffers = true;
  bool OEMFileNames = true;
};

// --- Search (implemented in zip/ZipSearch.cpp) --------------------------------
struct TInternalSearchRec {
  int ItemNo = 0;              // current index into the directory
  String FileMask;             // "/" separators, no drive
  bool Wildcards = false;
  std::uint32_t FFindAttr = 0;
  String ExclusionMask;
};

struct TZEArchiveItem {
  String FileName;             // last element of the entry's name
  String StoredPath;           // the rest, "\" separators and a trailing "\"
  std::int64_t CompressedSize = 0;
  std::int64_t UncompressedSize = 0;
  double CompressionRate = 0;  // percent
  bool Encrypted = false;
  std::uint16_t LastModFileDate = 0;
  std::uint16_t LastModFileTime = 0;
  std::uint32_t CRC = 0;
  std::uint32_t ExternalFileAttributes = 0;
  AnsiText Comment;
  TInternalSearchRec Handle;
};

class TZEBaseArchiver {
 public:
  TZEBaseArchiver();
  virtual ~TZEBaseArchiver();   // closes the archive
  TZEBaseArchiver(const TZEBaseArchiver&) = delete;
  TZEBaseArchiver& operator=(const TZEBaseArchiver&) = delete;

  // --- Settings (values at creation in the member initialisers) -------------
  const String& FileName() const { return FFileName; }
  void SetFileName(const String& value) { FFileName = value; }
  const String& BaseDir() const { return FBaseDir; }
  void SetBaseDir(const String& value) { FBaseDir = value; }
  // Directory for temporary files; empty: the system's.
  const String& TempDir() const { return FTempDir; }
  void SetTempDir(const String& value) { FTempDir = value; }

  TZECompressionLevel CompressionLevel() const { return FCompressionLevel; }
  // Sets the mode 0, 1, 6 or 9.
  void SetCompressionLevel(TZECompressionLevel value);
  int CompressionMode() const { return FCompressionMode; }
  // 0..9, else native 5; sets the level that contains the mode.
  void SetCompressionMode(int value);
  std::uint16_t CompressionMethod() const { return FCompressionMethod; }

  // Worker threads that compress entries while the archive is written and
  // write extracted files while an archive is unpacked: 0 (the default)
  // does all on the calling thread. The archive's bytes, the files and the
  // order of every hook and decision are the same whatever the count.
  int ThreadCount() const { return FThreadCount; }
  void SetThreadCount(int value) { FThreadCount = value < 0 ? 0 : value; }

  TZip64Mode Zip64Mode() const { return FZip64Mode; }
  void SetZip64Mode(TZip64Mode value) { FZip64Mode = value; }
  bool UnicodeFilenames = false;     // not written by this engine
  bool OpenCorruptedArchives = true;
  bool ExtractCorruptedFiles = false;
  TZEOptions Options;
  std::vector<String> FileMasks;
  std::vector<String> ExclusionMasks;
  std::vector<String> NoCompressionMasks;
  String Password;                   // never set in this system
  String Name;                       // component name; prefixes messages when set

  // --- Hooks (zip/ZipHooks.h); empty = the default -------------------------
  TZEProcessFileFailureEvent OnProcessFileFailure;
  TZEConfirmProcessFileEvent OnConfirmProcessFile;
  TZEStoreFileEvent OnStoreFile;
  TZEExtractFileEvent OnExtractFile;
  TZEConfirmOverwriteEvent OnConfirmOverwrite;
  TZEDiskFullEvent OnDiskFull;
  TZEFileProgressEvent OnFileProgress;
  TZEOverallProgressEvent OnOverallProgress;
  TZEWorkProgressEvent OnWorkProgress;
  TZECopyTempFileProgressEvent OnCopyTempFileProgress;
  // Who answers the interactive questions of the defaults; nullptr (the
  // default) is DefaultUserPrompt(). Not owned.
  void SetUserPrompt(TZEUserPrompt* prompt) { FUserPrompt = prompt; }
  // The failure that the last failure decision answered with fxaAbort. An
  // aborted operation returns without an exception; a caller that must not
  // let a failure pass unreported (the console tool) reads it here. nullptr
  // when there was none since ClearAbortedFailure.
  const EZEException* AbortedFailure() const { return FAbortedFailure.get(); }
  void ClearAbortedFailure() { FAbortedFailure.reset(); }

  // --- Opening and closing (ZipEngine.cpp; loading in ZipLoad.cpp) ---------
  // Mode fmCreate (0xFF00) creates a new archive that replaces FileName when
  // it is closed: until then it is built beside FileName, which keeps its old
  // content (see platform/ReplacementFile.h). 2 opens FileName for reading
  // and writing, 0x20 for reading with others denied write access (the
  // directory is loaded).
  void OpenArchive(std::uint16_t Mode);
  // A caller's stream; Create empties it and writes an empty archive at once,
  // otherwise its directory is loaded. The stream is never freed here.
  void OpenArchive(TStream& Stream, bool Create);
  // Commits a pending transaction and closes. A created archive then takes
  // the place of FileName, unless that last commit failed or was aborted;
  // a failure to put it in place is raised (the old file is then as it was).
  void CloseArchive();
  // Closes without committing anything further: a created archive is
  // dropped and FileName keeps its old content. For a run that failed.
  void AbandonArchive();
  bool Active() const { return FActive; }
  // Whether path names the archive, under any name: the file named FileName
  // or the new archive being built for it.
  bool IsArchiveFile(StringView path) const;

  // --- Transactions (ZipEngine.cpp) -----------------------------------------
  void BeginUpdate();
  // The outermost call commits.
  void EndUpdate();
  // Drops the transaction without committing.
  void CancelUpdate();
  int UpdateCount() const { return FUpdateCount; }
  bool InUpdate() const { return FUpdateCount > 0; }

  // --- Writing (ZipEngine.cpp) ----------------------------------------------
  // One entry from Stream, in a transaction of its own. Count 0 with
  // CopyToBuffer: the whole stream. DateTime 0: the current local time.
  void AddFromStream(const String& FileName, TStream& Stream, bool CopyToBuffer,
                     std::int64_t Position, std::int64_t Count, std::uint32_t Attr,
                     TDateTime DateTime);
  // One disk file, SourcePath, under the stored name FileName (given as to
  // AddFromStream), in the open transaction or in one of its own. The file is
  // opened and read when the transaction commits. It stands for a file the
  // caller would have opened itself: should it not open, the commit ends
  // with the stream layer's error (its path and the system's reason) and is
  // rolled back, as if the caller's own opening had failed; a failure while
  // it is read goes to the failure decision. DateTime 0: the current local
  // time.
  void AddFromFile(const String& FileName, const String& SourcePath, std::uint32_t Attr,
                   TDateTime DateTime);

  // The files that changed size while they were stored by the commits since
  // ClearChangedSources. Each is stored as it was read: a file that shrank
  // with the bytes it still had, one that grew with the bytes it had when it
  // was opened; its sizes and CRC are those of what is stored. FirstPath
  // names the first of them.
  struct TZEChangedSources {
    int Count = 0;
    String FirstPath;
  };
  const TZEChangedSources& ChangedSources() const { return FChangedSources; }
  void ClearChangedSources() { FChangedSources = TZEChangedSources{}; }

  // --- Adding files from disk (ZipCollect.cpp) ------------------------------
  void AddFiles(const String& FileMask, std::uint32_t SearchAttr, const String& ExclusionMask);

  // --- Reading (ZipSearch.cpp, ZipEntryData.cpp, ZipExtract.cpp) ------------
  bool FindFirst(const String& FileMask, TZEArchiveItem& Item, const String& ExclusionMask,
                 std::uint32_t SearchAttr);
  bool FindNext(TZEArchiveItem& Item);
  void ExtractToStream(const String& FileName, TStream& Stream);
  void ExtractFiles(const String& FileMask, std::uint32_t SearchAttr, const String& ExclusionMask);
  // What the last ExtractFiles pass could not restore: the entries that
  // failed (their failure decided Ignore or Abort) and, after an Abort, those
  // never reached; FirstName and FirstFailure tell the first one and why.
  struct TZEUnrestored {
    int Count = 0;
    String FirstName;
    std::shared_ptr<const EZEException> FirstFailure;
  };
  const TZEUnrestored& Unrestored() const { return FUnrestored; }

  // --- The directory ---------------------------------------------------------
  TZEDirManager& Dir() { return FDir; }
  const TZEDirManager& Dir() const { return FDir; }
  TStream* ArchiveStream() const { return FStream; }
  // The entries' data as extraction reads it, from any thread, while the
  // directory stays as it is (zip/ZipEntryData.h). Only while active.
  TEntryData EntryData() const;

  // --- Shared by the writing and the reading side ----------------------------

  // Entry registration. Name: the stored name ("/" separators; a directory
  // ends with "/"). SrcFileName empty for stream sources. DosStamp: date in
  // the high, time in the low 16 bits. IsDirectory: a directory entry (no
  // data). Returns the entry's index, or -1 when the entry is skipped (name
  // exists and the overwrite mode says no).
  int RegisterItem(String Name, const String& SrcFileName, std::uint32_t Attr,
                   std::uint32_t DosStamp, bool IsDirectory);

  // The failure decision for E raised while FileName was processed.
  TZEAction ProcessFileFailure(const String& FileName, TZEProcessOperation Operation,
                               const EZEException& E);
  // OnConfirmProcessFile or yes.
  bool ConfirmProcessFile(const String& FileName, TZEProcessOperation Operation);
  // Under omPrompt: OnConfirmOverwrite or the question; "No to all" and
  // "Yes to all" change Options.OverwriteMode.
  bool ConfirmOverwrite(const String& SourceFileName, String& DestFileName);

 protected:
  // TZipEngine chooses the method by the mode.
  virtual void UpdateCompressionMethod() {}
  std::uint16_t FCompressionMethod = kZipMethodDeflate;
  TZip64Mode FZip64Mode = zmAuto;

 private:
  // --- Writing side (ZipEngine.cpp, ZipWriter.cpp) --------------------------
  void CheckActive() const;
  // The archive may be changed: a caller's stream, or a file opened with
  // write access.
  bool IsWritable() const;
  TZEDirSettings DirSettings() const;
  // False when the transaction was aborted or cancelled (and rolled back).
  bool Commit();   // ZipCommit.cpp
  // The commit's loop over the entries from first on: stores the changed
  // ones, copies the others; false when aborted (ZipWriter.cpp). It runs on
  // the calling thread; its workers only deflate blocks of bytes it hands
  // them.
  bool RewriteEntries(int first, TStream* tail, std::int64_t tailStart);
  // Frees the archive stream and the directory; the engine becomes inactive.
  void ReleaseArchive();
  void CopyItemUnchanged(int index, TStream* tail, std::int64_t tailStart);
  void WriteToArchive(const void* data, std::int64_t count);   // disk-full retries
  TZEUserPrompt& UserPrompt() const;
  // The decision itself: the hook, or the default by native number.
  TZEAction DecideFileFailure(const String& FileName, TZEProcessOperation Operation,
                              const EZEException& E);

  // --- Reading side (ZipLoad.cpp) ---------------------------
  // Loads the directory of FStream into FDir (recovery included).
  void LoadDir();

  String FFileName;
  String FBaseDir;
  String FTempDir;
  TZECompressionLevel FCompressionLevel = clFastest;
  int FCompressionMode = 1;
  int FThreadCount = 0;

  bool FActive = false;
  int FUpdateCount = 0;
  std::uint16_t FFileMode = 0;
  TStream* FStream = nullptr;                   // the archive
  bool FCallerStream = false;                   // FStream is a caller's stream
  std::unique_ptr<TStream> FOwnedStream;        // set when the engine opened it
  std::unique_ptr<TReplacementFile> FReplacement;   // a created archive until it is closed
  TZEDirManager FDir;
  TZEUserPrompt* FUserPrompt = nullptr;
  std::shared_ptr<const EZEException> FAbortedFailure;
  TZEUnrestored FUnrestored;                    // of the last extraction pass
  TZEChangedSources FChangedSources;
};

// The engine the wrapper uses: Zip64 disabled at creation, and stored (0)
// rather than deflate (8) whenever the compression mode is 0.
class TZipEngine : public TZEBaseArchiver {
 public:
  TZipEngine();

 protected:
  void UpdateCompressionMethod() override;
};

}  // namespace zo
