// The in-memory directory of an open archive: one TDirItem per entry, the
// growable entry array with its name index, and the directory manager that
// holds the current list, the rollback copy and the end records.
//
// Also here: how entry names become bytes (EncodeEntryName) and back
// (DecodeEntryName), and the writing of the central directory (SaveDir).
// Implemented in zip/ZipDirectory.cpp.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "core/String.h"
#include "zip/ZipErrors.h"
#include "zip/ZipFormat.h"
#include "zip/ZipStreams.h"

namespace zo {

struct TZEExtraFieldDataBlock {
  std::uint16_t headerID = 0;
  std::uint16_t dataSize = 0;
  Bytes pData;   // dataSize bytes
};

// Real values of the fields that hold a Zip64 marker.
struct TZEZip64ExtendedInfo {
  std::uint64_t uncompSize = 0;
  std::uint64_t compSize = 0;
  std::uint64_t relOffsetLH = 0;
  std::uint32_t diskNumberStart = 0;
};

// The parts of an entry that most entries do not have: held out of line, so
// that an ordinary entry costs its header fields, its name and a pointer.
struct TDirItemExtra {
  // The name as the archive holds it (see TDirItem::StoredName).
  Bytes StoredName;
  String OldName;
  AnsiText Comment;
  std::vector<TZEExtraFieldDataBlock> ExtraFields;   // as read, Zip64 block included
  TZEZip64ExtendedInfo Zip64ExtInfo;
  String Password;
  // A stream source: a caller's stream (not owned) or the engine's own copy.
  TStream* Stream = nullptr;
  std::shared_ptr<TStream> OwnedStream;
  std::int64_t Position = 0;
  // A file source that is not the shared directory followed by the name.
  String SrcFileName;
};

// An owning pointer that copies what it points to when it is copied itself,
// so that an entry keeps plain value semantics.
template <typename T>
class TOutOfLine {
 public:
  TOutOfLine() = default;
  TOutOfLine(const TOutOfLine& other) : FValue(other.FValue ? std::make_unique<T>(*other.FValue) : nullptr) {}
  TOutOfLine(TOutOfLine&&) noexcept = default;
  TOutOfLine& operator=(const TOutOfLine& other) {
    if (this != &other) FValue = other.FValue ? std::make_unique<T>(*other.FValue) : nullptr;
    return *this;
  }
  TOutOfLine& operator=(TOutOfLine&&) noexcept = default;

  const T* Get() const { return FValue.get(); }
  // The value, made when it is not there yet.
  T& Make() {
    if (!FValue) FValue = std::make_unique<T>();
    return *FValue;
  }

 private:
  std::unique_ptr<T> FValue;
};

// One entry: the central header fields (inherited, so item.crc32 reads as the
// record does) followed by everything the engine keeps about it. A directory
// may hold millions of entries, so an entry holds inline only what every
// entry needs; the rest lives in a TDirItemExtra made on first use.
struct TDirItem : TZEZipCentralDir {
  String Name;            // "/" separators, trailing "/" for a directory
  bool bHugeFile = false;
  bool Modified = false;
  bool Tagged = false;
  // Set on an entry rebuilt from its local header whose data descriptor
  // could not be found: its CRC and sizes are not known, so its data can
  // never be shown to be whole.
  bool SizesUnknown = false;
  // Set on a file the caller named itself (AddFromFile): a failure to open it
  // is the caller's, with the stream layer's own text and reason, rather
  // than a failure decision of the engine's.
  bool OpenFailureIsCallers = false;
  // Set on an entry read from an archive whose bytes it shares with another
  // entry, or with the central directory: its data is never extracted.
  bool Overlaps = false;
  std::uint16_t CompressionMethod = kZipMethodDeflate;
  std::uint8_t CompressionMode = 1;
  TZEProcessOperation Operation = poAdd;

  // The name as the archive holds it, for an entry read from an archive:
  // written back byte for byte (flags untouched) as long as the entry keeps
  // its name, so that its central and local names keep agreeing whatever
  // tool wrote them. Empty for entries of this engine's own making, and for
  // names of printable ASCII, whose bytes are the name itself.
  const Bytes& StoredName() const;
  void SetStoredName(const Bytes& bytes);
  void ClearStoredName();

  const AnsiText& Comment() const;
  void SetComment(AnsiText comment);
  const std::vector<TZEExtraFieldDataBlock>& ExtraFields() const;
  void SetExtraFields(std::vector<TZEExtraFieldDataBlock> fields);
  const TZEZip64ExtendedInfo& Zip64ExtInfo() const;
  const TDirItemExtra* Extra() const { return FExtra.Get(); }

  // Source of the data to store: a caller's stream (not owned) or the
  // engine's own copy (owned is then set and bDestroyStream() true), read
  // from position.
  TStream* Stream() const { return FExtra.Get() ? FExtra.Get()->Stream : nullptr; }
  std::int64_t Position() const { return FExtra.Get() ? FExtra.Get()->Position : 0; }
  bool bDestroyStream() const { return FExtra.Get() && FExtra.Get()->OwnedStream != nullptr; }
  void SetStream(TStream* stream, std::shared_ptr<TStream> owned, std::int64_t position);
  void ReleaseStream();

  // File source; empty for streams and directories. Most sources are one
  // directory followed by the entry's name: such an entry holds only a
  // pointer to that directory, shared with its neighbours through
  // sharedDir (the directory the last source went to).
  String SrcFileName() const;
  bool HasSrcFile() const { return FSrcDir != nullptr || (FExtra.Get() && !FExtra.Get()->SrcFileName.empty()); }
  void SetSrcFileName(const String& path, std::shared_ptr<const String>& sharedDir);

  // The entry's time as one DOS stamp (zip/ZipFormat.h): date high, time low.
  std::uint32_t DosStamp() const { return static_cast<std::uint32_t>(lastModDate) << 16 | lastModTime; }
  void SetDosStamp(std::uint32_t stamp) {
    lastModDate = static_cast<std::uint16_t>(stamp >> 16);
    lastModTime = static_cast<std::uint16_t>(stamp & 0xFFFF);
  }

  // The real 64-bit values, whichever field holds them.
  std::uint64_t UncompressedSize() const;
  std::uint64_t CompressedSize() const;
  std::uint64_t LocalHeaderOffset() const;
  // Each puts the value into its 32-bit field; when it does not fit there, or
  // forceZip64 asks for it, the field gets the marker, the value goes into the
  // Zip64 block and the entry becomes a huge one.
  void SetUncompressedSize(std::uint64_t value, bool forceZip64 = false);
  void SetCompressedSize(std::uint64_t value, bool forceZip64 = false);
  void SetLocalHeaderOffset(std::uint64_t value, bool forceZip64 = false);
  // The Zip64 block's values for a reader filling them in.
  TZEZip64ExtendedInfo& Zip64ExtInfoForWrite() { return FExtra.Make().Zip64ExtInfo; }
  void ResetZip64ExtInfo();
  bool IsDirectory() const;   // attribute faDirectory or a name ending in "/"

 private:
  TOutOfLine<TDirItemExtra> FExtra;
  std::shared_ptr<const String> FSrcDir;
};

// The entry array with an index of names in which ASCII letters count without
// case ("A.TXT" finds "a.txt"; "Ä" does not find "ä").
class TZEDirArray {
 public:
  TZEDirArray() = default;
  TZEDirArray(const TZEDirArray& other);
  TZEDirArray& operator=(const TZEDirArray& other);

  int Count() const { return static_cast<int>(FItems.size()); }
  TDirItem& operator[](int index) { return FItems[static_cast<std::size_t>(index)]; }
  const TDirItem& operator[](int index) const { return FItems[static_cast<std::size_t>(index)]; }

  // Appends and indexes the item; returns its index.
  int Add(TDirItem item);
  // Replaces the whole array by items, which it takes over without a copy,
  // and indexes them.
  void Assign(std::vector<TDirItem>&& items);
  // Makes room for count entries in all, so that adding them moves nothing.
  void ReserveFor(int count);
  void Delete(int index);
  void Clear();
  // The first entry with this name (ASCII case ignored), or -1.
  int IndexOf(StringView name) const;
  // The first entry with exactly this name, or -1.
  int IndexOfExact(StringView name) const;
  // Gives entry index its file source, sharing the directory part with the
  // entries registered before it where it is the same.
  void SetSrcFileName(int index, const String& path);
  // Gives entry index a new name; native 59 when another entry has it.
  void Rename(int index, const String& newName);

  // Growth step: starts at 500, doubles with each growth, at most MaxAllocBy.
  // The array grows by the step or by half its size, whichever is more. The
  // entries sit in blocks, so a growth reserves nothing but counts the room.
  static constexpr int kMaxAllocBy = 10000;
  int AllocBy() const { return FAllocBy; }

  // ASCII-only lower case (A-Z to a-z) and the engine's hash of a name: a
  // 32-bit accumulator rotated left by 2 and XOR-ed with each code unit.
  static String NameKey(StringView name);
  static std::uint32_t NameHash(StringView key);

 private:
  // The index does not bucket by NameHash: names that collide under it are
  // easy to make, and an archive full of them would turn every lookup into a
  // walk along one bucket. The table hashes the name, ASCII letters lowered,
  // with a keyed hash whose key is drawn once per process (ZipDirectory.cpp),
  // so no archive can be built to collide in it.
  //
  // It is an open-addressing table of entry numbers (index + 1; 0 free,
  // kRemoved a slot whose entry left), probed linearly, at most half full:
  // a few bytes per entry, with the names themselves only in the entries.
  static constexpr std::uint32_t kRemoved = 0xFFFFFFFF;
  static std::uint64_t KeyHash(StringView name);
  static bool SameKey(StringView a, StringView b);
  void IndexName(int index);
  void UnindexName(int index);
  void RebuildIndex();
  template <typename Match>
  int FirstIndexWhere(StringView name, Match match) const;

  // Entries in blocks: growing never moves an entry, nor needs room for the
  // old array and the new at once.
  std::deque<TDirItem> FItems;
  std::vector<std::uint32_t> FSlots;
  std::size_t FUsedSlots = 0;   // entries and removed slots
  std::size_t FRoom = 0;        // what the growth steps have made room for
  std::shared_ptr<const String> FSourceDir;   // the directory the last source went to
  int FAllocBy = 500;
};

// Name encoding for local and central headers alike. With oemFileNames the
// name goes in the OEM code page (CP437), without it in the ANSI code page
// (Windows-1252), when every reading of those bytes gives exactly the same
// name: DecodeEntryName, and for OEM names also plain CP437 and the
// conversion from OEM to ANSI that older readers apply. Otherwise it goes in
// UTF-8, and bit 11 (kZipFlagUtf8) is set in genPurposeFlag. The flag is
// never cleared here.
Bytes EncodeEntryName(StringView name, bool oemFileNames, std::uint16_t& genPurposeFlag);
// Bytes of a stored name back to text: valid UTF-8 that is not pure ASCII is
// UTF-8 (whatever the flag says; other tools leave it out); anything else is
// the OEM code page with oemFileNames and bit 11 clear, else the ANSI one.
String DecodeEntryName(const Bytes& bytes, bool oemFileNames, std::uint16_t genPurposeFlag);
// The Unicode path extra field (ID 0x7075, header included) that goes with
// the name bytes of a non-ASCII name into both headers: version 1, the CRC-32
// of nameBytes and the name in UTF-8. Tools that take names without bit 11
// in the host's character set, or ignore the bit, read the name from it
// (7z and bsdtar do the first, unzip 6.0 the second); a tool that renames the
// entry without knowing the field leaves a CRC that no longer matches, and
// the field is then ignored. Empty for an ASCII name, which reads the same
// everywhere, and for a name too long to keep the local extra field within
// what recovery reads.
Bytes UnicodePathExtra(StringView name, const Bytes& nameBytes);

// Settings the directory code needs from the engine.
struct TZEDirSettings {
  bool OEMFileNames = true;
};

class TZEDirManager {
 public:
  TZEDirArray CDir;     // current entries
  TZEDirArray RBCDir;   // copy taken when a transaction starts
  TZEZipCentralDirEnd CentralDirEnd;
  TZEZip64CentralDirEnd Zip64CentralDirEnd;
  TZEZip64CentralDirEndLocator Zip64CentralDirEndLocator;
  AnsiText ArchiveComment;
  std::int64_t StubSize = 0;          // offset of the first entry
  std::int64_t CentralDirOffset = 0;  // where the central directory starts
  bool FZip64 = false;                // the archive has Zip64 end records
  // The central directory could not be used and the entries were found by
  // their local headers instead (recovery). RecoveryComplete: that scan
  // accounted for every byte from the start of the archive to a central
  // directory right after the last entry, so no entry can be missing.
  bool Recovered = false;
  bool RecoveryComplete = false;

  // Writes the central directory of CDir and the end records (Zip64 ones
  // when the count reaches 65,535 or an offset 4 GiB) at the end of stream,
  // the directory in writes of about a mebibyte (one for most archives), the
  // end records in one. Errors go to
  // the caller. RecreateCDirEnd: recompute the end record (always true here).
  void SaveDir(bool RecreateCDirEnd, TStream& stream, const TZEDirSettings& settings);

  // Back to a new, empty archive.
  void Clear();
};

}  // namespace zo
