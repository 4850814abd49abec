// The small pieces declared in zip/ZipReadSupport.h.

#include "zip/ZipReadSupport.h"

#include <algorithm>
#include <cstring>

#include "core/StringUtils.h"
#include "platform/FileSystem.h"

namespace zo {

std::int64_t ReadAt(TStream& stream, std::int64_t position, void* buffer, std::int64_t count) {
  return stream.ReadAt(position, buffer, count);
}

std::vector<TZEExtraFieldDataBlock> ParseExtraFields(const std::uint8_t* data, std::size_t size) {
  std::vector<TZEExtraFieldDataBlock> blocks;
  std::size_t pos = 0;
  while (size - pos >= 4) {
    TZEExtraFieldDataBlock block;
    block.headerID = GetLE16(data + pos);
    const std::size_t claimed = GetLE16(data + pos + 2);
    pos += 4;
    const std::size_t length = std::min(claimed, size - pos);  // cut to what remains
    block.dataSize = static_cast<std::uint16_t>(length);
    block.pData.assign(data + pos, data + pos + length);
    pos += length;
    blocks.push_back(std::move(block));
  }
  return blocks;
}

bool ApplyZip64Extra(TDirItem& item, const TZEExtraFieldDataBlock& block) {
  const Bytes& d = block.pData;
  std::size_t pos = 0;
  bool complete = true;
  auto take64 = [&](std::uint64_t& target) {
    if (d.size() - pos < 8) {
      complete = false;
      return;
    }
    target = GetLE64(d.data() + pos);
    pos += 8;
  };
  TZEZip64ExtendedInfo& wide = item.Zip64ExtInfoForWrite();
  if (item.unCompSize == kZip64Marker32) take64(wide.uncompSize);
  if (item.compSize == kZip64Marker32) take64(wide.compSize);
  if (item.relOffsetLH == kZip64Marker32) take64(wide.relOffsetLH);
  if (item.diskNumberStart == kZip64Marker16 && d.size() - pos >= 4) {
    wide.diskNumberStart = GetLE32(d.data() + pos);
  }
  item.bHugeFile = true;
  return complete;
}

std::optional<String> UnicodeNameOf(const TZEExtraFieldDataBlock& block) {
  const Bytes& d = block.pData;
  if (d.size() < 8 || std::memcmp(d.data(), "NUCX", 4) != 0) return std::nullopt;
  const std::uint64_t units = GetLE32(d.data() + 4);
  if (units > (d.size() - 8) / 2) return std::nullopt;
  String name(static_cast<std::size_t>(units), u'\0');
  for (std::size_t i = 0; i < name.size(); ++i) name[i] = static_cast<char16_t>(GetLE16(d.data() + 8 + 2 * i));
  return name;
}

std::optional<TZELocalFileHeader> ReadLocalHeader(TStream& stream, std::int64_t position) {
  std::array<std::uint8_t, kZipLocalHeaderSize> raw{};
  if (ReadAt(stream, position, raw.data(), kZipLocalHeaderSize) != kZipLocalHeaderSize ||
      GetLE32(raw.data()) != kZipLocalHeaderSignature) {
    return std::nullopt;
  }
  TZELocalFileHeader header;
  header.Read(raw.data());
  return header;
}

bool IsUnsafeEntryName(StringView name) {
  const String n = SlashedPath(name);
  if (n.find(u'\0') != String::npos) return true;
  if (!n.empty() && n[0] == u'/') return true;  // absolute, and "//server" too
  if (n.size() >= 2 && n[1] == u':') return true;  // a drive
  size_t start = 0;
  while (start <= n.size()) {
    const size_t end = std::min(n.find(u'/', start), n.size());
    if (n.compare(start, end - start, u"..") == 0) return true;
    start = end + 1;
  }
  return false;
}

}  // namespace zo
