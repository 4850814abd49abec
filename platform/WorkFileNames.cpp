#include "platform/WorkFileNames.h"

#include <chrono>
#include <random>

namespace zo {

namespace {

constexpr std::size_t kNameRoom = 200;
constexpr std::u16string_view kStandInMark = u".partial-";
constexpr std::u16string_view kOwnPrefix = u".zo-";
constexpr std::u16string_view kPartSuffix = u".part";
constexpr std::u16string_view kJournalSuffix = u".journal";
constexpr std::size_t kJournalKeyLength = 16;

// The letters of UniqueLetters; a stand-in's unique part may be in either
// case (the system's own unique-name service makes it on POSIX).
bool IsLowerLetterOrDigit(char16_t c) { return (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9'); }
bool IsLetterOrDigit(char16_t c) { return IsLowerLetterOrDigit(c) || (c >= u'A' && c <= u'Z'); }

bool IsHexDigit(char16_t c) { return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f'); }

template <typename Predicate>
bool All(std::u16string_view text, Predicate predicate) {
  for (char16_t c : text) {
    if (!predicate(c)) return false;
  }
  return true;
}

// prefix, count characters that pass predicate, suffix.
template <typename Predicate>
bool IsOwnName(std::u16string_view name, std::u16string_view suffix, std::size_t count, Predicate predicate) {
  return name.size() == kOwnPrefix.size() + count + suffix.size() && name.starts_with(kOwnPrefix) &&
         name.ends_with(suffix) && All(name.substr(kOwnPrefix.size(), count), predicate);
}

// "." and at least one character of the file's name before the mark.
bool IsStandInName(std::u16string_view name) {
  if (name.size() <= 1 + kStandInMark.size() + kStandInUniqueLength || name[0] != u'.') return false;
  const std::u16string_view unique = name.substr(name.size() - kStandInUniqueLength);
  const std::u16string_view rest = name.substr(0, name.size() - kStandInUniqueLength);
  return rest.ends_with(kStandInMark) && All(unique, IsLetterOrDigit);
}

}  // namespace

std::u16string StandInPrefix(std::u16string_view name) {
  return u"." + std::u16string(name.substr(0, kNameRoom)) + std::u16string(kStandInMark);
}

std::u16string PartFileName(std::u16string_view unique) {
  return std::u16string(kOwnPrefix) + std::u16string(unique) + std::u16string(kPartSuffix);
}

bool IsPartFileName(std::u16string_view name) { return IsOwnName(name, kPartSuffix, kPartUniqueLength, IsLowerLetterOrDigit); }

std::u16string JournalFileName(std::uint64_t key) {
  static constexpr char16_t kHex[] = u"0123456789abcdef";
  std::u16string digits;
  for (int shift = 60; shift >= 0; shift -= 4) digits += kHex[(key >> shift) & 0xF];
  return std::u16string(kOwnPrefix) + digits + std::u16string(kJournalSuffix);
}

std::uint64_t JournalKey(std::string_view path, std::uint64_t device, std::uint64_t number) {
  // FNV-1a over the path's bytes and the identity's.
  std::uint64_t hash = 14695981039346656037ull;
  auto add = [&hash](unsigned char byte) { hash = (hash ^ byte) * 1099511628211ull; };
  for (char c : path) add(static_cast<unsigned char>(c));
  for (std::uint64_t value : {device, number}) {
    for (int i = 0; i < 8; ++i) add(static_cast<unsigned char>(value >> (8 * i)));
  }
  return hash;
}

bool IsWorkFileName(std::u16string_view name) {
  return IsStandInName(name) || IsPartFileName(name) || IsOwnName(name, kJournalSuffix, kJournalKeyLength, IsHexDigit);
}

std::u16string UniqueLetters(std::uint64_t& state, std::size_t count) {
  static constexpr char16_t kLetters[] = u"abcdefghijklmnopqrstuvwxyz0123456789";
  std::u16string letters;
  for (std::size_t i = 0; i < count; ++i) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    letters += kLetters[(state >> 33) % (sizeof kLetters / sizeof kLetters[0] - 1)];
  }
  return letters;
}

// The system's random source tells processes apart, the clock one use from
// the next, the object's address threads that start at the same moment.
TUniqueLetters::TUniqueLetters() {
  std::random_device source;
  FState = (static_cast<std::uint64_t>(source()) << 32) ^ source() ^
           static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
           reinterpret_cast<std::uintptr_t>(this);
}

}  // namespace zo
