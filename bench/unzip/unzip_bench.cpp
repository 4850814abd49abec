// Extraction speed of the ZIP engine beside zlib's own inflate of the same
// entries, for one archive. The peer tool (unzip) is timed by run.sh in the
// same run.
//
//   unzip_bench <archive> <work dir>
//
// Prints one line per method: MB/s of uncompressed output, and the process's
// peak resident memory after the step, which stays flat however large the
// entries are.
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/Utf.h"
#include "zip/ZipEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

long PeakRssKiB() { return zo::PeakResidentKiB(); }

void Report(const char* method, std::uint64_t bytes, Clock::duration elapsed) {
  const double seconds = std::chrono::duration<double>(elapsed).count();
  std::printf("%-28s %10.1f MB/s   peak RSS %6ld KiB\n", method, bytes / 1e6 / seconds, PeakRssKiB());
}

// Discards what is written; the engine's extraction without the file system.
class NullStream : public zo::TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t count) override {
    size_ += count;
    return count;
  }
  std::int64_t Seek(std::int64_t, zo::TSeekOrigin) override { return size_; }
  void SetSize(std::int64_t) override {}
  std::int64_t size_ = 0;
};

// zlib alone: raw inflate of every deflated entry from the archive file, in
// 1 MiB input chunks, output discarded after a CRC.
std::uint64_t ZlibInflateAll(const std::string& archive, zo::TZEDirManager& dir) {
  FILE* f = std::fopen(archive.c_str(), "rb");
  std::vector<unsigned char> in(1 << 20), out(1 << 18);
  std::uint64_t total = 0;
  for (int i = 0; i < dir.CDir.Count(); ++i) {
    const zo::TDirItem& item = dir.CDir[i];
    if (item.compMethod != 8) continue;
    unsigned char header[30];
    fseeko(f, static_cast<off_t>(item.LocalHeaderOffset()), SEEK_SET);
    if (std::fread(header, 1, 30, f) != 30) std::abort();
    const off_t dataStart = static_cast<off_t>(item.LocalHeaderOffset()) + 30 + zo::GetLE16(header + 26) + zo::GetLE16(header + 28);
    fseeko(f, dataStart, SEEK_SET);
    z_stream z{};
    inflateInit2(&z, -MAX_WBITS);
    std::uint64_t left = item.CompressedSize();
    uLong crc = crc32(0, nullptr, 0);
    int rc = Z_OK;
    while (rc != Z_STREAM_END) {
      if (z.avail_in == 0) {
        const size_t n = std::fread(in.data(), 1, std::min<std::uint64_t>(left, in.size()), f);
        left -= n;
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(n);
      }
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      rc = inflate(&z, Z_NO_FLUSH);
      if (rc != Z_OK && rc != Z_STREAM_END) std::abort();
      crc = crc32(crc, out.data(), static_cast<uInt>(out.size() - z.avail_out));
      total += out.size() - z.avail_out;
    }
    inflateEnd(&z);
  }
  std::fclose(f);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <archive> <work dir>\n", argv[0]);
    return 2;
  }
  const std::string archive = argv[1], work = argv[2];
  zo::TZipEngine engine;
  engine.SetFileName(zo::FromUtf8(archive));
  engine.OpenArchive(0x20);
  std::uint64_t uncompressed = 0;
  for (int i = 0; i < engine.Dir().CDir.Count(); ++i) uncompressed += engine.Dir().CDir[i].UncompressedSize();

  auto start = Clock::now();
  const std::uint64_t inflated = ZlibInflateAll(archive, engine.Dir());
  Report("zlib inflate (memory)", inflated, Clock::now() - start);

  start = Clock::now();
  zo::TZEArchiveItem item;
  std::uint64_t streamed = 0;
  for (bool ok = engine.FindFirst(u"*.*", item, u"", 0x1FF); ok; ok = engine.FindNext(item)) {
    if (engine.Dir().CDir[item.Handle.ItemNo].IsDirectory()) continue;
    NullStream sink;
    engine.ExtractToStream(item.StoredPath + item.FileName, sink);
    streamed += static_cast<std::uint64_t>(sink.size_);
  }
  Report("engine to stream (memory)", streamed, Clock::now() - start);

  engine.SetBaseDir(zo::FromUtf8(work + "/engine-out"));
  start = Clock::now();
  engine.ExtractFiles(u"*.*", 0x28BF, u"");
  Report("engine to files", uncompressed, Clock::now() - start);
  return 0;
}
