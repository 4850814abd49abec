// The real upgrade tool, started the way an installer or a user starts it:
// its command line is its own from the first argument to the last, and the
// toolkit takes none of it. Runs on the offscreen platform with a stand-in
// style (standin/StandInStyle.cpp) that notes and dismisses every window.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "ScriptedDialogs.h"

extern char** environ;

namespace zo::testing {
namespace {

namespace fs = std::filesystem;

struct ProgramRun {
  int ExitCode = -1;               // 128 + signal for a program a signal ended
  std::vector<std::string> Notes;  // what the stand-in saw, in order
  std::string Errors;              // the program's standard error
};

class ProgramTest : public AppDirFixture {
 protected:
  void SetUp() override {
    AppDirFixture::SetUp();
    // A copy beside its own Versions.sl: the program looks for it in the
    // directory of its executable.
    fs::copy_file(ZO_UPLINER_PATH, Path("upliner"));
    WriteVersions("5.0\r\n5.1\r\n5.3\r\n");
  }

  // Runs the program with Args and waits up to a minute for it to end.
  ProgramRun Run(const std::vector<std::string>& Args) {
    const fs::path log = Path("standin.log");
    fs::remove(log);
    // The display settings reach Qt the way a user gives them: through its
    // environment.
    std::vector<std::string> env = {"QT_QPA_PLATFORM=offscreen",
                                    std::string("QT_PLUGIN_PATH=") + ZO_STANDIN_PLUGIN_DIR,
                                    "QT_STYLE_OVERRIDE=zostandin", "ZO_STANDIN_LOG=" + log.string()};
    const auto ours = [&env](const std::string& entry) {
      for (const std::string& own : env)
        if (entry.compare(0, own.find('=') + 1, own, 0, own.find('=') + 1) == 0) return true;
      return false;
    };
    for (char** e = environ; *e != nullptr; ++e)
      if (!ours(*e)) env.emplace_back(*e);
    const std::string program = Path("upliner").string();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : Args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);

    ProgramRun run;
    const fs::path errors = Path("stderr.txt");
    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init(&actions);
    ::posix_spawn_file_actions_addopen(&actions, 2, errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
    ::posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
      ADD_FAILURE() << "cannot start " << program;
      return run;
    }
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (::waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        ADD_FAILURE() << "the program still ran after a minute: a window nobody answered";
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    std::ifstream in(log);
    for (std::string line; std::getline(in, line);) run.Notes.push_back(line);
    run.Errors = ReadFile(errors);
    return run;
  }
};

// Switches the toolkit would otherwise take as its own, in every spelling it
// knows: each is an incorrect parameter of the tool, shown in one message box
// before any window, and the program ends with exit code 0.
TEST_F(ProgramTest, ToolkitSwitchesAreTheToolsIncorrectParameters) {
  const std::vector<std::vector<std::string>> cases = {
      {"-platform", "nosuch"},
      {"-platform", "offscreen"},
      {"--platform=nosuch"},
      {"-style", "fusion"},
      {"-style=fusion"},
      {"--style", "windows"},
      {"-stylesheet", "/nonexistent.qss"},
      {"-reverse"},
      {"-session", "abc"},
      {"-display", ":99"},
      {"-geometry", "10x10"},
      {"-qwindowgeometry", "10x10+5+5"},
      {"-qwindowtitle", "Other"},
      {"-qwindowicon", "/nonexistent.png"},
      {"-platformpluginpath", "/nonexistent"},
      {"-platformtheme", "nosuch"},
      {"-plugin", "nosuch"},
      {"-widgetcount"},
      {"-dograb"},
      {"-sync"},
      {"-testability"},
      {"-qmljsdebugger=port:3768"},
      {"-li", "-reverse"},  // after a good switch: still the tool's to judge
  };
  for (const std::vector<std::string>& args : cases) {
    SCOPED_TRACE(args.front() + (args.size() > 1 ? " " + args[1] : ""));
    const std::string bad = args.front() == "-li" ? args[1] : args.front();
    const ProgramRun run = Run(args);
    EXPECT_EQ(run.ExitCode, 0) << run.Errors;
    EXPECT_EQ(run.Notes, std::vector<std::string>{"message Upliner|Incorrect input parameter \"" + bad + "\""})
        << run.Errors;
  }
  // Read as the tool's own position switch, as any "-n..." is.
  const ProgramRun run = Run({"-nograb"});
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(run.Notes, std::vector<std::string>{"message Upliner|'ograb' is not a valid integer value"});
}

TEST_F(ProgramTest, GoodCommandLinesOpenTheirWindow) {
  struct Case {
    std::vector<std::string> Args;
    std::string Window;
  };
  const Case cases[] = {
      {{}, "window Reinstall Database|689,498,493x335|5.3"},
      {{"-li"}, "window Alter languages|689,498,272x223|"},
      {{"-ea", "-n100;200"}, "window Alter external db|100,200,493x370|"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Window);
    const ProgramRun run = Run(c.Args);
    EXPECT_EQ(run.ExitCode, 0);
    EXPECT_EQ(run.Notes, std::vector<std::string>{c.Window});
  }
}

TEST_F(ProgramTest, ABadSwitchOfTheToolStillEndsWithItsMessage) {
  const ProgramRun run = Run({"-li", "-ad"});
  EXPECT_EQ(run.ExitCode, 0);
  EXPECT_EQ(run.Notes, std::vector<std::string>{
                           "message Upliner|Alter archive parameter \"-ad\" is incompatible with rest of input parameters"});
}

}  // namespace
}  // namespace zo::testing
