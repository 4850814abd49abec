#include "zip/ZipDirectory.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "platform/CodePage.h"
#include "platform/FileSystem.h"

namespace zo {

// --- TDirItem --------------------------------------------------------------------

namespace {

void SetWideField(TDirItem& item, std::uint32_t& field, std::uint64_t& wide, std::uint64_t value,
                  bool forceZip64) {
  if (value >= kZip64Marker32 || forceZip64) {
    field = kZip64Marker32;
    wide = value;
    item.bHugeFile = true;
  } else {
    field = static_cast<std::uint32_t>(value);
  }
}

}  // namespace

std::uint64_t TDirItem::UncompressedSize() const {
  return unCompSize == kZip64Marker32 ? Zip64ExtInfo().uncompSize : unCompSize;
}
std::uint64_t TDirItem::CompressedSize() const {
  return compSize == kZip64Marker32 ? Zip64ExtInfo().compSize : compSize;
}
std::uint64_t TDirItem::LocalHeaderOffset() const {
  return relOffsetLH == kZip64Marker32 ? Zip64ExtInfo().relOffsetLH : relOffsetLH;
}
void TDirItem::SetUncompressedSize(std::uint64_t value, bool forceZip64) {
  if (value >= kZip64Marker32 || forceZip64) {
    SetWideField(*this, unCompSize, Zip64ExtInfoForWrite().uncompSize, value, true);
  } else {
    unCompSize = static_cast<std::uint32_t>(value);
  }
}
void TDirItem::SetCompressedSize(std::uint64_t value, bool forceZip64) {
  if (value >= kZip64Marker32 || forceZip64) {
    SetWideField(*this, compSize, Zip64ExtInfoForWrite().compSize, value, true);
  } else {
    compSize = static_cast<std::uint32_t>(value);
  }
}
void TDirItem::SetLocalHeaderOffset(std::uint64_t value, bool forceZip64) {
  if (value >= kZip64Marker32 || forceZip64) {
    SetWideField(*this, relOffsetLH, Zip64ExtInfoForWrite().relOffsetLH, value, true);
  } else {
    relOffsetLH = static_cast<std::uint32_t>(value);
  }
}

namespace {

const TDirItemExtra& NoExtra() {
  static const TDirItemExtra none;
  return none;
}

// Whether bytes read back as exactly name under every reading rule: printable
// ASCII, one byte per character. Such a name needs no copy of its bytes.
bool IsPlainAsciiName(const Bytes& bytes, StringView name) {
  if (bytes.size() != name.size()) return false;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] < 0x20 || bytes[i] > 0x7E || name[i] != bytes[i]) return false;
  }
  return true;
}

}  // namespace

const Bytes& TDirItem::StoredName() const { return (FExtra.Get() ? *FExtra.Get() : NoExtra()).StoredName; }
void TDirItem::SetStoredName(const Bytes& bytes) {
  if (IsPlainAsciiName(bytes, Name)) {
    ClearStoredName();
  } else {
    FExtra.Make().StoredName = bytes;
  }
}
void TDirItem::ClearStoredName() {
  if (FExtra.Get()) FExtra.Make().StoredName = Bytes();
}
const AnsiText& TDirItem::Comment() const { return (FExtra.Get() ? *FExtra.Get() : NoExtra()).Comment; }
void TDirItem::SetComment(AnsiText comment) {
  if (!comment.empty() || FExtra.Get()) FExtra.Make().Comment = std::move(comment);
}
const std::vector<TZEExtraFieldDataBlock>& TDirItem::ExtraFields() const {
  return (FExtra.Get() ? *FExtra.Get() : NoExtra()).ExtraFields;
}
void TDirItem::SetExtraFields(std::vector<TZEExtraFieldDataBlock> fields) {
  if (!fields.empty() || FExtra.Get()) FExtra.Make().ExtraFields = std::move(fields);
}
const TZEZip64ExtendedInfo& TDirItem::Zip64ExtInfo() const {
  return (FExtra.Get() ? *FExtra.Get() : NoExtra()).Zip64ExtInfo;
}
void TDirItem::ResetZip64ExtInfo() {
  if (FExtra.Get()) FExtra.Make().Zip64ExtInfo = TZEZip64ExtendedInfo{};
}
void TDirItem::SetStream(TStream* stream, std::shared_ptr<TStream> owned, std::int64_t position) {
  TDirItemExtra& extra = FExtra.Make();
  extra.Stream = stream;
  extra.OwnedStream = std::move(owned);
  extra.Position = position;
}
void TDirItem::ReleaseStream() {
  if (!FExtra.Get()) return;
  TDirItemExtra& extra = FExtra.Make();
  extra.Stream = nullptr;
  extra.OwnedStream.reset();
}

String TDirItem::SrcFileName() const {
  if (FSrcDir == nullptr) return (FExtra.Get() ? *FExtra.Get() : NoExtra()).SrcFileName;
  // A directory's source path has no trailing '/', its name has one.
  StringView name = Name;
  if (!name.empty() && name.back() == u'/') name.remove_suffix(1);
  String path;
  path.reserve(FSrcDir->size() + name.size());
  path.append(*FSrcDir).append(name);
  return path;
}

void TDirItem::SetSrcFileName(const String& path, std::shared_ptr<const String>& sharedDir) {
  FSrcDir.reset();
  if (FExtra.Get()) FExtra.Make().SrcFileName.clear();
  if (path.empty()) return;
  StringView name = Name;
  if (!name.empty() && name.back() == u'/') name.remove_suffix(1);
  const StringView whole = path;
  if (!name.empty() && whole.ends_with(name)) {
    const StringView dir = whole.substr(0, whole.size() - name.size());
    if (sharedDir == nullptr || *sharedDir != dir) sharedDir = std::make_shared<const String>(dir);
    FSrcDir = sharedDir;
  } else {
    FExtra.Make().SrcFileName = path;
  }
}

bool TDirItem::IsDirectory() const {
  return (externalAttr & faDirectory) != 0 || (!Name.empty() && Name.back() == u'/');
}

// --- TZEDirArray -------------------------------------------------------------------

TZEDirArray::TZEDirArray(const TZEDirArray& other) = default;
TZEDirArray& TZEDirArray::operator=(const TZEDirArray& other) = default;

String TZEDirArray::NameKey(StringView name) {
  String key(name);
  for (char16_t& c : key) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + (u'a' - u'A'));
  }
  return key;
}

std::uint32_t TZEDirArray::NameHash(StringView key) {
  std::uint32_t hash = 0;
  for (char16_t c : key) hash = ((hash << 2) | (hash >> 30)) ^ c;
  return hash;
}

namespace {

// SipHash-1-3 of the key's code units (RFC-style 64-bit output) under a
// 128-bit key drawn from the system's random source once per process.
struct SipKey {
  std::uint64_t k0, k1;
};

const SipKey& ProcessSipKey() {
  static const SipKey key = [] {
    std::random_device random;
    auto draw64 = [&] { return (std::uint64_t{random()} << 32) ^ random(); };
    return SipKey{draw64(), draw64()};
  }();
  return key;
}

inline std::uint64_t RotL(std::uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

inline void SipRound(std::uint64_t& v0, std::uint64_t& v1, std::uint64_t& v2, std::uint64_t& v3) {
  v0 += v1; v1 = RotL(v1, 13); v1 ^= v0; v0 = RotL(v0, 32);
  v2 += v3; v3 = RotL(v3, 16); v3 ^= v2;
  v0 += v3; v3 = RotL(v3, 21); v3 ^= v0;
  v2 += v1; v1 = RotL(v1, 17); v1 ^= v2; v2 = RotL(v2, 32);
}

inline std::uint64_t LowerAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? c + (u'a' - u'A') : c; }

// The hash of the name's key (ASCII letters lowered) without making the key.
std::uint64_t SipHash13(const SipKey& key, StringView text) {
  std::uint64_t v0 = key.k0 ^ 0x736f6d6570736575ull, v1 = key.k1 ^ 0x646f72616e646f6dull;
  std::uint64_t v2 = key.k0 ^ 0x6c7967656e657261ull, v3 = key.k1 ^ 0x7465646279746573ull;
  const std::size_t bytes = text.size() * 2;
  std::size_t i = 0;
  // Four code units make one 64-bit word, little-endian.
  for (; i + 4 <= text.size(); i += 4) {
    const std::uint64_t m = LowerAscii(text[i]) | LowerAscii(text[i + 1]) << 16 | LowerAscii(text[i + 2]) << 32 |
                            LowerAscii(text[i + 3]) << 48;
    v3 ^= m;
    SipRound(v0, v1, v2, v3);
    v0 ^= m;
  }
  std::uint64_t last = std::uint64_t{bytes & 0xFF} << 56;
  for (int shift = 0; i < text.size(); ++i, shift += 16) last |= LowerAscii(text[i]) << shift;
  v3 ^= last;
  SipRound(v0, v1, v2, v3);
  v0 ^= last;
  v2 ^= 0xFF;
  for (int r = 0; r < 3; ++r) SipRound(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace

std::uint64_t TZEDirArray::KeyHash(StringView name) { return SipHash13(ProcessSipKey(), name); }

bool TZEDirArray::SameKey(StringView a, StringView b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

void TZEDirArray::IndexName(int index) {
  // At most half full, counting removed slots, so that probes stay short and
  // always end at a free slot; a rebuild indexes every entry, this one too.
  if ((FUsedSlots + 1) * 2 > FSlots.size()) {
    RebuildIndex();
    return;
  }
  const std::size_t mask = FSlots.size() - 1;
  std::size_t slot = static_cast<std::size_t>(KeyHash(FItems[static_cast<std::size_t>(index)].Name)) & mask;
  while (FSlots[slot] != 0 && FSlots[slot] != kRemoved) slot = (slot + 1) & mask;
  if (FSlots[slot] == 0) ++FUsedSlots;
  FSlots[slot] = static_cast<std::uint32_t>(index) + 1;
}

void TZEDirArray::UnindexName(int index) {
  if (FSlots.empty()) return;
  const std::size_t mask = FSlots.size() - 1;
  const std::uint32_t wanted = static_cast<std::uint32_t>(index) + 1;
  for (std::size_t slot = static_cast<std::size_t>(KeyHash(FItems[static_cast<std::size_t>(index)].Name)) & mask;
       FSlots[slot] != 0; slot = (slot + 1) & mask) {
    if (FSlots[slot] == wanted) {
      FSlots[slot] = kRemoved;
      return;
    }
  }
}

void TZEDirArray::RebuildIndex() {
  // Room for twice the entries: a table at most half full after the rebuild.
  std::size_t size = 16;
  while (size < FItems.size() * 2) size *= 2;
  FSlots.assign(size, 0);
  FUsedSlots = 0;
  const int count = Count();
  for (int i = 0; i < count; ++i) IndexName(i);
}

template <typename Match>
int TZEDirArray::FirstIndexWhere(StringView name, Match match) const {
  if (FSlots.empty()) return -1;
  // Archives written elsewhere may hold one name twice: the first entry wins.
  int first = -1;
  const std::size_t mask = FSlots.size() - 1;
  for (std::size_t slot = static_cast<std::size_t>(KeyHash(name)) & mask; FSlots[slot] != 0;
       slot = (slot + 1) & mask) {
    if (FSlots[slot] == kRemoved) continue;
    const int index = static_cast<int>(FSlots[slot] - 1);
    if ((first < 0 || index < first) && match(FItems[static_cast<std::size_t>(index)].Name)) first = index;
  }
  return first;
}

int TZEDirArray::Add(TDirItem item) {
  if (FItems.size() >= FRoom) {
    // At least the growth step, and at least half again what is there.
    FRoom += std::max(static_cast<std::size_t>(FAllocBy), FRoom / 2);
    FAllocBy = std::min(FAllocBy * 2, kMaxAllocBy);
  }
  FItems.push_back(std::move(item));
  IndexName(Count() - 1);
  return Count() - 1;
}

void TZEDirArray::Assign(std::vector<TDirItem>&& items) {
  FItems.clear();
  for (TDirItem& item : items) FItems.push_back(std::move(item));
  items = std::vector<TDirItem>();
  FRoom = FItems.size();
  RebuildIndex();
}

void TZEDirArray::ReserveFor(int count) {
  // The entries need no room made in advance; the index does, so that
  // loading a directory never rehashes it.
  const std::size_t wanted = std::max(static_cast<std::size_t>(std::max(count, 0)), FItems.size());
  if (wanted * 2 <= FSlots.size()) return;
  std::size_t size = 16;
  while (size < wanted * 2) size *= 2;
  FSlots.assign(size, 0);
  FUsedSlots = 0;
  const int existing = Count();
  for (int i = 0; i < existing; ++i) IndexName(i);
}

void TZEDirArray::Delete(int index) {
  if (index < 0 || index >= Count()) throw EZEException(kZENativeIndexOutOfBounds);
  FItems.erase(FItems.begin() + index);
  RebuildIndex();
}

void TZEDirArray::Clear() {
  FItems.clear();
  FSourceDir.reset();
  FSlots.clear();
  FUsedSlots = 0;
  FRoom = 0;
}

int TZEDirArray::IndexOf(StringView name) const {
  return FirstIndexWhere(name, [&](const String& candidate) { return SameKey(candidate, name); });
}

int TZEDirArray::IndexOfExact(StringView name) const {
  return FirstIndexWhere(name, [&](const String& candidate) { return candidate == name; });
}

void TZEDirArray::SetSrcFileName(int index, const String& path) {
  if (index < 0 || index >= Count()) throw EZEException(kZENativeIndexOutOfBounds);
  FItems[static_cast<std::size_t>(index)].SetSrcFileName(path, FSourceDir);
}

void TZEDirArray::Rename(int index, const String& newName) {
  if (index < 0 || index >= Count()) throw EZEException(kZENativeIndexOutOfBounds);
  const int existing = IndexOf(newName);
  if (existing >= 0 && existing != index) throw EZEException(kZENativeNameIndexClash);
  TDirItem& item = FItems[static_cast<std::size_t>(index)];
  // A file source may be held as a directory followed by the name: it keeps
  // its path through the new name.
  const String source = item.SrcFileName();
  UnindexName(index);
  item.Name = newName;
  item.ClearStoredName();
  item.SetSrcFileName(source, FSourceDir);
  IndexName(index);
}

// --- Name encoding -------------------------------------------------------------------

namespace {

Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// Whether code-page bytes without bit 11 give the name back to every reader
// that matters: this engine's own (which takes bytes that form UTF-8 as
// UTF-8); with OEM names, a reader that takes them as plain OEM text, as most
// tools do; and one that follows the format's old rule, converting them from
// the OEM to the ANSI code page first and then reading UTF-8 or ANSI. A name
// only one code page holds ("Σ" in CP437 alone, "€" in Windows-1252 alone)
// fails one of them.
bool CodePageBytesReadBack(const std::string& bytes, bool oemFileNames, StringView name) {
  if (DecodeEntryName(AsBytes(bytes), oemFileNames, 0) != name) return false;
  if (!oemFileNames) return true;
  if (DecodeCodePage(bytes, cpOem) != name) return false;
  return DecodeEntryName(AsBytes(ConvertCodePage(bytes, cpOem, cpAnsi)), false, 0) == name;
}

}  // namespace

Bytes EncodeEntryName(StringView name, bool oemFileNames, std::uint16_t& genPurposeFlag) {
  std::string bytes;
  bool exact = false;
  // A name already marked UTF-8 stays UTF-8: code-page bytes under the flag
  // would be read back as broken UTF-8.
  if ((genPurposeFlag & kZipFlagUtf8) == 0) {
    // The name goes in the code page only when every reading gives it back
    // unchanged: a name that would come back with '?' in it, or whose
    // code-page bytes happen to form UTF-8 ("ßäö" in CP437 among them), is
    // stored in UTF-8 instead, so no name is ever changed.
    bytes = EncodeCodePage(name, oemFileNames ? cpOem : cpAnsi, &exact);
    exact = exact && CodePageBytesReadBack(bytes, oemFileNames, name);
  }
  if (!exact) {
    bytes = EncodeCodePage(name, cpUtf8);
    genPurposeFlag |= kZipFlagUtf8;
  }
  return AsBytes(bytes);
}

String DecodeEntryName(const Bytes& bytes, bool oemFileNames, std::uint16_t genPurposeFlag) {
  const std::string_view view(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const bool ascii = std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b < 0x80; });
  if (!ascii && IsValidUtf8(view)) return DecodeCodePage(view, cpUtf8);
  const bool oem = oemFileNames && (genPurposeFlag & kZipFlagUtf8) == 0;
  return DecodeCodePage(view, oem ? cpOem : cpAnsi);
}

Bytes UnicodePathExtra(StringView name, const Bytes& nameBytes) {
  if (std::all_of(name.begin(), name.end(), [](char16_t c) { return c < 0x80; })) return {};
  const std::string utf8 = EncodeCodePage(name, cpUtf8);
  // Recovery reads local extra fields of up to 260 bytes, the Zip64 sizes
  // (20 bytes) included.
  constexpr std::size_t kMaxUtf8 = 260 - 20 - 9;
  if (utf8.size() > kMaxUtf8) return {};
  Bytes block(9 + utf8.size());
  PutLE16(block.data(), kUnicodePathExtraId);
  PutLE16(block.data() + 2, static_cast<std::uint16_t>(5 + utf8.size()));
  block[4] = 1;
  PutLE32(block.data() + 5, UpdateCrc32(0, nameBytes.data(), nameBytes.size()));
  std::memcpy(block.data() + 9, utf8.data(), utf8.size());
  return block;
}

// --- TZEDirManager -------------------------------------------------------------------

namespace {

void Append16(Bytes& out, std::uint16_t v) {
  std::uint8_t b[2];
  PutLE16(b, v);
  out.insert(out.end(), b, b + 2);
}
void Append32(Bytes& out, std::uint32_t v) {
  std::uint8_t b[4];
  PutLE32(b, v);
  out.insert(out.end(), b, b + 4);
}
void Append64(Bytes& out, std::uint64_t v) {
  std::uint8_t b[8];
  PutLE64(b, v);
  out.insert(out.end(), b, b + 8);
}

// The Zip64 extra block of a central header: a value for each field that
// holds the marker, in the fixed order; empty when no field needs one.
Bytes CentralZip64Extra(const TDirItem& item) {
  Bytes data;
  const TZEZip64ExtendedInfo& wide = item.Zip64ExtInfo();
  if (item.unCompSize == kZip64Marker32) Append64(data, wide.uncompSize);
  if (item.compSize == kZip64Marker32) Append64(data, wide.compSize);
  if (item.relOffsetLH == kZip64Marker32) Append64(data, wide.relOffsetLH);
  if (item.diskNumberStart == kZip64Marker16) Append32(data, wide.diskNumberStart);
  return data;
}

std::uint32_t Clamp32(std::uint64_t value) {
  return value >= kZip64Marker32 ? kZip64Marker32 : static_cast<std::uint32_t>(value);
}

}  // namespace

void TZEDirManager::SaveDir(bool RecreateCDirEnd, TStream& stream, const TZEDirSettings& settings) {
  CentralDirOffset = stream.Seek(0, soEnd);

  // The name bytes of an entry and its Unicode path field, with its header's
  // length fields set. A name encoded here gets its Unicode path field anew;
  // an entry taken over from the archive keeps its name bytes and fields as
  // they were.
  struct TEncodedName {
    Bytes Name;
    Bytes PathExtra;
    bool Kept(const TZEExtraFieldDataBlock& block) const {
      return block.headerID != kZip64ExtraId && !(!PathExtra.empty() && block.headerID == kUnicodePathExtraId);
    }
  };
  auto nameOf = [&](TDirItem& item, const Bytes& zip64) {
    TEncodedName encoded;
    const bool fresh = item.StoredName().empty();
    encoded.Name = fresh ? EncodeEntryName(item.Name, settings.OEMFileNames, item.genPurposeFlag) : item.StoredName();
    if (fresh) encoded.PathExtra = UnicodePathExtra(item.Name, encoded.Name);
    std::size_t extra = (zip64.empty() ? 0 : 4 + zip64.size()) + encoded.PathExtra.size();
    for (const TZEExtraFieldDataBlock& block : item.ExtraFields()) {
      if (encoded.Kept(block)) extra += 4 + block.pData.size();
    }
    item.nameLength = static_cast<std::uint16_t>(encoded.Name.size());
    item.extraLength = static_cast<std::uint16_t>(extra);
    item.commentLength = static_cast<std::uint16_t>(item.Comment().size());
    return encoded;
  };
  // The directory goes out in pieces of about kDirPieceBytes: one write for
  // all but the largest directories, without a copy of a directory of
  // millions of entries in memory beside the entries themselves.
  constexpr std::size_t kDirPieceBytes = std::size_t{1} << 20;
  Bytes buffer;
  buffer.reserve(kDirPieceBytes);
  std::uint64_t dirSize = 0;
  auto flush = [&] {
    stream.WriteBuffer(buffer.data(), static_cast<std::int64_t>(buffer.size()));
    dirSize += buffer.size();
    buffer.clear();
  };
  for (int i = 0; i < CDir.Count(); ++i) {
    TDirItem& item = CDir[i];
    const Bytes zip64 = CentralZip64Extra(item);
    const TEncodedName encoded = nameOf(item, zip64);
    const Bytes& name = encoded.Name;
    if (!buffer.empty() &&
        buffer.size() + kZipCentralHeaderSize + item.nameLength + item.extraLength + item.commentLength > kDirPieceBytes)
      flush();

    std::uint8_t header[kZipCentralHeaderSize];
    static_cast<const TZEZipCentralDir&>(item).Write(header);
    buffer.insert(buffer.end(), header, header + kZipCentralHeaderSize);
    buffer.insert(buffer.end(), name.begin(), name.end());
    if (!zip64.empty()) {
      Append16(buffer, kZip64ExtraId);
      Append16(buffer, static_cast<std::uint16_t>(zip64.size()));
      buffer.insert(buffer.end(), zip64.begin(), zip64.end());
    }
    buffer.insert(buffer.end(), encoded.PathExtra.begin(), encoded.PathExtra.end());
    for (const TZEExtraFieldDataBlock& block : item.ExtraFields()) {
      if (!encoded.Kept(block)) continue;
      Append16(buffer, block.headerID);
      Append16(buffer, static_cast<std::uint16_t>(block.pData.size()));
      buffer.insert(buffer.end(), block.pData.begin(), block.pData.end());
    }
    buffer.insert(buffer.end(), item.Comment().begin(), item.Comment().end());
  }
  flush();

  const std::uint64_t count = static_cast<std::uint64_t>(CDir.Count());
  const std::uint64_t dirEnd = static_cast<std::uint64_t>(CentralDirOffset) + dirSize;
  if (RecreateCDirEnd) {
    CentralDirEnd = TZEZipCentralDirEnd{};
    CentralDirEnd.entriesOnDisk = count <= 0xFFFE ? static_cast<std::uint16_t>(count) : kZip64Marker16;
    CentralDirEnd.entriesCentralDir = CentralDirEnd.entriesOnDisk;
    CentralDirEnd.centralDirSize = Clamp32(dirSize);
    CentralDirEnd.offsetStartDir = Clamp32(static_cast<std::uint64_t>(CentralDirOffset));
    CentralDirEnd.commentLength = static_cast<std::uint16_t>(ArchiveComment.size());
  }

  Bytes tail;
  FZip64 = dirEnd >= kZip64Marker32 || count >= 0xFFFF;
  if (FZip64) {
    Zip64CentralDirEnd = TZEZip64CentralDirEnd{};
    Zip64CentralDirEnd.entriesOnDisk = count;
    Zip64CentralDirEnd.entriesCentralDir = count;
    Zip64CentralDirEnd.centralDirSize = dirSize;
    Zip64CentralDirEnd.offsetStartDir = static_cast<std::uint64_t>(CentralDirOffset);
    Zip64CentralDirEndLocator = TZEZip64CentralDirEndLocator{};
    Zip64CentralDirEndLocator.offsetStartDirEnd = dirEnd;
    std::uint8_t record[kZip64EndRecordSize + kZip64EndLocatorSize];
    Zip64CentralDirEnd.Write(record);
    Zip64CentralDirEndLocator.Write(record + kZip64EndRecordSize);
    tail.insert(tail.end(), record, record + sizeof record);
  }
  std::uint8_t end[kZipEndRecordSize];
  CentralDirEnd.Write(end);
  tail.insert(tail.end(), end, end + kZipEndRecordSize);
  tail.insert(tail.end(), ArchiveComment.begin(), ArchiveComment.end());
  stream.WriteBuffer(tail.data(), static_cast<std::int64_t>(tail.size()));
}

void TZEDirManager::Clear() {
  CDir.Clear();
  RBCDir.Clear();
  CentralDirEnd = TZEZipCentralDirEnd{};
  Zip64CentralDirEnd = TZEZip64CentralDirEnd{};
  Zip64CentralDirEndLocator = TZEZip64CentralDirEndLocator{};
  ArchiveComment.clear();
  StubSize = 0;
  CentralDirOffset = 0;
  FZip64 = false;
  Recovered = false;
  RecoveryComplete = false;
}

}  // namespace zo
