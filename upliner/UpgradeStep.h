// The command line of one run of the upgrade program, built from plain
// values so that it can be checked without a window, a server or a program.
//
// The program reads its switches in this order and takes each value up to
// the end of its item: a value the user typed is quoted as a whole item
// (switch included) wherever it may hold blanks, so that it arrives as the
// field holds it (the system's quoting rules: platform/Process.h).
#pragma once

#include <optional>

#include "core/ActionSet.h"
#include "core/String.h"
#include "data/LifterContract.h"

namespace zo {

// What one run is asked to do, as the window holds it.
struct TLifterCall {
  String AppDir;      // the tool's folder, which holds the versions' folders
  String Version;     // the version to bring the database to
  String ServerName, DatabaseName, UserName, Password;
  bool TrustedConnection = false;
  String ErrorsFile;  // where the program writes its errors
  String ChangesFile; // where it writes the system changes; empty: not asked for
  TMTSActionType LangActions;
  TSupportAction ArchiveAction = saKeep;
  TSupportAction ExtDBAction = saKeep;
  String NewDir, NewName;
  bool CheckIntegrity = false;
  // Where the installer's window stands, when the tool runs inside it: the
  // program opens its own window there.
  struct TWindowAt {
    int Left = 0, Top = 0;
  };
  std::optional<TWindowAt> WindowAt;
};

// The whole command line, the program's path first.
String LifterCommandLine(const TLifterCall& Call);

}  // namespace zo
