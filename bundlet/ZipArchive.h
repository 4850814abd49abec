// TZipArchive: the small object through which the console tool packs and
// unpacks.
//
// It owns one ZIP engine, remembers whether the archive was opened for
// writing, reading or both, checks that every operation suits that mode
// (EZipError "Zip mode required" / "Unzip mode required" before anything else
// happens), and turns the tool's notions (method and level, packing a
// directory, unpacking everything, packing one file under a relative name)
// into engine settings and calls. It also moves whole entries to and from
// memory: byte strings and lists of lines.
//
// Engine errors (EZEException) and the stream layer's errors pass through
// unchanged. Failures of single entries inside a commit or an extraction pass
// go to the engine's failure decision first; when that decision ends the
// operation with Abort, AbortedFailure() tells which failure it was.
//
// Paths given to the wrapper may use '\' or '/' as separators.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "bundlet/ZipArchiveError.h"
#include "core/String.h"
#include "platform/FileSystem.h"
#include "zip/ZipEngine.h"
#include "zip/ZipSiblingNames.h"
#include "zip/ZipStreams.h"

namespace zo {

enum class TZipMethod : std::uint8_t { zmStore, zmDeflate };
using enum TZipMethod;
enum class TZipLevel : std::uint8_t { zlNone, zlFastest, zlDefault, zlBest };
using enum TZipLevel;
enum class TZipOpenMode : std::uint8_t { omNone, omZip, omUnzip, omZipUnzip };
using enum TZipOpenMode;
enum class TZipUnpackMode : std::uint8_t { umSkip, umOverwrite, umOverwriteOlder, umBreak };
using enum TZipUnpackMode;

// The engine's level for a method and level: zmStore is always clNone; with
// zmDeflate zlNone, zlFastest, zlDefault, zlBest give clNone, clFastest,
// clNormal, clMax (compression modes 0, 1, 6, 9).
TZECompressionLevel ZipEngineLevel(TZipMethod Method, TZipLevel Level);

// Attribute masks of the engine's searches: everything, and everything but
// directories.
inline constexpr std::uint32_t kZipAttrWithDirs = kZEDefaultSearchAttr;
inline constexpr std::uint32_t kZipAttrWithoutDirs = kZEDefaultSearchAttr & ~faDirectory;
inline constexpr std::uint32_t kZipAttrNormal = faNormal;

class TZipArchive {
 public:
  // The engine is created without a name and with FlushBuffers off; every
  // other engine setting keeps its value at creation.
  TZipArchive();
  // Frees the engine. An archive still open was not closed by the caller
  // (the run failed or was aborted): a created archive is dropped and the
  // file it was to replace keeps its old content; nothing pending is
  // committed.
  ~TZipArchive();
  TZipArchive(const TZipArchive&) = delete;
  TZipArchive& operator=(const TZipArchive&) = delete;

  // Without a Stream: omZip creates a new archive that replaces Filename on
  // Close (until then any old Filename stays as it was); omZipUnzip opens
  // it for reading and writing when it exists and creates it otherwise;
  // omUnzip opens it for reading (others may not write). With a Stream:
  // omZip empties it and writes an empty archive into it at once, omUnzip and
  // omZipUnzip load its directory; the stream stays the caller's. omNone
  // opens nothing. The mode is taken only when opening succeeded.
  void Open(const String& Filename, TZipOpenMode Mode, TStream* Stream = nullptr);
  // Closes the engine's archive; a created one now takes the place of the
  // file it replaces. The mode is kept, so later operations pass the mode
  // check and fail in the engine ("Archive is not open").
  void Close();
  // Brackets writing operations into one engine transaction, committed by
  // the outermost EndUpdate: the central directory is then written once,
  // however many files were stored.
  void BeginUpdate();
  void EndUpdate();
  TZipOpenMode Mode() const { return FMode; }

  // --- Writing (omZip or omZipUnzip) ---------------------------------------
  // Stores the disk file Filename under the name Filename itself (the engine
  // turns '\' into '/'), with the file's time and attributes. A missing file
  // is EZipError -201. Comment is not stored.
  void WriteFile(const String& Filename, TZipMethod Method, TZipLevel Level, const String& Comment);
  // Stores the whole of Stream (from its start, whatever its position) under
  // Filename, with the attributes faNormal and the current time.
  void WriteFile(const String& Filename, TStream& Stream, TZipMethod Method, TZipLevel Level,
                 const String& Comment);
  // Adds the files below Path in one transaction:
  //   StorePathNames and Recursive: relative paths, subdirectories as
  //   directory entries; otherwise names without paths and no directory
  //   entries, below Path only with Recursive.
  // The settings stay in the engine afterwards. The archive file itself is
  // never added.
  void Pack(const String& Path, bool Recursive, bool StorePathNames, TZipMethod Method, TZipLevel Level);
  // Walks PartDirPath below MainDirPath and stores every file with PackFile,
  // in listing order, each subdirectory completely when it is met. Directories
  // get no entries of their own, nor do named pipes, sockets and devices. An
  // empty PartDirPath walks MainDirPath itself. A subdirectory that cannot be
  // listed goes to the engine's failure decision like a file that cannot be
  // read; a symbolic link back to a directory being walked is not followed.
  void PackDirectory(const String& MainDirPath, const String& PartDirPath);
  // Stores the file MainDirPath/PartFilePath under the relative name
  // PartFilePath ('/' separators, no leading separator; bytes that are not
  // UTF-8 read as Windows-1252), deflated at the best
  // level, with the attributes faNormal and the time of storing. The file is read
  // when the transaction commits (its own, or the one BeginUpdate opened). The
  // open archive itself is never stored into itself.
  void PackFile(const String& MainDirPath, const String& PartFilePath);
  // FileData stored under the last element of FileName.
  void FileFromBinary(const String& FileName, const Bytes& FileData);
  // The lines of SL stored under the last element of FileName, as UTF-8 text
  // with each line followed by CR LF.
  void FileFromSL(const String& FileName, const std::vector<String>& SL);

  // --- Reading (omUnzip or omZipUnzip) -------------------------------------
  // The entry's data written to Stream at its current position.
  void ReadFile(const String& Filename, TStream& Stream);
  // Extracts every entry below Path with its stored path, creating
  // directories, overwriting existing files and restoring times and
  // attributes. Mode and RestorePaths are not consulted: the engine's
  // settings apply.
  void Unpack(const String& Path, TZipUnpackMode Mode, bool RestorePaths);
  // Every entry's stored path and name, with '\' separators, directories
  // without a trailing separator.
  void ListFiles(std::vector<String>& List);
  // Finds the first entry matching Filename (a name or a mask) and fills
  // ZEArchiveItem when given. Never returns false: no match is EZipError -201.
  bool Locate(const String& Filename, TZEArchiveItem* ZEArchiveItem = nullptr);
  // The data of the top-level entry named by the last element of FileName
  // (the text after the last '\', '/' or ':').
  Bytes FileToBinary(const String& FileName);
  // As FileToBinary, read as text (a byte-order mark selects UTF-8 or UTF-16,
  // UTF-8 without one) and split into lines at CR, LF or CR LF; SL's content
  // is replaced.
  void FileToSL(const String& FileName, std::vector<String>& SL);

  // The failure that the engine's failure decision answered with Abort in
  // the last operation, which therefore ended early without an exception;
  // nullptr when the last operation was not aborted.
  const EZEException* AbortedFailure() const;
  // After Unpack: the entries that could not be restored (see
  // TZEBaseArchiver::Unrestored), and whether entries may be missing without
  // a trace because the archive's central directory could not be read and
  // the entries found by their local headers do not account for all of it.
  // Both describe the archive still open.
  const TZEBaseArchiver::TZEUnrestored& Unrestored() const;
  // After a pack: the files that changed size while they were stored (see
  // TZEBaseArchiver::ChangedSources); each is stored as it was read.
  const TZEBaseArchiver::TZEChangedSources& ChangedSources() const;
  bool EntriesMayBeMissing() const;
  // Who answers the engine's questions (a failed entry: abort, retry or
  // ignore); nullptr is the engine's default. Not owned.
  void SetUserPrompt(TZEUserPrompt* Prompt);
  // Worker threads of the engine (0: none); see TZEBaseArchiver.
  void SetThreadCount(int Threads);
  // Who hears how far packing and unpacking have come.
  void SetWorkProgress(TZEWorkProgressEvent OnWorkProgress);

 private:
  void CheckZipMode() const;
  void CheckUnzipMode() const;
  void SetLevel(TZipMethod Method, TZipLevel Level);
  // Forgets the aborted failure of an earlier operation.
  void StartOperation();
  // True when Path names the archive file this wrapper has open.
  bool IsOpenArchive(const String& Path) const;
  // PackDirectory below the directories (by identity) being walked; names
  // keeps the entry names of siblings that read alike apart.
  void PackDirectoryBelow(const String& MainDirPath, const String& PartDirPath, std::vector<TFileId>& walking,
                          TSiblingNames& names);
  void PackFile(const String& MainDirPath, const String& PartFilePath, const TSiblingNames& names);

  TZipOpenMode FMode = omNone;
  std::unique_ptr<TZipEngine> FZipEngine;
};

}  // namespace zo
