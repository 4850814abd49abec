// The check of a loaded directory for entries that share their bytes: how a
// small archive is made to expand to an enormous size.

#include <algorithm>
#include <optional>
#include <vector>

#include "core/Format.h"
#include "zip/ZipInflate.h"
#include "zip/ZipLoad.h"
#include "zip/ZipReadSupport.h"

namespace zo {

namespace {

// How many bytes the raw deflate stream at position takes up to its end,
// when it ends within its first limit bytes without producing more than
// maxOutput bytes; nothing otherwise.
std::optional<std::uint64_t> DeflateLength(TStream& stream, std::int64_t position, std::uint64_t limit,
                                           std::uint64_t maxOutput) {
  constexpr std::size_t kChunk = 65536;
  // The output is only counted. The piece that takes it past maxOutput is
  // still taken, so a stream that ends with that very piece is measured;
  // any piece after it stops the stream.
  std::uint64_t produced = 0;
  const TInflateResult result =
      InflateAt(stream, position, limit, kChunk, kChunk, [&](const std::uint8_t*, std::size_t size) {
        if (produced > maxOutput) return false;
        produced += size;
        return true;
      });
  if (result.End != TInflateEnd::ieStreamEnd) return std::nullopt;
  return result.Consumed;
}

// The bytes one entry takes in the archive: from its local header to where
// its data really ends.
struct TEntrySpan {
  std::uint64_t Start, DataStart, End;
  int Index;
};

// An entry's span, as far as its directory record tells: the data cut at the
// central directory as extraction cuts it, and a stored entry's data no
// longer than the entry (what lies beyond is never read).
TEntrySpan DeclaredSpan(const TDirItem& item, int index, std::uint64_t start, std::uint64_t dataStart,
                        std::uint64_t centralStart) {
  std::uint64_t length = std::min(item.CompressedSize(), centralStart - dataStart);
  if (item.compMethod == kZipMethodStored) length = std::min(length, item.UncompressedSize());
  return {start, dataStart, dataStart + length, index};
}

}  // namespace

// Two entries overlap when their spans share bytes: local header and data as
// far as the data really goes. That is how a small archive is made to expand
// to an enormous size (many central entries naming one local header, or each
// entry's data running on through the entries after it, all inflating the
// same data), and no writer makes it otherwise. A compressed size that
// overstates the data is no overlap: a deflate stream ends where it says it
// ends, and the bytes after it are never read. So an entry whose declared
// data reaches into the next local header is inflated up to that header to
// see whether its stream ends before. An entry whose local header lies
// inside the central directory overlaps it. Only entries whose local header
// is there count: the others cannot produce a byte.
//
// An archive that is nothing but such entries is refused before anything is
// extracted; otherwise only the overlapping entries are refused, each when it
// is reached, and the others come out as any reader would give them.
void SettleOverlappingEntries(TStream& stream, TZEDirManager& dir) {
  TZEDirArray& items = dir.CDir;
  const std::uint64_t centralStart = static_cast<std::uint64_t>(std::max<std::int64_t>(0, dir.CentralDirOffset));
  std::vector<TEntrySpan> spans;
  spans.reserve(static_cast<std::size_t>(items.Count()));
  int counted = 0, marked = 0;
  int firstInside = -1;
  for (int i = 0; i < items.Count(); ++i) {
    TDirItem& item = items[i];
    item.Overlaps = false;
    const std::uint64_t start = item.LocalHeaderOffset();
    if (start > static_cast<std::uint64_t>(INT64_MAX)) continue;
    const std::optional<TZELocalFileHeader> local = ReadLocalHeader(stream, static_cast<std::int64_t>(start));
    if (!local) continue;
    ++counted;
    const std::uint64_t dataStart = start + kZipLocalHeaderSize + local->nameLength + local->extraLength;
    if (dataStart > centralStart) {
      item.Overlaps = true;
      ++marked;
      if (firstInside < 0) firstInside = i;
      continue;
    }
    spans.push_back(DeclaredSpan(item, i, start, dataStart, centralStart));
  }
  std::sort(spans.begin(), spans.end(), [](const TEntrySpan& a, const TEntrySpan& b) {
    return a.Start != b.Start ? a.Start < b.Start : a.Index < b.Index;
  });
  // Where declared data reaches the next local header, the stream may end
  // before it.
  for (std::size_t k = 0; k + 1 < spans.size(); ++k) {
    TEntrySpan& span = spans[k];
    const std::uint64_t next = spans[k + 1].Start;
    const TDirItem& item = items[span.Index];
    if (span.End <= next || next <= span.DataStart || item.compMethod != kZipMethodDeflate ||
        (item.genPurposeFlag & kZipFlagEncrypted) != 0) {
      continue;
    }
    if (const std::optional<std::uint64_t> length =
            DeflateLength(stream, static_cast<std::int64_t>(span.DataStart), next - span.DataStart, item.UncompressedSize())) {
      span.End = span.DataStart + *length;
    }
  }
  int firstA = -1, firstB = -1;
  std::uint64_t reach = 0;
  int holder = -1;
  auto mark = [&](int index) {
    if (!items[index].Overlaps) ++marked;
    items[index].Overlaps = true;
  };
  for (const TEntrySpan& span : spans) {
    if (holder >= 0 && span.Start < reach) {
      if (firstA < 0) firstA = holder, firstB = span.Index;
      mark(holder);
      mark(span.Index);
    }
    if (holder < 0 || span.End > reach) reach = span.End, holder = span.Index;
  }
  if (counted == 0 || marked < counted) return;
  if (firstA >= 0) {
    throw EZERefused(kZENativeDamaged, Format(u"The archive is refused: entries \"%s\" and \"%s\" overlap in the archive",
                                {PrintableName(items[firstA].Name), PrintableName(items[firstB].Name)}));
  }
  throw EZERefused(kZENativeDamaged, Format(u"The archive is refused: entry \"%s\" lies inside its central directory",
                              {PrintableName(items[firstInside].Name)}));
}

}  // namespace zo
