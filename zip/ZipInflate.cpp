// The end of the compressed input is not the end of the work: zlib may still
// hold output that did not fit the output buffer, and the end-of-stream
// marker may only be reported by a later call. So the loop ends on the
// stream's end or on a call that can make no progress, never on input used up.

#include "zip/ZipInflate.h"

#include <zlib.h>

#include <algorithm>
#include <new>

#include "core/String.h"
#include "zip/ZipReadSupport.h"

namespace zo {

namespace {

struct InflateStream {
  z_stream z{};
  InflateStream() {
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw std::bad_alloc();
  }
  ~InflateStream() { inflateEnd(&z); }
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
};

}  // namespace

TInflateResult InflateAt(TStream& archive, std::int64_t position, std::uint64_t limit, std::size_t inputChunk,
                         std::size_t outputChunk, const TInflateSink& sink) {
  InflateStream s;
  Bytes input(static_cast<std::size_t>(std::clamp<std::uint64_t>(limit, 1, inputChunk)));
  Bytes output(std::max<std::size_t>(outputChunk, 1));
  const auto ended = [&s](TInflateEnd end) { return TInflateResult{end, s.z.total_in}; };
  for (;;) {
    if (s.z.avail_in == 0 && limit > 0) {
      const std::int64_t want = static_cast<std::int64_t>(std::min<std::uint64_t>(limit, input.size()));
      const std::int64_t got = ReadAt(archive, position, input.data(), want);
      if (got <= 0) return ended(TInflateEnd::ieBroken);  // the archive is shorter than its directory says
      position += got;
      limit -= static_cast<std::uint64_t>(got);
      s.z.next_in = input.data();
      s.z.avail_in = static_cast<uInt>(got);
    }
    s.z.next_out = output.data();
    s.z.avail_out = static_cast<uInt>(output.size());
    const int rc = inflate(&s.z, Z_NO_FLUSH);
    const std::size_t produced = output.size() - s.z.avail_out;
    if (produced > 0 && !sink(output.data(), produced)) return ended(TInflateEnd::ieStopped);
    if (rc == Z_STREAM_END) return ended(TInflateEnd::ieStreamEnd);
    // No progress was possible: fine while more input is waiting, the end
    // of a truncated stream when none is.
    if (rc == Z_BUF_ERROR && s.z.avail_in == 0 && limit > 0) continue;
    if (rc != Z_OK) return ended(TInflateEnd::ieBroken);
  }
}

}  // namespace zo
