// One entry's data, checked and read out of the archive: the only part of the
// engine that extraction workers run.
//
// A TEntryData is a read-only view of the archive stream and its directory.
// Several threads may use one at once, and that is safe for two reasons the
// engine keeps during an extraction pass: nothing changes the directory
// (no transaction runs, ExtractFiles refuses to start inside one), and every
// read is positional (ReadAt on a stream whose ConcurrentReads() is true), so
// no thread moves a position another one relies on. The view holds no hook,
// no setting that could change, and no state of the pass.
#pragma once

#include <cstdint>
#include <optional>

#include "zip/ZipDirectory.h"
#include "zip/ZipFormat.h"
#include "zip/ZipStreams.h"

namespace zo {

// A deflated entry whose data and output are each at most kWholeInflateLimit
// bytes is inflated whole, in one call, while the buffers of all such calls
// of the process (kept from entry to entry) hold at most kWholeInflateBudget
// bytes of input and output together; any other entry, or one that finds the
// budget spent, streams through zlib in pieces. With 16 workers the pass then
// holds at most the budget beside the streaming workers' buffers, however
// large the entries are.
inline constexpr std::uint64_t kWholeInflateLimit = 16 * 1048576;
inline constexpr std::uint64_t kWholeInflateBudget = 24 * 1048576;

class TEntryData {
 public:
  TEntryData(TStream& archive, const TZEDirManager& dir, bool oemFileNames, bool extractCorrupted)
      : FArchive(archive), FDir(dir), FOEMFileNames(oemFileNames), FExtractCorrupted(extractCorrupted) {}

  // What can be known wrong with entry index before its data is read (it is
  // encrypted, overlaps another entry, its sizes are lost, its local header
  // is missing or disagrees with it) raises here; returns its local header.
  std::optional<TZELocalFileHeader> Check(int index) const;

  // Writes the data of entry index, which Check passed with local, to target
  // with the size and CRC checks. Runs on any thread.
  void Extract(int index, const std::optional<TZELocalFileHeader>& local, TStream& target) const;

 private:
  TStream& FArchive;
  const TZEDirManager& FDir;
  bool FOEMFileNames;
  bool FExtractCorrupted;
};

// Raises native 67 for an encrypted entry: nothing here can decrypt it.
void CheckNotEncrypted(const TDirItem& item);

}  // namespace zo
