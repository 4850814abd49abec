// The reference upgrade program: one copy per database version, installed as
// Lifter.exe in the folder Lifter_<version> beside the upgrade tool.
//
// It does the work the tool's command line asks for on the named database,
// all of it in one transaction, and reports what happened through the two
// result files:
//   1. when the database is not at this program's version yet, every script
//      of the data folder (IVersion_<version>/*.sql, in name order);
//   2. the language changes of -l against TargetLanguages.txt beside the
//      tool (Languages/Add.sql and Languages/Remove.sql once per language);
//   3. archive support by -b (Archive/Add.sql, Archive/Remove.sql) and
//      external-database support by -x (ExtDB/Add.sql, ExtDB/Remove.sql),
//      each also setting its column of the stamp table;
//   4. the version stamp, plain and enciphered, set to this version.
// A database already past this version (by Versions.sl beside the tool) is
// refused. Any failure rolls everything back, so the stamp stays where it was. After
// a successful commit, -h1 runs the integrity checks (Integrity/*.sql): every
// row a check returns is one error.
#pragma once

#include <memory>
#include <vector>

#include "core/String.h"
#include "lifter/LifterOptions.h"

namespace zo {

class TConnectionInfo;

class TLifter {
 public:
  explicit TLifter(TLifterOptions Options);
  ~TLifter();
  TLifter(const TLifter&) = delete;
  TLifter& operator=(const TLifter&) = delete;

  // Does the work; true when no error was recorded.
  bool Run();

  // One line each.
  const std::vector<String>& Errors() const { return FErrors; }
  const std::vector<String>& Changes() const { return FChanges; }
  // The version this copy brings a database to, from its folder's name.
  const String& Version() const { return FVersion; }

  // Writes the errors into the errors file and, with -c, the changes into
  // the changes file (CR LF after each line, UTF-8). False when a file
  // could not be written; the reason is then added to Errors.
  bool WriteResultFiles();

 private:
  struct TStamp {
    bool Exists = false;  // the stamp table has a row
    String Version;
  };
  // Values a script may use: $(Name) is replaced by the value with single
  // quotes doubled, for use inside a string literal.
  using TVariables = std::vector<std::pair<String, String>>;

  void FindFolders();
  void Connect();
  TStamp ReadStamp();
  // A database that Versions.sl beside the tool lists after this version is
  // never taken back to it.
  void RefuseNewerDatabase(const TStamp& Stamp);
  void Upgrade();
  void AlterLanguages();
  void AlterSupport(TSupportAction Action, const String& Folder, const String& Column, const String& What,
                    const TVariables& Variables);
  void WriteStamp(const TStamp& Stamp);
  void CheckIntegrity();

  // Runs the script at Path batch by batch (a line holding only GO ends a
  // batch). Missing is an error only when Required.
  void RunScript(const String& Path, const TVariables& Variables, bool Required);
  void Execute(const String& SQLText);
  TVariables CommonVariables() const;
  void AddError(const String& Message);

  TLifterOptions FOptions;
  String FVersion;
  String FToolFolder;  // the upgrade tool's directory, with a trailing separator
  String FDataFolder;  // with a trailing separator
  std::unique_ptr<TConnectionInfo> FConnection;
  std::vector<String> FErrors;
  std::vector<String> FChanges;
};

// The message of an error as one line: line breaks become single blanks.
String OneLine(StringView Message);

// The names of the *.sql files in Folder (with a trailing separator), in
// name order. A folder that cannot be listed raises an error naming it and
// the system's reason: its scripts are unknown, not none. With
// MissingIsEmpty, a folder that does not exist has no scripts.
std::vector<String> ScriptsIn(const String& Folder, bool MissingIsEmpty);

}  // namespace zo
