// The installation's languages, as the upgrade tool and the upgrade program
// both read them, so that what the tool announces is what the program does.
//
// A language is an identifier pair (TIDValue): "401,0" is Czech. The file
// TargetLanguages.txt beside the upgrade tool lists the languages the
// installation is to have, one code per line. Codes are number pairs, never
// texts: blanks around either number, a '+' sign and leading zeros do not
// matter, so "401,00" and " 401, 0" are the language "401,0".
#pragma once

#include <vector>

#include "core/IDList.h"
#include "core/String.h"

namespace zo {

// The pair of a written code; a code that is not two integers separated by
// a comma raises Exception "Language code "%s" is not valid" with the code
// as written.
TIDValue LanguageCodeFromText(StringView Code);

// The languages of TargetLanguages.txt in Directory, in file order, each
// once; blank lines are skipped, and an absent file gives none. A line that
// is no code raises Exception "Language code "%s" in %s is not valid" with
// the line and the file's path; an unreadable file the file's error.
std::vector<TIDValue> ReadTargetLanguages(StringView Directory);

// What bringing the installed languages in line with the target means:
// Deleted holds the installed languages that the target lacks (when Delete
// is allowed), Inserted the target languages not installed (when Insert is
// allowed), both in the reverse order of their source. Nothing changes when
// either list is empty: an installation without a target set, or a database
// without languages, is left as it is.
struct TLanguageChanges {
  std::vector<TIDValue> Inserted;
  std::vector<TIDValue> Deleted;
  bool Empty() const { return Inserted.empty() && Deleted.empty(); }
};
TLanguageChanges CompareLanguages(const std::vector<TIDValue>& Installed, const std::vector<TIDValue>& Target,
                                  bool Insert, bool Delete);

}  // namespace zo
