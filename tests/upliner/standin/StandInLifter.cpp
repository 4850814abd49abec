// A stand-in for the upgrade program in the step runner's tests: a real
// program of this system (Wine waits only for Windows programs and reads
// only their exit codes), copied in as Lifter_<version>/Lifter.exe.
//
// It reads its command line as an upgrade program does
// (platform/ProgramEntry.h). In the folder above its own (the tool's) it
// writes its own path and every argument, one per line, into args.txt and
// args-<version>.txt, and appends "<version> -l.. -b.. -x.. -h.." to
// calls.log, the version being what follows "Lifter_" in its folder's name.
// Then it acts out the lines of behaviour.txt beside it, in order:
//   sleep <ms>             waits, so that a runner that does not wait is seen
//   errors <text>          appends text to the errors file (-e); "\r" and
//                          "\n" in the text stand for CR and LF
//   changes <text>         the same to the changes file (-c), when given
//   remove-errors          deletes the errors file
//   note-errors <file>     writes the errors file's path and, when the file
//                          exists, the line "exists" into <file>
//   sql <statement>        runs the statement on the database that -S, -D, -u
//                          and -p name, through ODBC and the "SQL Server"
//                          driver (a program it started could not be waited
//                          for under Wine)
//   reach                  stamps the database with the version: the plain
//                          copy set, the enciphered copy cleared
//   if <item> <line>       acts out the line when <item> is one of the items
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "odbc/ODBCDatabase.h"
#include "odbc/ODBCStatement.h"
#include "platform/ProgramEntry.h"
#include "platform/Utf.h"

namespace {

namespace fs = std::filesystem;

fs::path PathOf(const std::u16string& text) { return fs::path(text); }

std::string Utf8(const std::u16string& text) { return zo::ToUtf8(text); }

// The value of the first item that starts with the switch.
std::u16string ValueOf(const std::vector<std::u16string>& items, const std::u16string& name) {
  for (std::size_t i = 1; i < items.size(); ++i)
    if (items[i].rfind(name, 0) == 0) return items[i].substr(name.size());
  return {};
}

std::string Unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == 'n' || text[i + 1] == 'r')) {
      out += text[i + 1] == 'n' ? '\n' : '\r';
      ++i;
    } else {
      out += text[i];
    }
  }
  return out;
}

void AppendText(const std::u16string& file, const std::string& text) {
  if (file.empty()) return;
  std::ofstream(PathOf(file), std::ios::binary | std::ios::app) << text;
}

void RunSql(const std::vector<std::u16string>& items, const std::string& statement) {
  zo::TODBCDatabase db;
  db.SetConnectionString(u"DRIVER={SQL Server};SERVER=" + ValueOf(items, u"-S") + u";DATABASE=" +
                         ValueOf(items, u"-D") + u";UID=" + ValueOf(items, u"-u") + u";PWD=" + ValueOf(items, u"-p"));
  zo::TODBCStatement stmt;
  stmt.SetDatabase(&db);
  stmt.SetCommandText(zo::FromUtf8(statement));
  stmt.Execute(false);
}

struct TRun {
  std::vector<std::u16string> Items;
  std::string Version;
  std::u16string Errors, Changes;
};

// Acts out one behaviour line; false for a line it does not know.
bool ActOut(const TRun& run, const std::string& line) {
  const std::size_t blank = line.find(' ');
  const std::string verb = line.substr(0, blank);
  const std::string rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
  if (verb.empty()) return true;
  if (verb == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(rest)));
  } else if (verb == "errors") {
    AppendText(run.Errors, Unescaped(rest));
  } else if (verb == "changes") {
    AppendText(run.Changes, Unescaped(rest));
  } else if (verb == "remove-errors") {
    std::error_code ec;
    fs::remove(PathOf(run.Errors), ec);
  } else if (verb == "note-errors") {
    std::ofstream note(fs::path(std::u8string(rest.begin(), rest.end())), std::ios::binary);
    note << Utf8(run.Errors) << '\n';
    if (fs::exists(PathOf(run.Errors))) note << "exists\n";
  } else if (verb == "sql") {
    RunSql(run.Items, rest);
  } else if (verb == "reach") {
    RunSql(run.Items, "update dbo.a15830u10 set a277u0='" + run.Version + "', a212u0=NULL");
  } else if (verb == "if") {
    const std::size_t end = rest.find(' ');
    const std::u16string item = zo::FromUtf8(rest.substr(0, end));
    for (std::size_t i = 1; i < run.Items.size(); ++i)
      if (run.Items[i] == item) return ActOut(run, end == std::string::npos ? std::string() : rest.substr(end + 1));
  } else {
    return false;
  }
  return true;
}

}  // namespace

int ProgramMain(const std::vector<std::u16string>&) {
  TRun run;
  run.Items = zo::UpgradeProgramCommandLine();
  if (run.Items.empty()) return 2;
  const fs::path folder = PathOf(run.Items[0]).parent_path();
  const std::string folderName = Utf8(folder.filename().u16string());
  run.Version = folderName.rfind("Lifter_", 0) == 0 ? folderName.substr(7) : folderName;
  run.Errors = ValueOf(run.Items, u"-e");
  run.Changes = ValueOf(run.Items, u"-c");

  for (const std::string& name : {std::string("args.txt"), "args-" + run.Version + ".txt"}) {
    std::ofstream record(folder.parent_path() / name, std::ios::binary);
    for (const std::u16string& item : run.Items) record << Utf8(item) << '\n';
  }
  std::ofstream calls(folder.parent_path() / "calls.log", std::ios::binary | std::ios::app);
  calls << run.Version;
  for (const char16_t* name : {u"-l", u"-b", u"-x", u"-h"}) {
    std::u16string item;
    for (std::size_t i = 1; i < run.Items.size() && item.empty(); ++i)
      if (run.Items[i].rfind(name, 0) == 0) item = run.Items[i];
    calls << ' ' << Utf8(item);
  }
  calls << '\n';
  calls.close();

  std::ifstream behaviour(folder / "behaviour.txt", std::ios::binary);
  try {
    for (std::string line; std::getline(behaviour, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!ActOut(run, line)) return 3;  // a behaviour this stand-in does not know
    }
  } catch (const std::exception&) {
    return 4;  // a statement failed, as a script's sql would
  }
  return 0;
}
