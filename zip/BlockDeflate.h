// An entry's data, compressed block by block so that blocks can be
// compressed at the same time on several threads and still form one raw
// deflate stream (RFC 1951).
//
// The data is cut into blocks whose size depends on the compression mode
// (512 KiB for the fast modes 1-3, 1.5 MiB for the best modes 7-9, 1 MiB
// otherwise). Each block is deflated on its own, primed with the 32 KiB of
// data before it as its dictionary, so matches reach back across the cut as
// in one long stream. Every block but the last ends with a sync flush, which
// ends it on a byte boundary with an empty stored block; the last one ends
// the stream. Joined in order, the blocks are one valid deflate stream, and
// the bytes depend only on the data and the mode, never on which thread
// compressed which block.
//
// An entry that is one block alone (no dictionary before it, and the last)
// is deflated whole by the whole-buffer codec where the build has one
// (zip/WholeBufferCodec.h), at a level that compresses at least as well as
// zlib's and several times faster; that too depends on the data alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "core/String.h"

namespace zo {

// The deflate window: the most a match can reach back.
inline constexpr std::size_t kDeflateWindow = 32768;

// The block size of the best modes (7-9), the largest of any mode.
inline constexpr std::int64_t kLargestDeflateBlock = 0x180000;

// The block size for a compression mode (0 stores; stored data is cut the
// same way).
std::int64_t DeflateBlockSize(int mode);

// One block as it goes into the archive.
struct TDeflatedBlock {
  Bytes Data;               // compressed (or, for mode 0, stored) bytes
  std::uint32_t Crc = 0;    // CRC-32 of the block's uncompressed bytes
  std::int64_t Size = 0;    // uncompressed bytes
};

class TDeflater;
class TWholeDeflater;

// The deflate streams and whole-buffer compressors of one pack, kept from
// block to block: setting one up costs more than a small file takes to
// compress. A block borrows one of its level and puts it back, so the shelf
// holds as many as were in use at once (at most one of each kind a worker). It belongs to the pack and outlives its workers; a thread_local
// cache instead would be destroyed at thread exit, which MinGW's emulated
// thread storage does after it has already freed that storage.
class TDeflaterShelf {
 public:
  TDeflaterShelf();
  ~TDeflaterShelf();
  TDeflaterShelf(const TDeflaterShelf&) = delete;
  TDeflaterShelf& operator=(const TDeflaterShelf&) = delete;

  // One of the level; another thread never gets the same one.
  std::unique_ptr<TDeflater> Take(int level);
  void PutBack(std::unique_ptr<TDeflater> deflater);
  std::unique_ptr<TWholeDeflater> TakeWhole(int level);
  void PutBack(std::unique_ptr<TWholeDeflater> deflater);

 private:
  template <class T>
  std::unique_ptr<T> TakeFrom(std::vector<std::unique_ptr<T>>& idle, int level);

  std::mutex FMutex;
  std::vector<std::unique_ptr<TDeflater>> FIdle;
  std::vector<std::unique_ptr<TWholeDeflater>> FIdleWhole;
};

// Compresses input[0, size) at mode (0: stored unchanged), with a stream
// from shelf. A large block that does not compress at all goes into
// deflate's stored blocks, whatever the mode. dictionary holds
// the dictionaryLength bytes that come before the block (at most the
// window; none for the first block). last: the block ends the stream.
TDeflatedBlock DeflateBlock(TDeflaterShelf& shelf, const std::uint8_t* input, std::size_t size, const std::uint8_t* dictionary,
                            std::size_t dictionaryLength, int mode, bool last);

// The CRC-32 of two pieces joined, from the CRC of each and the length of the
// second.
std::uint32_t CombineCrc32(std::uint32_t first, std::uint32_t second, std::int64_t secondLength);

}  // namespace zo
