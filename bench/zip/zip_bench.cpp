// Compression speed of the engine beside zlib's own single-thread deflate at
// the same level, on the same input file, in one run.
//
//   zip_bench <input file> <work dir> [levels...]
//
// For each level: the engine stores the file as one entry of a new archive
// (reading the file, deflating in its blocks with sync flushes, CRC-32,
// header rewrite, central directory); the reference deflates the same bytes
// with a plain raw zlib stream in 1 MiB reads and writes them to a file.
// Both read from and write to the page cache. Each is run three times and
// the fastest run counts.
#include <zlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "platform/Process.h"
#include "platform/Utf.h"
#include "zip/ZipEngine.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

double CpuSeconds() { return zo::ThreadCpuSeconds(); }

long long FileSize(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  return static_cast<long long>(in.tellg());
}

// Returns the compressed size.
long long RunEngine(const std::string& input, const std::string& archive, int level) {
  zo::TZipEngine engine;
  engine.Options.FlushBuffers = false;
  engine.SetFileName(zo::FromUtf8(archive));
  engine.OpenArchive(zo::fmCreate);
  engine.SetCompressionMode(level);
  zo::TFileStream source(zo::FromUtf8(input), zo::fmOpenRead | zo::fmShareDenyWrite);
  engine.AddFromStream(u"data", source, false, 0, 0, 0x20, 0);
  const long long compressed = static_cast<long long>(engine.Dir().CDir[0].CompressedSize());
  engine.CloseArchive();
  return compressed;
}

long long RunZlib(const std::string& input, const std::string& output, int level) {
  FILE* in = std::fopen(input.c_str(), "rb");
  FILE* out = std::fopen(output.c_str(), "wb");
  if (in == nullptr || out == nullptr) std::exit(2);
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
  std::vector<unsigned char> inBuf(1 << 20), outBuf(1 << 20);
  long long total = 0;
  int flush;
  do {
    const std::size_t n = std::fread(inBuf.data(), 1, inBuf.size(), in);
    flush = std::feof(in) ? Z_FINISH : Z_NO_FLUSH;
    z.next_in = inBuf.data();
    z.avail_in = static_cast<uInt>(n);
    do {
      z.next_out = outBuf.data();
      z.avail_out = static_cast<uInt>(outBuf.size());
      deflate(&z, flush);
      const std::size_t produced = outBuf.size() - z.avail_out;
      std::fwrite(outBuf.data(), 1, produced, out);
      total += static_cast<long long>(produced);
    } while (z.avail_out == 0);
  } while (flush != Z_FINISH);
  deflateEnd(&z);
  std::fclose(in);
  std::fclose(out);
  return total;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <input> <work dir> [levels...]\n", argv[0]);
    return 2;
  }
  const std::string input = argv[1];
  const std::string dir = argv[2];
  std::vector<int> levels;
  for (int i = 3; i < argc; ++i) levels.push_back(std::atoi(argv[i]));
  if (levels.empty()) levels = {1, 6, 9};
  const double mb = static_cast<double>(FileSize(input)) / 1e6;

  std::printf("input %s, %.1f MB\n", input.c_str(), mb);
  std::printf("%-5s %-8s %10s %10s %10s %12s\n", "level", "tool", "MB/s", "CPU MB/s", "ratio %",
              "CPU vs zlib");
  for (const int level : levels) {
    double best[2] = {1e9, 1e9};
    double bestCpu[2] = {1e9, 1e9};
    long long size[2] = {0, 0};
    for (int run = 0; run < 3; ++run) {
      for (int t = 0; t < 2; ++t) {
        const auto start = Clock::now();
        const double cpu = CpuSeconds();
        size[t] = t == 0 ? RunEngine(input, dir + "/bench.zip", level)
                         : RunZlib(input, dir + "/bench.deflate", level);
        best[t] = std::min(best[t], Seconds(start));
        bestCpu[t] = std::min(bestCpu[t], CpuSeconds() - cpu);
      }
    }
    const char* names[2] = {"engine", "zlib"};
    for (int t = 0; t < 2; ++t) {
      std::printf("%-5d %-8s %10.1f %10.1f %10.2f %11.1f%%\n", level, names[t], mb / best[t],
                  mb / bestCpu[t], 100.0 * static_cast<double>(size[t]) / (mb * 1e6),
                  100.0 * bestCpu[1] / bestCpu[t]);
    }
  }
  std::printf("peak resident set of the whole run: %ld KiB\n", zo::PeakResidentKiB());
  return 0;
}
