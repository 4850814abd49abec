#include "zip/BlockDeflate.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <type_traits>

#include "zip/WholeBufferCodec.h"
#include "zip/ZipFormat.h"

namespace zo {

// A raw deflate stream (no zlib header or trailer) of one level, reset for
// each block. zlib's default memory level: its largest (9) finds a few more
// matches in long text but cuts Huffman blocks twice as long, which costs
// more than it gains on data that changes character within a block.
class TDeflater {
 public:
  explicit TDeflater(int level) : FLevel(level) {
    if (deflateInit2(&FZStream, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      throw std::bad_alloc();
    }
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

template <class T>
std::unique_ptr<T> TDeflaterShelf::TakeFrom(std::vector<std::unique_ptr<T>>& idle, int level) {
  {
    std::lock_guard<std::mutex> lock(FMutex);
    for (auto it = idle.begin(); it != idle.end(); ++it) {
      if ((*it)->Level() != level) continue;
      std::unique_ptr<T> taken = std::move(*it);
      idle.erase(it);
      return taken;
    }
  }
  return std::make_unique<T>(level);
}

std::unique_ptr<TDeflater> TDeflaterShelf::Take(int level) { return TakeFrom(FIdle, level); }
std::unique_ptr<TWholeDeflater> TDeflaterShelf::TakeWhole(int level) { return TakeFrom(FIdleWhole, level); }

void TDeflaterShelf::PutBack(std::unique_ptr<TDeflater> deflater) {
  std::lock_guard<std::mutex> lock(FMutex);
  FIdle.push_back(std::move(deflater));
}

void TDeflaterShelf::PutBack(std::unique_ptr<TWholeDeflater> deflater) {
  std::lock_guard<std::mutex> lock(FMutex);
  FIdleWhole.push_back(std::move(deflater));
}

namespace {

// A stream or compressor borrowed from a shelf for one block, put back
// however the block ends.
template <class T>
class TBorrowed {
 public:
  TBorrowed(TDeflaterShelf& shelf, int level) : FShelf(shelf), FDeflater(Take(shelf, level)) {}
  ~TBorrowed() { FShelf.PutBack(std::move(FDeflater)); }
  TBorrowed(const TBorrowed&) = delete;
  TBorrowed& operator=(const TBorrowed&) = delete;

  T& operator*() { return *FDeflater; }
  T* operator->() { return FDeflater.get(); }

 private:
  static std::unique_ptr<T> Take(TDeflaterShelf& shelf, int level) {
    if constexpr (std::is_same_v<T, TWholeDeflater>) {
      return shelf.TakeWhole(level);
    } else {
      return shelf.Take(level);
    }
  }

  TDeflaterShelf& FShelf;
  std::unique_ptr<T> FDeflater;
};

// Data that does not compress (already compressed or encrypted files) finds
// nothing at any level, and the best levels spend many times what storing it
// costs searching for matches. So a large block goes into deflate's stored
// blocks when the whole of it shows no sign of compressing: neither a byte
// distribution that Huffman codes could shorten nor repeated strings that
// matches could replace. Every byte is looked at, so no arrangement of
// compressible stretches can hide between sample points, and the estimate
// errs towards compressing: it counts gains that deflate could not quite
// reach. It depends on the block and its dictionary alone, so the archive
// still does not depend on the number of threads.
constexpr std::size_t kProbedBlock = 256 * 1024;

// Below this estimated gain (a share of the block's bits) a block is stored.
// Random data estimates at about 0.15%, the literal statistics' own noise
// over slices of kLiteralSlice bytes.
constexpr double kWorthwhileGain = 0.005;
constexpr std::size_t kLiteralSlice = 16 * 1024;

// What Huffman codes fitted to each slice could save at most: for each slice
// its size in bits less its order-0 entropy. Deflate's blocks adapt their
// codes as they go; a code over several slices saves no more than the
// slices' own would, so slice by slice is an upper bound at that scale.
double LiteralGainBits(const std::uint8_t* input, std::size_t size) {
  double gain = 0;
  for (std::size_t at = 0; at < size; at += kLiteralSlice) {
    const std::size_t length = std::min(kLiteralSlice, size - at);
    // Four sets of counters, so that runs of one byte do not stall on one.
    std::array<std::array<std::uint32_t, 256>, 4> counts{};
    const std::uint8_t* p = input + at;
    std::size_t i = 0;
    for (; i + 4 <= length; i += 4) {
      ++counts[0][p[i]];
      ++counts[1][p[i + 1]];
      ++counts[2][p[i + 2]];
      ++counts[3][p[i + 3]];
    }
    for (; i < length; ++i) ++counts[0][p[i]];
    double sumCLogC = 0;
    for (std::size_t b = 0; b < 256; ++b) {
      const double c = counts[0][b] + counts[1][b] + counts[2][b] + counts[3][b];
      if (c > 0) sumCLogC += c * std::log2(c);
    }
    const double n = static_cast<double>(length);
    const double entropyBits = n * std::log2(n) - sumCLogC;
    gain += 8 * n - entropyBits;
  }
  return gain;
}

// Repeated strings of the block, found as deflate's fastest level finds them
// (one candidate per hash of four bytes, within the window, reaching into
// the dictionary), each counted as what a match of its length could save.
// Stops counting once the gain passes enough.
class TMatchScan {
 public:
  TMatchScan(const std::uint8_t* input, std::size_t size, const std::uint8_t* dictionary, std::size_t dictionaryLength)
      : FInput(input), FSize(size), FDictionary(dictionary), FDictionaryLength(dictionaryLength),
        FHeads(new std::uint16_t[kHashSize]()) {}

  double GainBits(double enough) {
    // Positions count from the dictionary's start.
    for (std::size_t q = 0; q + 4 <= FDictionaryLength; ++q) Insert(Load32Dictionary(q), q);
    double gain = 0;
    const std::size_t origin = FDictionaryLength;
    std::size_t i = 0;
    while (i + 4 <= FSize) {
      // Every position goes into the table, but only every kStride-th looks
      // for a match: a match at least kStride + 3 long always contains such
      // a position, and shorter ones save little each.
      const std::uint32_t word = Load32Input(i);
      const std::size_t pos = origin + i;
      // The table keeps the low 16 bits of a position, so the candidate is
      // the nearest earlier position with those bits; whatever it is, only
      // bytes that really repeat within the window count.
      const std::size_t distance = static_cast<std::uint16_t>(pos - Insert(word, pos));
      if (distance != 0 && distance <= kReach && distance <= pos && Load32(pos - distance) == word) {
        const std::size_t length = MatchLength(pos - distance, i);
        gain += 8.0 * static_cast<double>(length) - kMatchCostBits;
        if (gain > enough) return gain;
        for (std::size_t k = 1; k < length && i + k + 4 <= FSize; ++k) Insert(Load32Input(i + k), origin + i + k);
        i += length;
        continue;
      }
      const std::size_t stop = std::min(i + kStride, FSize - 3);
      for (++i; i < stop; ++i) Insert(Load32Input(i), origin + i);
    }
    return gain;
  }

 private:
  // A table that fits the first-level cache: it is written at every byte.
  static constexpr std::size_t kHashBits = 14;
  static constexpr std::size_t kHashSize = std::size_t{1} << kHashBits;
  static constexpr std::size_t kMaxMatch = 258;
  static constexpr std::size_t kStride = 4;
  // How far back zlib's matches reach: the window less the lookahead it
  // keeps (the longest match and then some).
  static constexpr std::size_t kReach = kDeflateWindow - 262;
  // The least a match could cost in deflate's codes: a length code and a
  // distance code of a few bits each. Counting it low counts gains high.
  static constexpr double kMatchCostBits = 12;

  // Enters pos under the hash of word; gives the position entered before.
  std::uint16_t Insert(std::uint32_t word, std::size_t pos) {
    std::uint16_t& head = FHeads[(word * 2654435761u) >> (32 - kHashBits)];
    const std::uint16_t previous = head;
    head = static_cast<std::uint16_t>(pos);
    return previous;
  }

  std::uint8_t At(std::size_t pos) const {
    return pos < FDictionaryLength ? FDictionary[pos] : FInput[pos - FDictionaryLength];
  }
  std::uint32_t Load32Input(std::size_t i) const {
    std::uint32_t word;
    std::memcpy(&word, FInput + i, 4);
    return word;
  }
  std::uint32_t Load32Dictionary(std::size_t q) const {
    std::uint32_t word;
    std::memcpy(&word, FDictionary + q, 4);
    return word;
  }
  std::uint32_t Load32(std::size_t pos) const {
    if (pos >= FDictionaryLength) return Load32Input(pos - FDictionaryLength);
    if (pos + 4 <= FDictionaryLength) return Load32Dictionary(pos);
    std::uint8_t bytes[4] = {At(pos), At(pos + 1), At(pos + 2), At(pos + 3)};
    std::uint32_t word;
    std::memcpy(&word, bytes, 4);
    return word;
  }

  // Length of the match of the input at i with the earlier bytes at pos,
  // counting the bytes before i that match too (those a lookup at every
  // position would have found first).
  std::size_t MatchLength(std::size_t pos, std::size_t i) const {
    std::size_t length = 4;
    while (length < kMaxMatch && i + length < FSize && At(pos + length) == FInput[i + length]) ++length;
    for (std::size_t back = 1; back < kStride && back <= i && back <= pos && length < kMaxMatch; ++back) {
      if (At(pos - back) != FInput[i - back]) break;
      ++length;
    }
    return length;
  }

  const std::uint8_t* FInput;
  std::size_t FSize;
  const std::uint8_t* FDictionary;
  std::size_t FDictionaryLength;
  std::unique_ptr<std::uint16_t[]> FHeads;
};

bool LooksIncompressible(const std::uint8_t* input, std::size_t size, const std::uint8_t* dictionary,
                         std::size_t dictionaryLength) {
  if (size < kProbedBlock) return false;
  const double enough = kWorthwhileGain * 8.0 * static_cast<double>(size);
  const double literalGain = LiteralGainBits(input, size);
  if (literalGain > enough) return false;
  TMatchScan scan(input, size, dictionary, dictionaryLength);
  return scan.GainBits(enough - literalGain) <= enough - literalGain;
}

// An entry that is this one block alone, deflated in one call into a
// complete stream. False, with nothing in block.Data, should the output not
// fit the codec's own bound (it always should).
bool DeflateWhole(TDeflaterShelf& shelf, const std::uint8_t* input, std::size_t size, int level, TDeflatedBlock& block) {
  TBorrowed<TWholeDeflater> deflater(shelf, level);
  block.Data.resize(deflater->Bound(size));
  const std::size_t length = deflater->Deflate(input, size, block.Data.data(), block.Data.size());
  block.Data.resize(length);
  if (length == 0) return false;
  if (block.Data.size() < block.Data.capacity() / 4 * 3) block.Data.shrink_to_fit();
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
  const int level = LooksIncompressible(input, size, dictionary, dictionaryLength) ? 0 : mode;
  if (level > 0 && dictionaryLength == 0 && last && HaveWholeBufferCodec() && DeflateWhole(shelf, input, size, level, block)) {
    return block;
  }
  TBorrowed<TDeflater> deflater(shelf, level);
  z_stream& z = deflater->Reset();
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
