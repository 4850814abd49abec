// A stand-in for the upgrade program in the step runner's tests: a real
// program of this system (Wine waits only for Windows programs and reads
// only their exit codes), copied in as Lifter_<version>/Lifter.exe.
//
// It reads its command line as an upgrade program does
// (platform/ProgramEntry.h), writes its own path and every argument, one per
// line, into args.txt in the folder above its own, then acts out the lines of
// behaviour.txt beside it, in order:
//   sleep <ms>             waits, so that a runner that does not wait is seen
//   errors <text>          writes text into the errors file (-e); "\r" and
//                          "\n" in the text stand for CR and LF
//   changes <text>         the same into the changes file (-c), when given
//   remove-errors          deletes the errors file
//   note-errors <file>     writes the errors file's path and, when the file
//                          exists, the line "exists" into <file>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

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

void WriteText(const std::u16string& file, const std::string& text) {
  if (file.empty()) return;
  std::ofstream(PathOf(file), std::ios::binary) << text;
}

}  // namespace

int ProgramMain(const std::vector<std::u16string>&) {
  const std::vector<std::u16string> items = zo::UpgradeProgramCommandLine();
  if (items.empty()) return 2;
  const fs::path folder = PathOf(items[0]).parent_path();

  std::ofstream record(folder.parent_path() / "args.txt", std::ios::binary);
  for (const std::u16string& item : items) record << Utf8(item) << '\n';
  record.close();

  const std::u16string errors = ValueOf(items, u"-e");
  const std::u16string changes = ValueOf(items, u"-c");
  std::ifstream behaviour(folder / "behaviour.txt", std::ios::binary);
  for (std::string line; std::getline(behaviour, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::size_t blank = line.find(' ');
    const std::string verb = line.substr(0, blank);
    const std::string rest = blank == std::string::npos ? std::string() : line.substr(blank + 1);
    if (verb == "sleep") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(rest)));
    } else if (verb == "errors") {
      WriteText(errors, Unescaped(rest));
    } else if (verb == "changes") {
      WriteText(changes, Unescaped(rest));
    } else if (verb == "remove-errors") {
      std::error_code ec;
      fs::remove(PathOf(errors), ec);
    } else if (verb == "note-errors") {
      std::ofstream note(fs::path(std::u8string(rest.begin(), rest.end())), std::ios::binary);
      note << Utf8(errors) << '\n';
      if (fs::exists(PathOf(errors))) note << "exists\n";
    } else if (!verb.empty()) {
      return 3;  // a behaviour this stand-in does not know
    }
  }
  return 0;
}
