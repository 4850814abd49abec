// Deflate and inflate of a whole buffer in one call, beside zlib's streams.
//
// A codec that sees all of its input and all of its output at once needs no
// window bookkeeping between calls and runs about twice as fast as a stream
// that is fed piece by piece. The engine uses it where an entry fits a memory
// budget and keeps zlib's streams for everything else: for large entries, for
// blocks primed with the data before them (a whole-buffer call has no
// dictionary), and whenever a whole-buffer call fails, so that damage is found
// and reported by one reader alone.
//
// The codec may be missing (a build without it); then every call here says so
// and the engine uses zlib alone. ZO_CODEC=zlib in the environment makes a
// build that has it behave the same way, so that the tests can run both paths.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>

namespace zo {

// Whether the whole-buffer calls below are there (built in, and not turned
// off by ZO_CODEC=zlib, read once).
bool HaveWholeBufferCodec();

// Inflates the raw deflate stream that begins at input into output, which
// holds capacity bytes. Returns the number of bytes produced when the stream
// ends within input and its output fits; bytes after the stream's end are not
// its and are left alone. Returns nothing when the stream is damaged, runs
// past input, or would produce more than capacity: the caller then reads the
// entry with zlib's stream, which finds out which it was.
std::optional<std::size_t> InflateWhole(const std::uint8_t* input, std::size_t inputSize, std::uint8_t* output,
                                        std::size_t capacity);

// A compressor of one level, kept from call to call: setting one up costs
// more than a small file takes to compress. One thread at a time.
class TWholeDeflater {
 public:
  // level: zlib's level numbers 1-9, compressing at least as well.
  explicit TWholeDeflater(int level);
  ~TWholeDeflater();
  TWholeDeflater(const TWholeDeflater&) = delete;
  TWholeDeflater& operator=(const TWholeDeflater&) = delete;

  int Level() const { return FLevel; }

  // The most Deflate can write for size bytes of input.
  std::size_t Bound(std::size_t size) const;

  // Deflates input into one complete raw deflate stream in output; returns
  // its length, or 0 when it did not fit capacity.
  std::size_t Deflate(const std::uint8_t* input, std::size_t size, std::uint8_t* output, std::size_t capacity);

 private:
  struct TState;
  int FLevel;
  std::unique_ptr<TState> FState;
};

// CRC-32 (the ZIP polynomial) of data continued from crc; the codec's when
// it has one, zlib's otherwise. Both give the same value.
std::uint32_t WholeBufferCrc32(std::uint32_t crc, const void* data, std::size_t size);

}  // namespace zo
