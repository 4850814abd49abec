#include "zip/BlockDeflate.h"

#include <zlib.h>

#include <array>
#include <memory>
#include <new>

#include "zip/ZipFormat.h"

namespace zo {

// A raw deflate stream (no zlib header or trailer) of one level, reset for
// each block.
class TDeflater {
 public:
  explicit TDeflater(int level) : FLevel(level) {
    if (deflateInit2(&FZStream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw std::bad_alloc();
  }
  ~TDeflater() { deflateEnd(&FZStream); }
  TDeflater(const TDeflater&) = delete;
  TDeflater& operator=(const TDeflater&) = delete;

  int Level() const { return FLevel; }

  z_stream& Reset() {
    deflateReset(&FZStream);
    return FZStream;
  }

 private:
  int FLevel;
  z_stream FZStream{};
};

TDeflaterShelf::TDeflaterShelf() = default;
TDeflaterShelf::~TDeflaterShelf() = default;

std::unique_ptr<TDeflater> TDeflaterShelf::Take(int level) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    for (auto it = FIdle.begin(); it != FIdle.end(); ++it) {
      if ((*it)->Level() != level) continue;
      std::unique_ptr<TDeflater> deflater = std::move(*it);
      FIdle.erase(it);
      return deflater;
    }
  }
  return std::make_unique<TDeflater>(level);
}

void TDeflaterShelf::PutBack(std::unique_ptr<TDeflater> deflater) {
  std::lock_guard<std::mutex> lock(FMutex);
  FIdle.push_back(std::move(deflater));
}

namespace {

// A stream borrowed from a shelf for one block, put back however the block ends.
class TBorrowedDeflater {
 public:
  TBorrowedDeflater(TDeflaterShelf& shelf, int level) : FShelf(shelf), FDeflater(shelf.Take(level)) {}
  ~TBorrowedDeflater() { FShelf.PutBack(std::move(FDeflater)); }
  TBorrowedDeflater(const TBorrowedDeflater&) = delete;
  TBorrowedDeflater& operator=(const TBorrowedDeflater&) = delete;

  z_stream& Reset() { return FDeflater->Reset(); }

 private:
  TDeflaterShelf& FShelf;
  std::unique_ptr<TDeflater> FDeflater;
};

// Data that does not compress (already compressed or encrypted files) finds
// nothing at any level, and the best levels spend many times what storing it
// costs searching for matches. A large block is probed at three places with
// the fastest level; when none of the samples shrinks, the block goes into
// deflate's stored blocks. The decision depends on the data alone, so the
// archive still does not depend on the number of threads.
constexpr std::size_t kProbedBlock = 256 * 1024;
constexpr std::size_t kProbeSample = 16 * 1024;

bool LooksIncompressible(TDeflaterShelf& shelf, const std::uint8_t* input, std::size_t size) {
  if (size < kProbedBlock) return false;
  std::array<std::uint8_t, kProbeSample + 256> out;
  TBorrowedDeflater fastest(shelf, 1);
  for (const std::size_t at : {std::size_t{0}, size / 2 - kProbeSample / 2, size - kProbeSample}) {
    z_stream& z = fastest.Reset();
    z.next_in = const_cast<std::uint8_t*>(input + at);
    z.avail_in = static_cast<uInt>(kProbeSample);
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    // A sample that does not fit the room compressed even worse: it counts
    // as not shrinking.
    deflate(&z, Z_FINISH);
    const std::size_t produced = out.size() - z.avail_out;
    if (produced < kProbeSample / 100 * 97) return false;
  }
  return true;
}

}  // namespace

std::int64_t DeflateBlockSize(int mode) {
  if (mode >= 1 && mode <= 3) return 0x80000;
  if (mode >= 7 && mode <= 9) return kLargestDeflateBlock;
  return 0x100000;
}

TDeflatedBlock DeflateBlock(TDeflaterShelf& shelf, const std::uint8_t* input, std::size_t size, const std::uint8_t* dictionary,
                            std::size_t dictionaryLength, int mode, bool last) {
  TDeflatedBlock block;
  block.Size = static_cast<std::int64_t>(size);
  block.Crc = UpdateCrc32(0, input, size);
  if (mode == 0) {
    block.Data.assign(input, input + size);
    return block;
  }
  const int level = LooksIncompressible(shelf, input, size) ? 0 : mode;
  TBorrowedDeflater deflater(shelf, level);
  z_stream& z = deflater.Reset();
  if (level > 0 && dictionaryLength > 0 &&
      deflateSetDictionary(&z, dictionary, static_cast<uInt>(dictionaryLength)) != Z_OK) {
    throw std::bad_alloc();
  }
  // Room for data that does not compress at all, plus the stored-block
  // headers and the flush marker.
  block.Data.resize(deflateBound(&z, static_cast<uLong>(size)) + 64);
  z.next_in = const_cast<std::uint8_t*>(input);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = block.Data.data();
  z.avail_out = static_cast<uInt>(block.Data.size());
  int rc;
  do {
    if (z.avail_out == 0) {
      // Not expected with the bound above; grow rather than fail.
      const std::size_t used = block.Data.size();
      block.Data.resize(used * 2);
      z.next_out = block.Data.data() + used;
      z.avail_out = static_cast<uInt>(block.Data.size() - used);
    }
    rc = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
    if (rc == Z_STREAM_ERROR) throw std::bad_alloc();
    // A sync flush is complete when the output was not filled; the end of
    // the stream when deflate says so.
  } while (last ? rc != Z_STREAM_END : z.avail_out == 0);
  block.Data.resize(block.Data.size() - z.avail_out);
  // Compressible data gives back the room it did not need; data that did not
  // compress keeps its buffer rather than being copied once more.
  if (block.Data.size() < block.Data.capacity() / 4 * 3) block.Data.shrink_to_fit();
  return block;
}

std::uint32_t CombineCrc32(std::uint32_t first, std::uint32_t second, std::int64_t secondLength) {
  return static_cast<std::uint32_t>(crc32_combine(first, second, static_cast<z_off_t>(secondLength)));
}

}  // namespace zo
