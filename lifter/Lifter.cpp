#include "lifter/Lifter.h"

#include <cerrno>
#include <string>

#include "core/ActionSet.h"
#include "core/Exception.h"
#include "core/Format.h"
#include "core/IDList.h"
#include "core/ServerType.h"
#include "core/StartupValues.h"
#include "core/StringUtils.h"
#include "core/TextFileLines.h"
#include "core/VersionType.h"
#include "data/ConnectionInfo.h"
#include "data/LifterContract.h"
#include "data/Queries.h"
#include "platform/Environment.h"
#include "platform/FileSystem.h"

namespace zo {

namespace {

String ReplaceAll(String Text, StringView What, StringView With) {
  for (std::size_t at = Text.find(What); at != String::npos; at = Text.find(What, at + With.size()))
    Text.replace(at, What.size(), With);
  return Text;
}

// A value made safe for the inside of a string literal.
String LiteralText(StringView Value) { return ReplaceAll(String(Value), u"'", u"''"); }

// The batches of a script: a line that holds only GO (any letter case,
// blanks around it allowed) separates them; blank batches are dropped.
std::vector<String> SplitBatches(const String& Script) {
  std::vector<String> batches;
  String batch;
  auto flush = [&] {
    if (!TrimBlanks(ReplaceAll(ReplaceAll(batch, u"\r", u""), u"\n", u"")).empty()) batches.push_back(batch);
    batch.clear();
  };
  for (const String& line : SplitLines(Script)) {
    const String word = TrimBlanks(line);
    if (word.size() == 2 && (word[0] == u'G' || word[0] == u'g') && (word[1] == u'O' || word[1] == u'o')) {
      flush();
    } else {
      batch += line;
      batch += u"\n";
    }
  }
  flush();
  return batches;
}

String ErrorText(const std::exception& E) { return OneLine(ExceptionMessage(E)); }

}  // namespace

String OneLine(StringView Message) { return TrimBlanks(JoinList(SplitLines(Message), u" ")); }

std::vector<String> ScriptsIn(const String& Folder, bool MissingIsEmpty) {
  int error = 0;
  const std::vector<TSearchRec> listing = FindFiles(Folder + u"*.sql", 0, &error);
  if (error == ENOENT && MissingIsEmpty) return {};
  if (error != 0)
    throw Exception(u"The scripts in the folder \"%s\" cannot be listed: %s", {Folder, SystemErrorText(error)});
  std::vector<String> names;
  names.reserve(listing.size());
  for (const TSearchRec& script : listing) names.push_back(script.Name);
  return names;
}

TLifter::TLifter(TLifterOptions Options) : FOptions(std::move(Options)) {}

TLifter::~TLifter() = default;

void TLifter::AddError(const String& Message) { FErrors.push_back(OneLine(Message)); }

bool TLifter::Run() {
  try {
    FindFolders();
    Connect();
    FConnection->StartTransaction();
    try {
      const TStamp stamp = ReadStamp();
      RefuseNewerDatabase(stamp);
      if (stamp.Version != FVersion) Upgrade();
      AlterLanguages();
      const TVariables variables = CommonVariables();
      AlterSupport(FOptions.ArchiveAction, u"Archive", kArchiveSupportColumn, u"Archive support", variables);
      AlterSupport(FOptions.ExtDBAction, u"ExtDB", kExtDBSupportColumn, u"External database support", variables);
      if (!stamp.Exists || stamp.Version != FVersion) WriteStamp(stamp);
      FConnection->Commit();
    } catch (...) {
      // Nothing of this run stays: the stamp keeps the version it had.
      FChanges.clear();
      try {
        FConnection->Rollback();
      } catch (const std::exception& E) {
        AddError(u"The changes could not be rolled back: " + ErrorText(E));
      }
      throw;
    }
    if (FOptions.CheckIntegrity) CheckIntegrity();
  } catch (const std::exception& E) {
    FErrors.insert(FErrors.begin(), ErrorText(E));
  }
  if (FConnection) FConnection->Close();
  return FErrors.empty();
}

void TLifter::FindFolders() {
  const String programFolder = ExcludeTrailingPathDelimiter(
      FOptions.ProgramFolder.empty() ? ExecutableDirectory() : FOptions.ProgramFolder);
  const std::optional<String> version = VersionOfProgramFolder(ExtractFileName(programFolder));
  if (!version)
    throw Exception(u"The program folder \"%s\" is not named %s<version>", {programFolder, kProgramFolderPrefix});
  FVersion = *version;
  FToolFolder = ExtractFilePath(programFolder);
  FDataFolder = IncludeTrailingPathDelimiter(FOptions.DataFolder.empty() ? FToolFolder + DataFolderName(FVersion)
                                                                         : FOptions.DataFolder);
}

void TLifter::Connect() {
  FConnection = std::make_unique<TConnectionInfo>();
  FConnection->FillConnectionInfo(stSQLServer, u"SQL Server", String(), FOptions.ServerName, FOptions.DatabaseName,
                                  FOptions.UserName, FOptions.Password,
                                  Format(u"%s-%s Lifter", {ProductPrefix, FOptions.DatabaseName}), ComputerName(),
                                  FOptions.TrustedConnection);
  try {
    FConnection->Open();
  } catch (const Exception& E) {
    throw Exception(u"Database \"%s\" cannot be connected: %s", {FOptions.DatabaseName, OneLine(E.Message())});
  }
}

TLifter::TStamp TLifter::ReadStamp() {
  TStamp stamp;
  TExReadQuery query;
  query.FillConnectionProps(FConnection.get());
  query.SetSQLText(Format(u"select %s from %s", {kStampVersionColumn, kStampTable}), nullptr, false, true);
  query.Open();
  if (!query.IsEmpty()) {
    stamp.Exists = true;
    stamp.Version = query.StringValue(0);
  }
  query.Close();
  return stamp;
}

void TLifter::RefuseNewerDatabase(const TStamp& Stamp) {
  const String listPath = ToolFilePath(FToolFolder, kVersionsFileName);
  if (Stamp.Version.empty() || !PathEntryExists(listPath)) return;
  const std::vector<String> versions = LoadStringsFromFile(listPath);
  const int database = IndexOfVersion(versions, Stamp.Version), mine = IndexOfVersion(versions, FVersion);
  if (database >= 0 && mine >= 0 && database > mine)
    throw Exception(u"The database is at version %s, which is newer than %s", {Stamp.Version, FVersion});
}

void TLifter::Upgrade() {
  if (!DirectoryExists(FDataFolder))
    throw Exception(u"The data folder \"%s\" of version %s does not exist", {FDataFolder, FVersion});
  const TVariables variables = CommonVariables();
  for (const String& script : ScriptsIn(FDataFolder, false)) {
    RunScript(FDataFolder + script, variables, true);
    FChanges.push_back(Format(u"Script \"%s\" was run", {script}));
  }
}

void TLifter::AlterLanguages() {
  const bool addMissing = FOptions.LangActions.Contains(mtaInsert);
  const bool removeSurplus = FOptions.LangActions.Contains(mtaDelete);
  if (!addMissing && !removeSurplus) return;
  // No target set, or an empty one: nothing to bring in line.
  const std::vector<TIDValue> target = ReadTargetLanguages(FToolFolder);
  if (target.empty()) return;

  std::vector<TIDValue> installed;
  {
    TExReadQuery query;
    query.FillConnectionProps(FConnection.get());
    query.SetSQLText(Format(u"select ic,u from %s", {kLanguageTable}), nullptr, false, false);
    query.Open();
    for (; !query.Eof(); query.Next()) installed.emplace_back(query.BigintValue(0, 0), query.IntegerValue(1, 0));
    query.Close();
  }
  // The tool announced the changes by the same rule.
  const TLanguageChanges changes = CompareLanguages(installed, target, addMissing, removeSurplus);
  const auto variablesFor = [&](const TIDValue& language) {
    TVariables variables = CommonVariables();
    variables.emplace_back(u"Language", language.ToString());
    variables.emplace_back(u"LangIC", IntToStr(language.IC));
    variables.emplace_back(u"LangU", IntToStr(language.U));
    return variables;
  };

  for (const TIDValue& language : changes.Deleted) {
    RunScript(FDataFolder + u"Languages/Remove.sql", variablesFor(language), false);
    Execute(Format(u"delete from %s where ic = %s and u = %s",
                   {kLanguageTable, IntToStr(language.IC), IntToStr(language.U)}));
    FChanges.push_back(Format(u"Language %s was removed", {language.ToString()}));
  }
  for (const TIDValue& language : changes.Inserted) {
    RunScript(FDataFolder + u"Languages/Add.sql", variablesFor(language), false);
    Execute(Format(u"insert into %s (ic,u) values (%s,%s)",
                   {kLanguageTable, IntToStr(language.IC), IntToStr(language.U)}));
    FChanges.push_back(Format(u"Language %s was added", {language.ToString()}));
  }
}

void TLifter::AlterSupport(TSupportAction Action, const String& Folder, const String& Column, const String& What,
                           const TVariables& Variables) {
  if (Action == saKeep) return;
  const bool add = Action == saAdd;
  if (add && FOptions.Directory.empty()) throw Exception(u"%s needs a directory (-d)", {What});
  if (add && Column == kExtDBSupportColumn && FOptions.ExtDBName.empty())
    throw Exception(u"%s needs a database name (-N)", {What});
  RunScript(FDataFolder + Folder + (add ? u"/Add.sql" : u"/Remove.sql"), Variables, false);
  Execute(Format(u"update %s set %s = %s", {kStampTable, Column, add ? String(u"1") : String(u"0")}));
  FChanges.push_back(Format(add ? u"%s was added" : u"%s was removed", {What}));
}

void TLifter::WriteStamp(const TStamp& Stamp) {
  const Bytes cipher = EncipherStamp(StampText(FVersion, cdbvtRelease));
  TExWriteQuery query;
  query.FillConnectionProps(FConnection.get());
  const String statement = Stamp.Exists ? u"update %s set %s = ?, %s = ?" : u"insert into %s (%s, %s) values (?, ?)";
  query.SetSQLText(Format(statement, {kStampTable, kStampVersionColumn, kStampCipherColumn}));
  query.FillParam(0, odtNVarchar, FVersion);
  query.FillParam(1, odtBlob, cipher.data(), static_cast<std::int32_t>(cipher.size()));
  query.ExecSQL(false);
  FChanges.push_back(Format(u"Version of the database was set to %s", {FVersion}));
}

void TLifter::CheckIntegrity() {
  const String folder = FDataFolder + u"Integrity/";
  // No Integrity folder: this version has no checks. One that cannot be
  // listed is an error, never a database that passed them.
  std::vector<String> checks;
  try {
    checks = ScriptsIn(folder, true);
  } catch (const Exception& E) {
    AddError(E.Message());
    return;
  }
  for (const String& check : checks) {
    try {
      String text;
      for (const String& line : LoadStringsFromFile(folder + check)) text += line + u"\n";
      TExReadQuery query;
      query.FillConnectionProps(FConnection.get());
      query.SetSQLText(text, nullptr, false, false);
      query.Open();
      for (; !query.Eof(); query.Next()) {
        std::vector<String> values;
        for (int i = 0; i < query.FieldCount(); ++i) values.push_back(query.StringValue(i));
        AddError(Format(u"Integrity check \"%s\": %s", {check, JoinList(values, u", ")}));
      }
      query.Close();
    } catch (const Exception& E) {
      AddError(Format(u"Integrity check \"%s\" failed: %s", {check, OneLine(E.Message())}));
    }
  }
}

void TLifter::RunScript(const String& Path, const TVariables& Variables, bool Required) {
  if (!Required && !PathEntryExists(Path)) return;
  String script;
  for (const String& line : LoadStringsFromFile(Path)) script += line + u"\n";
  for (const auto& [name, value] : Variables) script = ReplaceAll(script, u"$(" + name + u")", LiteralText(value));
  try {
    for (const String& batch : SplitBatches(script)) Execute(batch);
  } catch (const Exception& E) {
    throw Exception(u"Script \"%s\" failed: %s", {Path, OneLine(E.Message())});
  }
}

void TLifter::Execute(const String& SQLText) {
  TExWriteQuery query;
  query.FillConnectionProps(FConnection.get());
  query.SetSQLText(SQLText);
  query.ExecSQL(false);
}

TLifter::TVariables TLifter::CommonVariables() const {
  return {{u"Version", FVersion},
          {u"Database", FOptions.DatabaseName},
          {u"Dir", FOptions.Directory},
          {u"Name", FOptions.ExtDBName}};
}

bool TLifter::WriteResultFiles() {
  bool written = true;
  const auto write = [&](const String& Path, const std::vector<String>& Lines) {
    try {
      SaveStringsToFile(Path, Lines);
    } catch (const EFCreateError& E) {
      FErrors.push_back(E.Message());
      written = false;
    }
  };
  if (!FOptions.ChangesFile.empty()) write(FOptions.ChangesFile, FChanges);
  if (!FOptions.ErrorsFile.empty()) write(FOptions.ErrorsFile, FErrors);
  return written;
}

}  // namespace zo
