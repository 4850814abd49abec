// Storing one entry: local header, compressed data, and the header rewritten
// with the final CRC and sizes.
#include <zlib.h>

#include <climits>

#include "zip/ZipEngine.h"

namespace zo {

namespace {

// A source path longer than the platform can open is refused up front with
// its own message rather than as an open failure.
constexpr std::size_t kMaxSourcePath = PATH_MAX - 1;

// Input block per deflate call, by compression mode: the larger blocks of
// the slow modes give deflate more to work with between sync flushes.
std::int64_t BlockSizeOf(int mode) {
  if (mode >= 1 && mode <= 3) return 0x80000;
  if (mode >= 7 && mode <= 9) return 0x180000;
  return 0x100000;
}

// Output buffer for a block of n bytes: room for incompressible data plus
// the deflate overhead, in whole 256-byte units.
std::size_t OutputSizeOf(std::int64_t n) {
  return static_cast<std::size_t>((n + n / 10 + 267) & ~std::int64_t{255});
}

// A raw deflate stream (no zlib header or trailer) that is always ended.
class TDeflater {
 public:
  explicit TDeflater(int level) {
    ok_ = deflateInit2(&z_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) == Z_OK;
  }
  ~TDeflater() {
    if (ok_) deflateEnd(&z_);
  }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  bool ok() const { return ok_; }
  z_stream& z() { return z_; }

 private:
  z_stream z_{};
  bool ok_ = false;
};

bool HasLongPathPrefix(const String& path) { return path.find(u"\\\\?\\") != String::npos; }

}  // namespace

bool TZEBaseArchiver::CompressData(TDirItem& item, TStream& source, std::int64_t size,
                                   std::uint32_t& crc, std::int64_t& bytesRead, std::int64_t& written) {
  const std::int64_t blockSize = BlockSizeOf(item.CompressionMode);
  const bool deflate = item.compMethod == kZipMethodDeflate;
  const String& progressName = item.SrcFileName.empty() ? item.Name : item.SrcFileName;
  crc = 0;
  bytesRead = 0;
  written = 0;

  std::vector<std::uint8_t> input(static_cast<std::size_t>(std::min(blockSize, size)));
  std::vector<std::uint8_t> output(deflate ? OutputSizeOf(static_cast<std::int64_t>(input.size())) : 0);
  TDeflater deflater(item.CompressionMode);
  if (deflate && !deflater.ok()) throw std::bad_alloc();

  source.SetPosition(0);
  while (bytesRead < size) {
    const std::int64_t want = std::min(blockSize, size - bytesRead);
    const std::int64_t got = source.Read(input.data(), want);
    if (got <= 0) break;   // the source ended early: reported by the caller
    crc = UpdateCrc32(crc, input.data(), static_cast<std::size_t>(got));
    bytesRead += got;
    if (!deflate) {
      WriteToArchive(input.data(), got);
      written += got;
    } else {
      // The last block finishes the stream; every other ends with a sync
      // flush, so each block boundary is byte-aligned in the output.
      const bool last = bytesRead >= size;
      z_stream& z = deflater.z();
      z.next_in = input.data();
      z.avail_in = static_cast<uInt>(got);
      int rc;
      do {
        z.next_out = output.data();
        z.avail_out = static_cast<uInt>(output.size());
        rc = ::deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
        if (rc == Z_STREAM_ERROR) throw std::bad_alloc();
        const std::int64_t produced = static_cast<std::int64_t>(output.size() - z.avail_out);
        WriteToArchive(output.data(), produced);
        written += produced;
      } while (last ? rc != Z_STREAM_END : z.avail_out == 0);
    }
    if (OnFileProgress) {
      bool cancel = false;
      OnFileProgress(*this, progressName, 100.0 * static_cast<double>(bytesRead) / static_cast<double>(size),
                     item.Operation, ppProcess, cancel);
      if (cancel) return false;
    }
  }
  return true;
}

bool TZEBaseArchiver::StoreItem(int index) {
  TDirItem& item = FDir.CDir[index];
  const bool isDirectory = (item.externalAttr & 0x10) != 0;
  const String& sourceName = item.SrcFileName.empty() ? item.Name : item.SrcFileName;

  // The source: the entry's stream, or the file it names.
  TStream* source = nullptr;
  std::unique_ptr<TFileStream> file;
  if (!isDirectory) {
    if (item.Stream != nullptr) {
      source = item.Stream;
    } else if (!item.SrcFileName.empty()) {
      if (item.SrcFileName.size() > kMaxSourcePath && !HasLongPathPrefix(item.SrcFileName))
        throw EZEException(kZENativeNameTooLong, {item.SrcFileName}, this);
      try {
        file = std::make_unique<TFileStream>(item.SrcFileName,
                                             fmOpenRead | ShareModeBits(Options.ShareMode));
      } catch (const EFileError&) {
        throw EZEException(kZENativeCannotOpenSource, {item.SrcFileName}, this);
      }
      source = file.get();
    }
  }
  const std::int64_t savedPosition = item.Stream != nullptr ? item.Stream->Position() : 0;

  const Bytes name = EncodeEntryName(item.Name, Options.OEMFileNames, item.genPurposeFlag);
  if (name.size() > 0xFFFF) throw EZEException(kZENativeNameTooLong, {item.Name}, this);

  const std::int64_t start = FStream->Position();
  item.bHugeFile = false;
  item.Zip64ExtInfo = TZEZip64ExtendedInfo{};
  item.SetLocalHeaderOffset(static_cast<std::uint64_t>(start), FZip64Mode == zmAlways);

  const std::int64_t size = source != nullptr ? source->Size() : 0;
  // Sizes go into a Zip64 extra field of the local header when the source
  // is that large (or always, when asked); both size fields then hold the
  // marker, as readers expect.
  const bool localZip64 = static_cast<std::uint64_t>(size) >= kZip64Marker32 || FZip64Mode == zmAlways;
  if (localZip64) item.bHugeFile = true;
  const std::uint16_t version = item.bHugeFile
                                    ? kZipVersionZip64
                                    : (Options.OEMFileNames ? kZipVersion20 : kZipVersionAnsiNames);
  item.extractVersion = version;
  item.versionMadeBy = version;
  if (item.bHugeFile && FZip64Mode == zmDisabled)
    throw EZEException(kZENativeZip64Needed, {sourceName}, this);

  TZELocalFileHeader local;
  local.extractVersion = item.extractVersion;
  local.genPurposeFlag = item.genPurposeFlag;
  local.compMethod = item.compMethod;
  local.lastModTime = item.lastModTime;
  local.lastModDate = item.lastModDate;
  local.crc32 = item.crc32;
  local.compSize = localZip64 ? kZip64Marker32 : 0;
  local.unCompSize = localZip64 ? kZip64Marker32 : static_cast<std::uint32_t>(isDirectory ? 0 : size);
  local.nameLength = static_cast<std::uint16_t>(name.size());
  local.extraLength = localZip64 ? kZip64LocalExtraSize : 0;
  std::uint8_t head[kZipLocalHeaderSize + kZip64LocalExtraSize] = {};
  local.Write(head);
  WriteToArchive(head, kZipLocalHeaderSize);
  WriteToArchive(name.data(), static_cast<std::int64_t>(name.size()));
  if (localZip64) WriteToArchive(head + kZipLocalHeaderSize, kZip64LocalExtraSize);

  if (isDirectory) {
    item.crc32 = 0;
    item.compSize = 0;
    item.unCompSize = 0;
    return true;
  }

  bool completed = true;
  std::uint32_t crc = 0;
  std::int64_t bytesRead = 0, written = 0;
  if (OnFileProgress) {
    bool cancel = false;
    OnFileProgress(*this, sourceName, 0, item.Operation, ppStart, cancel);
    completed = !cancel;
  }
  if (completed && size > 0) {
    completed = CompressData(item, *source, size, crc, bytesRead, written);
  }
  if (item.Stream != nullptr) item.Stream->SetPosition(savedPosition);
  if (!completed) return false;
  if (bytesRead != size)
    throw EZEException(kZENativeBadSourceSize, {static_cast<long long>(size), static_cast<long long>(bytesRead)}, this);
  if (static_cast<std::uint64_t>(written) >= kZip64Marker32 && (FZip64Mode == zmDisabled || !localZip64))
    throw EZEException(kZENativeZip64CompSize, {sourceName}, this);

  // Final values into the central fields.
  if (size == 0) {
    item.compMethod = kZipMethodStored;
    item.CompressionMethod = kZipMethodStored;
  }
  item.crc32 = crc;
  item.SetUncompressedSize(static_cast<std::uint64_t>(size), localZip64);
  item.SetCompressedSize(static_cast<std::uint64_t>(written), localZip64);

  // The local header again, now with CRC, sizes and the method of an empty
  // source; then the Zip64 sizes behind the name.
  const std::int64_t end = FStream->Position();
  local.compMethod = item.compMethod;
  local.crc32 = crc;
  if (!localZip64) {
    local.compSize = item.compSize;
    local.unCompSize = item.unCompSize;
  }
  local.Write(head);
  PutLE16(head + kZipLocalHeaderSize, kZip64ExtraId);
  PutLE16(head + kZipLocalHeaderSize + 2, 16);
  PutLE64(head + kZipLocalHeaderSize + 4, static_cast<std::uint64_t>(size));
  PutLE64(head + kZipLocalHeaderSize + 12, static_cast<std::uint64_t>(written));
  FStream->SetPosition(start);
  WriteToArchive(head, kZipLocalHeaderSize);
  if (localZip64) {
    FStream->SetPosition(start + static_cast<std::int64_t>(kZipLocalHeaderSize + name.size()));
    WriteToArchive(head + kZipLocalHeaderSize, kZip64LocalExtraSize);
  }
  FStream->SetPosition(end);

  if (OnFileProgress) {
    bool cancel = false;
    OnFileProgress(*this, sourceName, 100, item.Operation, ppEnd, cancel);
  }
  // The source is no longer needed: the engine's own copy goes now.
  item.Stream = nullptr;
  item.OwnedStream.reset();
  return true;
}

}  // namespace zo
