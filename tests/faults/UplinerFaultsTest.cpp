// Faults around the upgrade program's runs, against a real server and real
// child processes: the database server stopped between two steps and during
// a step, the upgrade program killed by a signal, result files deleted or
// filled with bytes that are not text, and a temporary directory where no
// file can be made. After each: the message the user is meant to see, the
// window shown again, EActualVersion true to the database once it can be
// read, and no result file left behind.
//
// The suite starts a server of its own (scripts/testdb.sh), so stopping it
// disturbs no other suite.
#include <sys/mount.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/ScopedEnv.h"
#include "tests/ScratchDir.h"
#include "tests/upliner/UpgradeFixture.h"

namespace zo::testing {
namespace {

namespace fs = std::filesystem;

// The private server: started once for the suite; its variables replace the
// shared server's for everything the suite and its child processes do.
class PrivateServer {
 public:
  static PrivateServer& Get() {
    static PrivateServer server;
    return server;
  }
  bool Running() const { return FStarted; }
  const std::string& Error() const { return FError; }
  std::string DataDir() const { return FDir.File("pgdata"); }

  // Shell commands that stop the server and start it again (also used by the
  // script programs); both wait until the server has done it.
  std::string StopCommand() const { return AsOwner() + kPgCtl + " -D '" + DataDir() + "' -m fast -w stop >/dev/null"; }
  std::string StartCommand() const {
    return AsOwner() + kPgCtl + " -D '" + DataDir() + "' -l '" + FDir.File("log/server.log") +
           "' -w -t 60 start >/dev/null";
  }
  void Stop() const { Run(StopCommand()); }
  void Start() const { Run(StartCommand()); }

  // The directory goes once the server is down.
  ~PrivateServer() { Run("bash '" ZO_SOURCE_DIR "/scripts/testdb.sh' stop '" + FDir.Dir().string() + "'"); }

 private:
  static constexpr const char* kPgCtl = "/usr/lib/postgresql/15/bin/pg_ctl";

  PrivateServer() {
    if (Run("bash '" ZO_SOURCE_DIR "/scripts/testdb.sh' start '" + FDir.Dir().string() + "' >/dev/null") != 0) {
      FError = "scripts/testdb.sh could not start a private server";
      return;
    }
    std::ifstream env(FDir.Path("env"));
    for (std::string line; std::getline(env, line);) {
      // export NAME=value or export NAME='value'
      const auto eq = line.find('=');
      if (line.rfind("export ", 0) != 0 || eq == std::string::npos) continue;
      std::string value = line.substr(eq + 1);
      if (value.size() >= 2 && value.front() == '\'') value = value.substr(1, value.size() - 2);
      ::setenv(line.substr(7, eq - 7).c_str(), value.c_str(), 1);
    }
    FStarted = true;
  }
  static std::string AsOwner() { return ::geteuid() == 0 ? "runuser -u postgres -- " : ""; }
  static int Run(const std::string& command) { return std::system(command.c_str()); }

  // In /tmp whatever $TMPDIR says: the server's own user must reach it.
  test::ScratchDir FDir{"zo-faults-db", "/tmp"};
  std::string FError;
  bool FStarted = false;
};

class UplinerFaults : public UpgradeFixture {
 protected:
  void SetUp() override {
    ZO_SKIP_WITHOUT_TEST_SERVER();
    // The run promised a server, so this suite's own must start too.
    if (!PrivateServer::Get().Running()) FAIL() << PrivateServer::Get().Error();
    UpgradeFixture::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    // Result files go to a private temporary directory, so leftovers show.
    fs::create_directories(Path("tmp"));
    FTmpDirVariable.emplace("TMPDIR", Path("tmp").string());
    WriteVersions("5.0\r\n5.1\r\n5.2\r\n");
    SetStamp("5.0");
  }
  void TearDown() override {
    // A skipped test set nothing up, and must not start the server either.
    if (IsSkipped()) return;
    FTmpDirVariable.reset();
    // A case that failed halfway must not leave the server down for the next.
    if (PrivateServer::Get().Running() && !ServerUp()) PrivateServer::Get().Start();
    UpgradeFixture::TearDown();
  }

  static bool ServerUp() {
    return std::system(("/usr/lib/postgresql/15/bin/pg_isready -q -h 127.0.0.1 -p " +
                        std::string(EnvOrEmpty("ZO_TEST_PGPORT")))
                           .c_str()) == 0;
  }

  // Script lines that stop and start the server from inside a program run.
  static std::string StopServer() { return PrivateServer::Get().StopCommand(); }
  static std::string StartServer() { return PrivateServer::Get().StartCommand(); }

  std::vector<std::string> TempFiles() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(Path("tmp"))) names.push_back(entry.path().filename());
    return names;
  }

  // Reinstall from 5.0 to 5.2 with Yes to the backup question.
  std::unique_ptr<TReinstallForm> Reinstall(bool checkChanges = false) {
    auto form = OpenConnected();
    form->CBCheckChanges.Checked = checkChanges;
    Visibility.clear();
    dialogs.Answers = {true};
    form->UserClick(form->BReinstall);
    return form;
  }

  // What every fault must leave: the window back, EActualVersion what the
  // database holds (read again once the server answers), no result file.
  void ExpectWindowBackAndTrueVersion(TReinstallForm& form) {
    EXPECT_EQ(Visibility, (std::vector<bool>{false, true}));
    EXPECT_TRUE(form.Visible);
    EXPECT_EQ(TempFiles(), std::vector<std::string>{});
    if (!ServerUp()) PrivateServer::Get().Start();
    // A window that still counts as connected shows what the database
    // holds; one that could not read it asks for Connect, which does.
    if (!form.FConnected) {
      EXPECT_TRUE(form.BConnect.Enabled);
      dialogs.Messages.clear();
      form.UserClick(form.BConnect);
      EXPECT_TRUE(form.FConnected);
    }
    EXPECT_EQ(ToUtf8(form.EActualVersion.Text), StampVersion());
  }

  std::string CannotConnect() const { return "Database \"" + Database() + "\" cannot be connected"; }

  // The faults need a program that can stop the server, delete its result
  // files or write any bytes into them: here Lifter.exe is a shell script
  // (this suite is Linux's), with $version, $errors, $changes, $b, $x at
  // hand and the functions sql "<statement>" and reach (stamp the database
  // with $version). These hide the stand-in program's versions.
  static constexpr const char* kReach = "reach";
  static constexpr const char* kCancel = ":";

  void WriteLifter(const std::string& version, const std::string& behaviour) const {
    const std::string folder = "Lifter_" + version;
    fs::create_directories(Path(folder));
    std::ostringstream script;
    script << "#!/bin/bash\n"
           << "version=" << ShellQuoted(version) << "\n"
           << "for a in \"$@\"; do case \"$a\" in\n"
           << "  -D*) db=${a#-D};; -e*) errors=${a#-e};; -c*) changes=${a#-c};;\n"
           << "  -l*) l=$a;; -b*) b=$a;; -x*) x=$a;; -h*) h=$a;; -d*) d=$a;; -N*) n=$a;;\n"
           << "esac; done\n"
           << "echo \"$version $l $b $x $h\" >>" << ShellQuoted(Path("calls.log").string()) << "\n"
           << "sql() { PGPASSWORD=\"$ZO_TEST_PGPASSWORD\" /usr/lib/postgresql/15/bin/psql -X -q -v ON_ERROR_STOP=1"
              " -h \"$ZO_TEST_PGHOST\" -p \"$ZO_TEST_PGPORT\" -U \"$ZO_TEST_PGUSER\" -d \"$db\" -c \"$1\" >/dev/null; }\n"
           << "reach() { sql \"update dbo.a15830u10 set a277u0='$version', a212u0=NULL\"; }\n"
           << behaviour << "\n";
    WriteFile(folder + "/Lifter.exe", script.str());
    ::chmod(Path(folder + "/Lifter.exe").c_str(), 0755);
  }

  std::optional<test::ScopedEnv> FTmpDirVariable;
};

std::string FirstMessage(const ScriptedDialogs& dialogs) {
  return dialogs.Messages.empty() ? std::string("(no message)") : ToUtf8(dialogs.Messages.front());
}

TEST_F(UplinerFaults, ServerStoppedBetweenTwoSteps) {
  // 5.1 is reached; the server is gone when 5.2's program starts, so that
  // program reports it cannot connect and leaves.
  WriteLifter("5.1", kReach);
  WriteLifter("5.2", StopServer() + "\necho 'Cannot connect to the database server' >>\"$errors\"");
  auto form = Reinstall();

  EXPECT_EQ(FirstMessage(dialogs).rfind(CannotConnect(), 0), 0u) << FirstMessage(dialogs);
  const std::vector<String> tail(form->MState.Lines.end() - 4, form->MState.Lines.end());
  EXPECT_EQ(tail, (std::vector<String>{u"Upgrade to version 5.2 (licence L-4711) finished with following errors : ",
                                       u"Cannot connect to the database server",
                                       u"Upgrade finished unexpectedly (new version read error)",
                                       u"  Run new application server to check whether database is in consistent state."}));
  EXPECT_EQ(form->EActualVersion.Text, u"5.1");
  ExpectWindowBackAndTrueVersion(*form);
  EXPECT_EQ(StampVersion(), "5.1");
}

TEST_F(UplinerFaults, ServerStoppedDuringAStep) {
  struct Case {
    const char* Name;
    std::string Behaviour;
    const char* Stamp;       // the database afterwards
    const char16_t* Last;    // the report's last line
    bool ReadError;          // the stamp cannot be read after the run
  };
  const Case cases[] = {
      // The program reached the version, then the server went down: the
      // tool cannot read the stamp and says so.
      {"down after the change", "reach\n" + StopServer(), "5.1",
       u"  Run new application server to check whether database is in consistent state.", true},
      // The server went down under the program and came back: the program
      // failed before changing the version.
      {"down and back", StopServer() + "\necho 'Connection to the server lost' >>\"$errors\"\n" + StartServer(), "5.0",
       u"Errors did not corrupt database. It do not have to be restored.", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SetStamp("5.0");
    dialogs = {};
    WriteLifter("5.1", c.Behaviour);
    WriteLifter("5.2", kReach);
    auto form = Reinstall();
    EXPECT_EQ(Calls().size(), 1u);
    fs::remove(Path("calls.log"));
    if (c.ReadError) {
      EXPECT_EQ(FirstMessage(dialogs).rfind(CannotConnect(), 0), 0u) << FirstMessage(dialogs);
    } else {
      EXPECT_EQ(dialogs.Messages, std::vector<String>{});
    }
    EXPECT_EQ(form->MState.Lines.back(), c.Last);
    ExpectWindowBackAndTrueVersion(*form);
    EXPECT_EQ(StampVersion(), c.Stamp);
  }
}

TEST_F(UplinerFaults, ProgramKilledBySignal) {
  struct Case {
    const char* Name;
    const char* Behaviour;
    const char* Stamp;
    const char16_t* Last;
  };
  const Case cases[] = {
      {"killed before any change", "echo 'half a line' >>\"$errors\"; kill -KILL $$", "5.0",
       u"Errors did not corrupt database. It do not have to be restored."},
      {"crashed after the change", "reach; kill -SEGV $$", "5.1",
       u"Upgrade to version 5.1 (licence L-4711) finished successfully"},
      {"killed with nothing written", "kill -TERM $$", "5.0", u"Upgrade to version 5.1 (licence L-4711) was canceled"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SetStamp("5.0");
    dialogs = {};
    WriteLifter("5.1", c.Behaviour);
    WriteLifter("5.2", ":");  // stops the sequence where it is when reached
    auto form = Reinstall();
    EXPECT_EQ(dialogs.Messages, std::vector<String>{});
    const auto& lines = form->MState.Lines;
    EXPECT_NE(std::find(lines.begin(), lines.end(), String(c.Last)), lines.end()) << ToUtf8(lines.back());
    ExpectWindowBackAndTrueVersion(*form);
    EXPECT_EQ(StampVersion(), c.Stamp);
  }
}

TEST_F(UplinerFaults, ResultFileDeletedByTheProgram) {
  for (const bool changes : {false, true}) {
    for (const char* which : {"errors", "changes"}) {
      if (!changes && std::string(which) == "changes") continue;
      SCOPED_TRACE(std::string(which) + (changes ? ", with changes file" : ""));
      SetStamp("5.0");
      dialogs = {};
      WriteLifter("5.1", std::string("printf '%s\\n' \"$") + which + "\" >" +
                             ShellQuoted(Path("deleted.txt").string()) + "; rm -f \"$" + which + "\"; reach");
      WriteLifter("5.2", ":");
      auto form = Reinstall(changes);
      const std::string deleted = ReadFile(Path("deleted.txt"));
      EXPECT_EQ(FirstMessage(dialogs),
                "Cannot open file \"" + deleted.substr(0, deleted.size() - 1) + "\". No such file or directory");
      ExpectWindowBackAndTrueVersion(*form);
      EXPECT_EQ(StampVersion(), "5.1");
    }
  }
}

TEST_F(UplinerFaults, AlterActionWhoseResultFileIsDeleted) {
  // The program adds the support and then deletes its errors file: the
  // file error is shown, and the button offers what the database now needs.
  WriteLifter("5.0", "rm -f \"$errors\"; sql 'update dbo.a15830u10 set a2439u0=1'");
  auto form = OpenConnected({u"-aa"});
  form->UserSetText(form->ENewDir, u"/srv/archive");
  ASSERT_EQ(form->BAlterArchive.Text, u"Add Archive");
  Visibility.clear();
  dialogs.Answers = {true};
  form->UserClick(form->BAlterArchive);

  EXPECT_EQ(FirstMessage(dialogs).rfind("Cannot open file \"", 0), 0u) << FirstMessage(dialogs);
  EXPECT_EQ(Visibility, (std::vector<bool>{false, true}));
  EXPECT_EQ(TempFiles(), std::vector<std::string>{});
  EXPECT_EQ(Sql("SELECT a2439u0 FROM dbo.a15830u10"), "1");
  if (form->FConnected) {
    EXPECT_EQ(form->BAlterArchive.Text, u"Del Archive");
  } else {
    form->UserClick(form->BConnect);
    EXPECT_EQ(form->BAlterArchive.Text, u"Del Archive");
  }
}

TEST_F(UplinerFaults, ResultFilesThatAreNotText) {
  // Bytes no text encoding reads cleanly: bad UTF-8, NULs, a byte-order mark
  // with an odd byte after it, a lone surrogate in UTF-16. Each is reported
  // line by line, bad bytes as U+FFFD, nothing lost around them.
  struct Case {
    const char* Name;
    const char* Printf;
    std::vector<String> Lines;
  };
  const Case cases[] = {
      {"bad UTF-8", "\\x80\\xff\\xc3\\x28 bad\\n\\xed\\xa0\\x80\\n", {u"\uFFFD\uFFFD\uFFFD( bad", u"\uFFFD\uFFFD\uFFFD"}},
      {"NUL bytes", "a\\x00b\\n\\x00\\x00\\n", {String(u"a\0b", 3), String(2, u'\0')}},
      {"UTF-16 mark, odd length", "\\xff\\xfeA\\x00\\x0a", {u"A"}},
      {"UTF-16 lone surrogate", "\\xff\\xfe\\x00\\xd8\\x0a\\x00", {String(1, char16_t(0xD800))}},
      {"UTF-8 mark only", "\\xef\\xbb\\xbf", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    SetStamp("5.0");
    dialogs = {};
    WriteLifter("5.1", std::string("printf '") + c.Printf + "' >\"$errors\"; printf '" + c.Printf +
                           "' >\"$changes\"; reach");
    WriteLifter("5.2", ":");
    auto form = Reinstall(true);
    EXPECT_EQ(dialogs.Messages, std::vector<String>{});
    std::vector<String> state = {u"", c.Lines.empty()
                                          ? u"Upgrade to version 5.1 (licence L-4711) finished successfully"
                                          : u"Upgrade to version 5.1 (licence L-4711) finished with following errors : "};
    state.insert(state.end(), c.Lines.begin(), c.Lines.end());
    if (!c.Lines.empty())
      state.push_back(u"There are integrity errors or checking changes error in your database. These errors must be "
                      u"reviewed before continuing!!");
    ASSERT_GE(form->MState.Lines.size(), state.size());
    EXPECT_EQ(std::vector<String>(form->MState.Lines.begin(), form->MState.Lines.begin() + state.size()), state);
    std::vector<String> changes = {u"", c.Lines.empty() ? u"No system changes were done or error occured."
                                                        : u"Upgrade to version 5.1 (licence L-4711) finished with "
                                                          u"following system changes : "};
    changes.insert(changes.end(), c.Lines.begin(), c.Lines.end());
    ASSERT_GE(form->MChanges.Lines.size(), changes.size());
    EXPECT_EQ(std::vector<String>(form->MChanges.Lines.begin(), form->MChanges.Lines.begin() + changes.size()), changes);
    ExpectWindowBackAndTrueVersion(*form);
    EXPECT_EQ(StampVersion(), "5.1");
  }
}

TEST_F(UplinerFaults, TemporaryDirectoryNotWritable) {
  // Root writes anywhere a mode forbids it; a read-only file system stops
  // it, and where root may not mount one, sysfs takes no new file from anyone.
  const fs::path locked = Path("tmp");
  bool mounted = false;
  if (::geteuid() == 0) {
    mounted = ::mount("tmpfs", locked.c_str(), "tmpfs", MS_RDONLY, "size=64k") == 0;
    if (!mounted) ::setenv("TMPDIR", "/sys", 1);
  } else {
    fs::permissions(locked, fs::perms::owner_read | fs::perms::owner_exec);
  }
  WriteLifter("5.1", kReach);
  auto form = Reinstall();
  const std::string message = FirstMessage(dialogs);
  if (mounted) ::umount(locked.c_str());
  ::setenv("TMPDIR", locked.c_str(), 1);
  fs::permissions(locked, fs::perms::owner_all);

  EXPECT_EQ(message, mounted ? "Read-only file system" : "Permission denied");
  EXPECT_EQ(Calls(), std::vector<std::string>{}) << "the program ran without its result files";
  ExpectWindowBackAndTrueVersion(*form);
  EXPECT_EQ(StampVersion(), "5.0");
}

}  // namespace
}  // namespace zo::testing
