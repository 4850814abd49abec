// The command line of the upgrade program, as the upgrade tool writes it.
//
// Every argument is one switch: a dash, one letter and the value glued to it
// (-SServer, "-DSales Db", -l5). The tool quotes some items as a whole;
// by the time they arrive here the quotes are gone.
#pragma once

#include <optional>
#include <vector>

#include "core/ActionSet.h"
#include "core/String.h"
#include "data/LifterContract.h"

namespace zo {

struct TLifterOptions {
  String ServerType;        // -T: only SQLSERVER is known
  String ServerName;        // -S
  String DatabaseName;      // -D
  String UserName;          // -u
  String Password;          // -p
  bool TrustedConnection = false;  // -m1
  String ErrorsFile;        // -e: one line per error
  String DataFolder;        // -i: the scripts of this version
  String ProgramFolder;     // -r: the folder of this program, Lifter_<version>
  TMTSActionType LangActions;    // -l: mtaInsert adds languages, mtaDelete removes them
  TSupportAction ArchiveAction = saKeep;  // -b
  String Directory;         // -d: archive or external-database directory
  TSupportAction ExtDBAction = saKeep;    // -x
  String ExtDBName;         // -N
  String ChangesFile;       // -c: one line per system change; empty without -c
  bool CheckIntegrity = false;  // -h1
  std::optional<std::pair<int, int>> WindowPosition;  // -n<left>;<top>
};

// Reads the arguments (without the program's own name). A switch that is
// unknown, given twice, or carries a value that does not fit raises an
// Exception naming the argument; -S and -D are required.
TLifterOptions ParseLifterOptions(const std::vector<String>& Args);

}  // namespace zo
