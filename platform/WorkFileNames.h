// The names of the files this system makes while it works and removes when
// it is done: a new version of a file built beside it (a stand-in), a file
// being extracted over an existing one (a part file), and the journal that
// keeps a file's old bytes while it is copied over in place.
//
// A run that is killed leaves them behind; the next run recognises them by
// these names alone (and removes those no living run holds), and a pack
// never stores one, wherever it lies. So every name is made here and
// recognised here: the two cannot drift apart.
#pragma once

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zo {

// A stand-in for the file name: ".<name>.partial-" and kStandInUniqueLength
// letters or digits. Long names are cut, so that the stand-in's name stays
// within the system's limit.
std::u16string StandInPrefix(std::u16string_view name);
constexpr std::size_t kStandInUniqueLength = 6;

// A part file: ".zo-", kPartUniqueLength letters or digits, ".part".
std::u16string PartFileName(std::u16string_view unique);
constexpr std::size_t kPartUniqueLength = 10;
bool IsPartFileName(std::u16string_view name);

// The journal of an in-place copy, in the temporary directory: ".zo-", the
// key as 16 hexadecimal digits, ".journal". The key tells which file it is
// for (JournalKey); the journal itself names that file too.
std::u16string JournalFileName(std::uint64_t key);
// A key for the file at path (links resolved) with its identity: the same
// file at the same path gives the same key in every run.
std::uint64_t JournalKey(std::string_view path, std::uint64_t device, std::uint64_t number);

// True for any of the three: a file of ours, never one of the user's.
bool IsWorkFileName(std::u16string_view name);

// count random-looking letters and digits drawn from state, which moves on.
std::u16string UniqueLetters(std::uint64_t& state, std::size_t count);

// Where the unique letters of a new work file come from: a state seeded
// apart in every process and every use, so that runs and threads working in
// one directory draw different names.
class TUniqueLetters {
 public:
  TUniqueLetters();
  std::u16string Next(std::size_t count) { return UniqueLetters(FState, count); }

 private:
  std::uint64_t FState;
};

// Names tried for one new work file before giving up.
constexpr int kUniqueNameAttempts = 100;

// Makes a work file under fresh unique letters: create(letters) makes the
// file and answers 0, EEXIST when the name is taken (the next one is tried)
// or another errno, which ends the attempt. Returns create's last answer:
// EEXIST when every name tried was taken.
template <typename Create>
int CreateUniquelyNamed(std::size_t count, Create create) {
  TUniqueLetters letters;
  int error = EEXIST;
  for (int attempt = 0; attempt < kUniqueNameAttempts && error == EEXIST; ++attempt) error = create(letters.Next(count));
  return error;
}

}  // namespace zo
