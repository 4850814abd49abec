// The layout of the journal that keeps a file's old bytes while a new
// version is copied over it in place (platform/ReplacementFile.h), shared by
// the systems' implementations; not for callers outside this folder.
//
// Header, the target's path (in the system's encoding), then the target's
// old bytes. Sealed is set, and flushed, only once all of it is on the disk:
// a journal that is not sealed was cut short before the target was touched,
// and is simply dropped. A journal is read back only on the machine that
// wrote it, so the header is kept in the machine's own byte order.
#pragma once

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace zo {

struct TJournalHeader {
  char Magic[8];
  std::uint32_t Sealed;
  std::uint32_t PathLength;
  std::uint64_t Device;    // the target's identity, as the system tells files apart
  std::uint64_t Number;
  std::uint64_t OldSize;   // bytes of the target before the copy
};

constexpr char kJournalMagic[8] = {'Z', 'O', 'J', 'R', 'N', 'L', '0', '1'};
constexpr std::uint32_t kJournalSealed = 1;
constexpr std::size_t kJournalSealedAt = offsetof(TJournalHeader, Sealed);

// A header for target, not yet sealed.
inline TJournalHeader NewJournalHeader(std::string_view target, std::uint64_t device, std::uint64_t number,
                                       std::uint64_t oldSize) {
  TJournalHeader header{};
  std::memcpy(header.Magic, kJournalMagic, sizeof header.Magic);
  header.PathLength = static_cast<std::uint32_t>(target.size());
  header.Device = device;
  header.Number = number;
  header.OldSize = oldSize;
  return header;
}

// True for a header of ours that was sealed.
inline bool IsSealedJournal(const TJournalHeader& header) {
  return std::memcmp(header.Magic, kJournalMagic, sizeof header.Magic) == 0 && header.Sealed == kJournalSealed;
}

// Where the old bytes start.
inline std::int64_t JournalDataAt(const TJournalHeader& header) {
  return static_cast<std::int64_t>(sizeof header + header.PathLength);
}

// What a journal found on the disk asks for: nothing to put back (never
// sealed, or not a journal at all), the old bytes of the target, or those of
// another file whose key met the target's.
enum class TJournalState { jsEmpty, jsSealed, jsForeign };

// A journal this run has just locked, for target (open as file): played back
// when a killed run left it sealed. 0 when there was nothing to put back or
// it is back; EBUSY when the journal is another file's; else the errno of
// the playback, and the journal stays for the next run. Journal offers
// Read(target) and PlayBack(file), as each system's implementation does.
template <typename Journal, typename File>
int PlayBackLeftover(Journal& journal, const std::string& target, File file) {
  switch (journal.Read(target)) {
    case TJournalState::jsEmpty: return 0;
    case TJournalState::jsForeign: return EBUSY;
    case TJournalState::jsSealed: break;
  }
  return journal.PlayBack(file);
}

// Copies count bytes from position from of source to position to of target,
// a megabyte at a time, with the system's positioned reads and writes
// (readAt and writeAt: file, buffer, count, position; 0 or errno).
template <typename File, typename ReadAt, typename WriteAt>
int CopyBytesWith(ReadAt readAt, WriteAt writeAt, File source, std::int64_t from, File target, std::int64_t to,
                  std::int64_t count) {
  constexpr std::int64_t kChunk = 1 << 20;
  std::vector<char> buffer(static_cast<std::size_t>(std::min(std::max<std::int64_t>(count, 1), kChunk)));
  while (count > 0) {
    const std::size_t n = static_cast<std::size_t>(std::min(count, kChunk));
    if (const int error = readAt(source, buffer.data(), n, from)) return error;
    if (const int error = writeAt(target, buffer.data(), n, to)) return error;
    from += static_cast<std::int64_t>(n);
    to += static_cast<std::int64_t>(n);
    count -= static_cast<std::int64_t>(n);
  }
  return 0;
}

// Ends a copy over target (open as file) that came to error: the journal
// goes when the copy is complete (error 0); otherwise the old bytes are put
// back at once, and should that fail too, the journal stays for the next
// run. Returns error.
template <typename Journal, typename File>
int SettleCopy(Journal& journal, const std::string& target, File file, int error) {
  if (error != 0) {
    journal.Read(target);
    if (journal.PlayBack(file) != 0) return error;
  }
  journal.Drop();
  return error;
}

}  // namespace zo
