// Inflating a raw deflate stream (RFC 1951) that lies in the archive, read
// by position: the one zlib loop that extraction and the overlap check share.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "zip/ZipStreams.h"

namespace zo {

// How a stream read by InflateAt ended.
enum class TInflateEnd : std::uint8_t {
  ieStreamEnd,  // the stream's end-of-stream marker was reached
  ieBroken,     // the data is not deflate, or ends before the stream does
  ieStopped,    // the sink refused output
};

struct TInflateResult {
  TInflateEnd End;
  std::uint64_t Consumed;  // compressed bytes taken up to where it ended
};

// Receives output as it comes; false stops the stream.
using TInflateSink = std::function<bool(const std::uint8_t* data, std::size_t size)>;

// Inflates the stream that begins at position and may take at most limit
// bytes, reading inputChunk bytes at a time and handing output on in pieces
// of at most outputChunk bytes.
TInflateResult InflateAt(TStream& archive, std::int64_t position, std::uint64_t limit, std::size_t inputChunk,
                         std::size_t outputChunk, const TInflateSink& sink);

}  // namespace zo
