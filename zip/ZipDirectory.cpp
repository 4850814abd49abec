#include "zip/ZipDirectory.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "platform/CodePage.h"

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
  return unCompSize == kZip64Marker32 ? Zip64ExtInfo.uncompSize : unCompSize;
}
std::uint64_t TDirItem::CompressedSize() const {
  return compSize == kZip64Marker32 ? Zip64ExtInfo.compSize : compSize;
}
std::uint64_t TDirItem::LocalHeaderOffset() const {
  return relOffsetLH == kZip64Marker32 ? Zip64ExtInfo.relOffsetLH : relOffsetLH;
}
void TDirItem::SetUncompressedSize(std::uint64_t value, bool forceZip64) {
  SetWideField(*this, unCompSize, Zip64ExtInfo.uncompSize, value, forceZip64);
}
void TDirItem::SetCompressedSize(std::uint64_t value, bool forceZip64) {
  SetWideField(*this, compSize, Zip64ExtInfo.compSize, value, forceZip64);
}
void TDirItem::SetLocalHeaderOffset(std::uint64_t value, bool forceZip64) {
  SetWideField(*this, relOffsetLH, Zip64ExtInfo.relOffsetLH, value, forceZip64);
}
bool TDirItem::IsDirectory() const {
  return (externalAttr & 0x10) != 0 || (!Name.empty() && Name.back() == u'/');
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

std::uint64_t SipHash13(const SipKey& key, StringView text) {
  std::uint64_t v0 = key.k0 ^ 0x736f6d6570736575ull, v1 = key.k1 ^ 0x646f72616e646f6dull;
  std::uint64_t v2 = key.k0 ^ 0x6c7967656e657261ull, v3 = key.k1 ^ 0x7465646279746573ull;
  const std::size_t bytes = text.size() * 2;
  std::size_t i = 0;
  // Four code units make one 64-bit word, little-endian.
  for (; i + 4 <= text.size(); i += 4) {
    const std::uint64_t m = std::uint64_t{text[i]} | std::uint64_t{text[i + 1]} << 16 |
                            std::uint64_t{text[i + 2]} << 32 | std::uint64_t{text[i + 3]} << 48;
    v3 ^= m;
    SipRound(v0, v1, v2, v3);
    v0 ^= m;
  }
  std::uint64_t last = std::uint64_t{bytes & 0xFF} << 56;
  for (int shift = 0; i < text.size(); ++i, shift += 16) last |= std::uint64_t{text[i]} << shift;
  v3 ^= last;
  SipRound(v0, v1, v2, v3);
  v0 ^= last;
  v2 ^= 0xFF;
  for (int r = 0; r < 3; ++r) SipRound(v0, v1, v2, v3);
  return v0 ^ v1 ^ v2 ^ v3;
}

}  // namespace

std::size_t TZEDirArray::KeyHash::operator()(const String& key) const {
  return static_cast<std::size_t>(SipHash13(ProcessSipKey(), key));
}

void TZEDirArray::Reserve() {
  if (FItems.size() < FItems.capacity()) return;
  // At least the growth step, and at least half again what is there: a
  // fixed step alone would copy the whole array once per step, which makes
  // loading a directory of a million entries quadratic.
  const std::size_t step = std::max(static_cast<std::size_t>(FAllocBy), FItems.capacity() / 2);
  FItems.reserve(FItems.capacity() + step);
  FAllocBy = std::min(FAllocBy * 2, kMaxAllocBy);
}

void TZEDirArray::IndexName(int index) {
  std::vector<int>& slots = FItemNamesList[NameKey(FItems[static_cast<std::size_t>(index)].Name)];
  slots.insert(std::lower_bound(slots.begin(), slots.end(), index), index);
}

void TZEDirArray::RebuildIndex() {
  FItemNamesList.clear();
  FItemNamesList.reserve(FItems.size());
  for (int i = 0; i < Count(); ++i) IndexName(i);
}

int TZEDirArray::Add(TDirItem item) {
  Reserve();
  FItems.push_back(std::move(item));
  IndexName(Count() - 1);
  return Count() - 1;
}

void TZEDirArray::Assign(std::vector<TDirItem>&& items) {
  FItems = std::move(items);
  RebuildIndex();
}

void TZEDirArray::ReserveFor(int count) {
  if (count > 0) FItems.reserve(static_cast<std::size_t>(count));
}

void TZEDirArray::Delete(int index) {
  if (index < 0 || index >= Count()) throw EZEException(kZENativeIndexOutOfBounds);
  FItems.erase(FItems.begin() + index);
  RebuildIndex();
}

void TZEDirArray::Clear() {
  FItems.clear();
  FItemNamesList.clear();
}

int TZEDirArray::IndexOf(StringView name) const {
  const auto found = FItemNamesList.find(NameKey(name));
  if (found == FItemNamesList.end() || found->second.empty()) return -1;
  return found->second.front();
}

int TZEDirArray::IndexOfExact(StringView name) const {
  const auto found = FItemNamesList.find(NameKey(name));
  if (found == FItemNamesList.end()) return -1;
  for (const int index : found->second) {
    if (FItems[static_cast<std::size_t>(index)].Name == name) return index;
  }
  return -1;
}

void TZEDirArray::Rename(int index, const String& newName) {
  if (index < 0 || index >= Count()) throw EZEException(kZENativeIndexOutOfBounds);
  const int existing = IndexOf(newName);
  if (existing >= 0 && existing != index) throw EZEException(kZENativeNameIndexClash);
  TDirItem& item = FItems[static_cast<std::size_t>(index)];
  auto old = FItemNamesList.find(NameKey(item.Name));
  if (old != FItemNamesList.end()) {
    std::erase(old->second, index);
    if (old->second.empty()) FItemNamesList.erase(old);
  }
  item.Name = newName;
  item.StoredName.clear();
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
  if (item.unCompSize == kZip64Marker32) Append64(data, item.Zip64ExtInfo.uncompSize);
  if (item.compSize == kZip64Marker32) Append64(data, item.Zip64ExtInfo.compSize);
  if (item.relOffsetLH == kZip64Marker32) Append64(data, item.Zip64ExtInfo.relOffsetLH);
  if (item.diskNumberStart == kZip64Marker16) Append32(data, item.Zip64ExtInfo.diskNumberStart);
  return data;
}

std::uint32_t Clamp32(std::uint64_t value) {
  return value >= kZip64Marker32 ? kZip64Marker32 : static_cast<std::uint32_t>(value);
}

}  // namespace

void TZEDirManager::SaveDir(bool RecreateCDirEnd, TStream& stream, const TZEDirSettings& settings) {
  CentralDirOffset = stream.Seek(0, soEnd);

  Bytes buffer;
  for (int i = 0; i < CDir.Count(); ++i) {
    TDirItem& item = CDir[i];
    const Bytes zip64 = CentralZip64Extra(item);
    // A name encoded here gets its Unicode path field anew; an entry taken
    // over from the archive keeps its name bytes and fields as they were.
    const bool encoded = item.StoredName.empty();
    const Bytes name = encoded ? EncodeEntryName(item.Name, settings.OEMFileNames, item.genPurposeFlag) : item.StoredName;
    const Bytes pathExtra = encoded ? UnicodePathExtra(item.Name, name) : Bytes();
    auto keptField = [&](const TZEExtraFieldDataBlock& block) {
      return block.headerID != kZip64ExtraId && !(encoded && block.headerID == kUnicodePathExtraId);
    };
    std::size_t extra = (zip64.empty() ? 0 : 4 + zip64.size()) + pathExtra.size();
    for (const TZEExtraFieldDataBlock& block : item.ExtraFields) {
      if (keptField(block)) extra += 4 + block.pData.size();
    }
    item.nameLength = static_cast<std::uint16_t>(name.size());
    item.extraLength = static_cast<std::uint16_t>(extra);
    item.commentLength = static_cast<std::uint16_t>(item.Comment.size());

    std::uint8_t header[kZipCentralHeaderSize];
    static_cast<const TZEZipCentralDir&>(item).Write(header);
    buffer.insert(buffer.end(), header, header + kZipCentralHeaderSize);
    buffer.insert(buffer.end(), name.begin(), name.end());
    if (!zip64.empty()) {
      Append16(buffer, kZip64ExtraId);
      Append16(buffer, static_cast<std::uint16_t>(zip64.size()));
      buffer.insert(buffer.end(), zip64.begin(), zip64.end());
    }
    buffer.insert(buffer.end(), pathExtra.begin(), pathExtra.end());
    for (const TZEExtraFieldDataBlock& block : item.ExtraFields) {
      if (!keptField(block)) continue;
      Append16(buffer, block.headerID);
      Append16(buffer, static_cast<std::uint16_t>(block.pData.size()));
      buffer.insert(buffer.end(), block.pData.begin(), block.pData.end());
    }
    buffer.insert(buffer.end(), item.Comment.begin(), item.Comment.end());
  }
  stream.WriteBuffer(buffer.data(), static_cast<std::int64_t>(buffer.size()));

  const std::uint64_t count = static_cast<std::uint64_t>(CDir.Count());
  const std::uint64_t dirSize = buffer.size();
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
