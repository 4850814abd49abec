// The contract between the upgrade tool (upliner/) and the upgrade program
// (lifter/): every name, code and text form that one of them writes and the
// other reads. Both programs include this header, so a fact changed here
// changes for both.
//
// Beside the upgrade tool, in the directory of its executable:
//   Versions.sl                  the supported versions, one a line, oldest first
//   Lifter_<version>/Lifter.exe  the upgrade program of each version
//   IVersion_<version>/          that version's data folder, read by its program
//   LicenceNumber.txt            the installation's licence number (first line)
//   TargetLanguages.txt          the languages the installation is to have
//                                (read and compared by data/LanguageCodes.h)
//
// In the database: the version stamp, the one row of dbo.a15830u10, and the
// installed languages, one row (ic, u) each in dbo.a194u0.
//
// On the program's command line, besides texts and 0/1 flags: -l carries the
// language actions as ActionSetToInteger writes them (data/DataTypes.h: 1 add
// the missing languages, 4 remove the surplus ones), -b and -x a support
// action (TSupportAction below).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/String.h"
#include "core/VersionType.h"
#include "data/LanguageCodes.h"

namespace zo {

// ---- Files and folders beside the upgrade tool ---------------------------------------

inline constexpr char16_t kVersionsFileName[] = u"Versions.sl";
inline constexpr char16_t kLicenceFileName[] = u"LicenceNumber.txt";
inline constexpr char16_t kTargetLanguagesFileName[] = u"TargetLanguages.txt";
inline constexpr char16_t kProgramFolderPrefix[] = u"Lifter_";
inline constexpr char16_t kDataFolderPrefix[] = u"IVersion_";
inline constexpr char16_t kProgramFileName[] = u"Lifter.exe";

// The path of FileName in the upgrade tool's directory.
String ToolFilePath(StringView ToolDirectory, StringView FileName);
// "Lifter_5.1" and "IVersion_5.1" for the version 5.1.
String ProgramFolderName(StringView Version);
String DataFolderName(StringView Version);
// The version a program folder is named after ("Lifter_5.1" gives 5.1), or
// nothing when the name is not Lifter_ followed by at least one character.
std::optional<String> VersionOfProgramFolder(StringView FolderName);

// ---- Versions ------------------------------------------------------------------------------

// Versions are opaque texts compared without regard to letter case: the
// ASCII and the Latin-1 letters are folded, which covers texts like "5.2a".
bool SameVersion(StringView A, StringView B);
// The 0-based position of the first of Versions that is the same version,
// or -1.
int IndexOfVersion(const std::vector<String>& Versions, StringView Version);

// ---- The version stamp ----------------------------------------------------------------------

inline constexpr char16_t kStampTable[] = u"dbo.a15830u10";
inline constexpr char16_t kStampVersionColumn[] = u"a277u0";     // the version as plain text
inline constexpr char16_t kStampCipherColumn[] = u"a212u0";      // the enciphered stamp text
inline constexpr char16_t kArchiveSupportColumn[] = u"a2439u0";  // 1 when installed
inline constexpr char16_t kExtDBSupportColumn[] = u"a2583u0";    // 1 when installed
inline constexpr char16_t kLanguageTable[] = u"dbo.a194u0";      // one row (ic, u) a language

// The stamp's text "version,type": the version, a comma and the version type
// in decimal ("5.1,0" for a release). The program writes it, the tool reads it.
String StampText(StringView Version, TCDBVersionType VersionType);

struct TStampText {
  String Version;
  TCDBVersionType VersionType = cdbvtRelease;
};
// Everything before the first comma is the version, everything after it the
// type (TCDBVersionTypeHelper::FromString, whose errors pass unchanged: a
// text without a comma has an empty type).
TStampText ParseStampText(StringView Text);

// The enciphered copy in kStampCipherColumn: the stamp text as UTF-16LE,
// enciphered with AES and SystemKey (crypt/). Enciphering pauses as
// TCryptUtils::SystemEncode does; deciphering raises the cipher's errors.
Bytes EncipherStamp(StringView Text);
String DecipherStamp(std::span<const std::uint8_t> Cipher);

// ---- The command line -------------------------------------------------------------------------

// -T: the kind of the database, always a SQL Server one.
inline constexpr char16_t kSQLServerType[] = u"SQLSERVER";

// What -b (archive support) and -x (external-database support) ask for.
enum class TSupportAction : std::uint8_t { saAdd = 0, saRemove = 1, saKeep = 2 };
using enum TSupportAction;

}  // namespace zo
