// One run of the upgrade program for one version.
//
// The tool never changes the database itself: it starts Lifter.exe from the
// version's folder with a command line built from the window, waits for it,
// reads the version stamp again and turns the two result files the program
// wrote into the report. The result files are temporary and are removed on
// every way out.
#include <cerrno>
#include <cstdint>
#include <exception>
#include <optional>
#include <string>

#include "core/Exception.h"
#include "core/Format.h"
#include "core/StringUtils.h"
#include "core/TextFileLines.h"
#include "data/DataTypes.h"
#include "data/LifterContract.h"
#include "platform/Environment.h"
#include "platform/FileStream.h"
#include "platform/FileSystem.h"
#include "platform/Process.h"
#include "platform/TempFile.h"
#include "platform/TextFile.h"
#include "upliner/ReinstallForm.h"
#include "upliner/UpgradeStep.h"

namespace zo {

namespace {

// The lines of a file beside the program, or none when it is absent: an
// installer leaves there what the upgrade actions need to know about the
// installation (the command line has no room for it).
std::vector<String> InstallationLines(const String& AppDir, StringView FileName) {
  const String path = ToolFilePath(AppDir, FileName);
  if (!PathEntryExists(path)) return {};
  return LoadStringsFromFile(path);
}

// A result file: a new empty file in the user's temporary directory, which
// the upgrade program fills and which is deleted when this object goes.
class TResultFile {
 public:
  TResultFile() = default;
  ~TResultFile() {
    if (!FPath.empty()) DeleteFile(FPath);
  }
  TResultFile(const TResultFile&) = delete;
  TResultFile& operator=(const TResultFile&) = delete;

  void Create() {
    int error = 0;
    FPath = CreateTempFile(u"", u"tmp", &error);
    if (FPath.empty()) throw EInOutError(SystemErrorText(error));
  }
  bool Created() const { return !FPath.empty(); }
  const String& Path() const { return FPath; }

  // Every line the program wrote, in order; none for an empty file. The
  // bytes are text in the system's code page (a byte-order mark is honoured).
  std::vector<String> ReadLines() const {
    TFileHandle file;
    if (const int error = file.Open(FPath, TFileHandle::OpenKind::Read); error != 0) RaiseOpenError(FPath, error);
    std::string bytes;
    char buffer[16384];
    for (;;) {
      std::int64_t count = 0;
      if (const int error = file.Read(buffer, sizeof buffer, count)) throw EInOutError(SystemErrorText(error));
      if (count == 0) break;
      bytes.append(buffer, static_cast<std::size_t>(count));
    }
    return TextToLines(bytes);
  }

 private:
  String FPath;
};

// An item enclosed in quotes as a whole, switch included, so that the
// program reads its value back exactly as the field holds it (the system's
// rules: platform/Process.h).
String QuotedItem(StringView Item) { return QuoteCommandLineItem(Item); }

// An item written as it is, unless its value would fall apart into several
// arguments (a password with a blank in it): then it is quoted as a whole.
String PlainItem(StringView Item) {
  for (char16_t c : Item)
    if (c == u' ' || c == u'\t' || c == u'"') return QuotedItem(Item);
  return String(Item);
}

// How far the program got, as the stamp tells after it ended.
enum class Reach : std::uint8_t {
  Unread,           // the stamp could not be read
  Elsewhere,        // another version than the one asked for, the stamp sound
  ElsewhereBroken,  // another version, its encrypted copy disagreeing
  Reached,          // the version asked for
};
constexpr std::size_t kReaches = 4;

constexpr char16_t kSCheckConsistency[] =
    u"  Run new application server to check whether database is in consistent state.";
constexpr char16_t kSFinishedWithErrors[] = u"Upgrade to version %s (licence %s) finished with following errors : ";

// One report of a run: its heading (formatted with the version and the
// licence), then the program's errors, then the verdict lines.
struct StepReport {
  const char16_t* heading;
  std::vector<const char16_t*> verdict;
  TStepResult result;
};

// The reports by reach, for a run that wrote no errors and for one that did.
const StepReport& ReportOf(bool HasErrors, Reach AReach) {
  static const StepReport kWithoutErrors[kReaches] = {
      {u"Upgrade to version %s (licence %s) finished unexpectedly (new version read error)", {kSCheckConsistency},
       srReachedWithErrors},
      {u"Upgrade to version %s (licence %s) was canceled", {}, srNotReached},
      {u"Upgrade to version %s (licence %s) was canceled", {}, srNotReached},
      {u"Upgrade to version %s (licence %s) finished successfully", {}, srDone},
  };
  static const StepReport kWithErrors[kReaches] = {
      {kSFinishedWithErrors, {u"Upgrade finished unexpectedly (new version read error)", kSCheckConsistency},
       srReachedWithErrors},
      {kSFinishedWithErrors, {u"Errors did not corrupt database. It do not have to be restored."}, srNotReached},
      {kSFinishedWithErrors, {u"Errors corrupted database. Database must be restored!!"}, srNotReached},
      {kSFinishedWithErrors,
       {u"There are integrity errors or checking changes error in your database. These errors must be reviewed "
        u"before continuing!!"},
       srReachedWithErrors},
  };
  return (HasErrors ? kWithErrors : kWithoutErrors)[static_cast<std::size_t>(AReach)];
}

Reach ReachOf(const String& Asked, const String& NewVersion, bool StampOK) {
  if (NewVersion.empty()) return Reach::Unread;
  if (NewVersion == Asked) return Reach::Reached;
  return StampOK ? Reach::Elsewhere : Reach::ElsewhereBroken;
}

// Starts the program and waits for it to end.
void RunLifter(const String& CommandLine, const String& Version, const String& Licence) {
  std::optional<ChildProcess> program = StartProcess(CommandLine);
  if (!program)
    throw Exception(
        u"Running Reinstall to version \"%s\" in licence %s failed. Probably corrupted or missing Lifter.Exe file.",
        {Version, Licence});
  program->Wait();
}

}  // namespace

String LifterCommandLine(const TLifterCall& Call) {
  const String programFolder = ToolFilePath(Call.AppDir, ProgramFolderName(Call.Version)) + PathDelimiter;
  const String dataFolder = ToolFilePath(Call.AppDir, DataFolderName(Call.Version)) + PathDelimiter;
  std::vector<String> items = {
      programFolder + kProgramFileName,
      u"-T" + String(kSQLServerType),
      QuotedItem(u"-S" + Call.ServerName),
      QuotedItem(u"-D" + Call.DatabaseName),
      PlainItem(u"-u" + Call.UserName),
      PlainItem(u"-p" + Call.Password),
      Call.TrustedConnection ? u"-m1" : u"-m0",
      QuotedItem(u"-e" + Call.ErrorsFile),
      QuotedItem(u"-i" + dataFolder),
      QuotedItem(u"-r" + programFolder),
      u"-l" + IntToStr(ActionSetToInteger(Call.LangActions)),
      u"-b" + IntToStr(static_cast<int>(Call.ArchiveAction)),
      QuotedItem(u"-d" + Call.NewDir),
      u"-x" + IntToStr(static_cast<int>(Call.ExtDBAction)),
      PlainItem(u"-N" + Call.NewName),
  };
  if (!Call.ChangesFile.empty()) items.push_back(QuotedItem(u"-c" + Call.ChangesFile));
  items.push_back(u"-h" + String(Call.CheckIntegrity ? u"1" : u"0"));
  const String commandLine = JoinList(items, u" ");
  if (!Call.WindowAt) return commandLine;
  return Format(u"%s \"-n%s;%s\"", {commandLine, IntToStr(Call.WindowAt->Left), IntToStr(Call.WindowAt->Top)});
}

String TReinstallForm::LicenceNumber() const {
  const std::vector<String> lines = InstallationLines(FAppDir, kLicenceFileName);
  return lines.empty() ? String() : TrimBlanks(lines.front());
}

std::vector<TIDValue> TReinstallForm::TargetLanguages() const { return ReadTargetLanguages(FAppDir); }

TStepResult TReinstallForm::RunUpgradeStep(const String& AVersion, TMTSActionType ALangActions,
                                           TSupportAction AArchiveAction, TSupportAction AExtDBAction,
                                           bool ALastStep) {
  const bool checkChanges = CBCheckChanges.Checked;
  const String licence = LicenceNumber();

  TResultFile errorsFile, changesFile;
  errorsFile.Create();
  if (checkChanges) changesFile.Create();

  TLifterCall call;
  call.AppDir = FAppDir;
  call.Version = AVersion;
  call.ServerName = CServerName.Text;
  call.DatabaseName = CDatabaseName.Text;
  call.UserName = EUserName.Text;
  call.Password = EPassword.Text;
  call.TrustedConnection = CBTrustedConnection.Checked;
  call.ErrorsFile = errorsFile.Path();
  if (checkChanges) call.ChangesFile = changesFile.Path();
  call.LangActions = ALangActions;
  call.ArchiveAction = AArchiveAction;
  call.ExtDBAction = AExtDBAction;
  call.NewDir = ENewDir.Text;
  call.NewName = ENewName.Text;
  // "Only last version", "Always", "Never"; a typed text that is none of
  // them asks for no check.
  call.CheckIntegrity = CCheckIntegrity.ItemIndex == 1 || (CCheckIntegrity.ItemIndex == 0 && ALastStep);
  if (FInnosetupForm) call.WindowAt = TLifterCall::TWindowAt{Left, Top};
  RunLifter(LifterCommandLine(call), AVersion, licence);

  // The stamp tells how far the program got. A failed read is reported as
  // an unknown new version and raised once the report is written.
  String newVersion;
  bool stampOK = false;
  std::exception_ptr readError;
  try {
    TCDBVersionType versionType = cdbvtRelease;
    stampOK = ReadDatabaseVersion(ConnectionValues(), newVersion, versionType);
  } catch (const Exception&) {
    readError = std::current_exception();
    newVersion.clear();
  }

  const std::vector<String> errors = errorsFile.ReadLines();
  const StepReport& report = ReportOf(!errors.empty(), ReachOf(AVersion, newVersion, stampOK));
  AddLine(MState, u"");
  AddLine(MState, Format(report.heading, {AVersion, licence}));
  for (const String& line : errors) AddLine(MState, line);
  for (const char16_t* line : report.verdict) AddLine(MState, line);

  if (checkChanges) {
    const std::vector<String> changes = changesFile.ReadLines();
    AddLine(MChanges, u"");
    if (changes.empty()) {
      AddLine(MChanges, u"No system changes were done or error occured.");
    } else {
      AddLine(MChanges, Format(u"Upgrade to version %s (licence %s) finished with following system changes : ",
                               {AVersion, licence}));
      for (const String& line : changes) AddLine(MChanges, line);
    }
  }

  if (readError) std::rethrow_exception(readError);
  return report.result;
}

}  // namespace zo
