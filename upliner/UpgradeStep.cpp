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

}  // namespace

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

  // "Only last version", "Always", "Never"; a typed text that is none of
  // them asks for no check.
  int integrity = 0;
  if (CCheckIntegrity.ItemIndex == 0) integrity = ALastStep ? 1 : 0;
  else if (CCheckIntegrity.ItemIndex == 1) integrity = 1;

  const String programFolder = ToolFilePath(FAppDir, ProgramFolderName(AVersion)) + PathDelimiter;
  const String dataFolder = ToolFilePath(FAppDir, DataFolderName(AVersion)) + PathDelimiter;
  std::vector<String> items = {
      programFolder + kProgramFileName,
      u"-T" + String(kSQLServerType),
      QuotedItem(u"-S" + CServerName.Text),
      QuotedItem(u"-D" + CDatabaseName.Text),
      PlainItem(u"-u" + EUserName.Text),
      PlainItem(u"-p" + EPassword.Text),
      CBTrustedConnection.Checked ? u"-m1" : u"-m0",
      QuotedItem(u"-e" + errorsFile.Path()),
      QuotedItem(u"-i" + dataFolder),
      QuotedItem(u"-r" + programFolder),
      u"-l" + IntToStr(ActionSetToInteger(ALangActions)),
      u"-b" + IntToStr(static_cast<int>(AArchiveAction)),
      QuotedItem(u"-d" + ENewDir.Text),
      u"-x" + IntToStr(static_cast<int>(AExtDBAction)),
      PlainItem(u"-N" + ENewName.Text),
  };
  if (checkChanges) items.push_back(QuotedItem(u"-c" + changesFile.Path()));
  items.push_back(u"-h" + IntToStr(integrity));
  String commandLine = JoinList(items, u" ");
  if (FInnosetupForm) commandLine = Format(u"%s \"-n%s;%s\"", {commandLine, IntToStr(Left), IntToStr(Top)});

  std::optional<ChildProcess> program = StartProcess(commandLine);
  if (!program)
    throw Exception(
        u"Running Reinstall to version \"%s\" in licence %s failed. Probably corrupted or missing Lifter.Exe file.",
        {AVersion, licence});
  program->Wait();

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

  TStepResult result = srNotReached;
  const std::vector<String> errors = errorsFile.ReadLines();
  AddLine(MState, u"");
  if (errors.empty()) {
    if (newVersion.empty()) {
      AddLine(MState, Format(u"Upgrade to version %s (licence %s) finished unexpectedly (new version read error)",
                             {AVersion, licence}));
      AddLine(MState, u"  Run new application server to check whether database is in consistent state.");
      result = srReachedWithErrors;
    } else if (newVersion != AVersion) {
      AddLine(MState, Format(u"Upgrade to version %s (licence %s) was canceled", {AVersion, licence}));
      result = srNotReached;
    } else {
      AddLine(MState, Format(u"Upgrade to version %s (licence %s) finished successfully", {AVersion, licence}));
      result = srDone;
    }
  } else {
    AddLine(MState, Format(u"Upgrade to version %s (licence %s) finished with following errors : ", {AVersion, licence}));
    for (const String& line : errors) AddLine(MState, line);
    if (newVersion.empty()) {
      AddLine(MState, u"Upgrade finished unexpectedly (new version read error)");
      AddLine(MState, u"  Run new application server to check whether database is in consistent state.");
      result = srReachedWithErrors;
    } else if (newVersion != AVersion) {
      AddLine(MState, stampOK ? u"Errors did not corrupt database. It do not have to be restored."
                              : u"Errors corrupted database. Database must be restored!!");
      result = srNotReached;
    } else {
      AddLine(MState,
              u"There are integrity errors or checking changes error in your database. These errors must be reviewed "
              u"before continuing!!");
      result = srReachedWithErrors;
    }
  }

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
  return result;
}

}  // namespace zo
