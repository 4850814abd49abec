// Altering the database's languages behind BAlterLangs: the languages the
// database has are compared with those the installation is to have, the
// user sees what would be inserted and deleted, and the upgrade program is
// run once for the database's current version with the allowed actions.
#include "upliner/AlterLangs.h"

#include <vector>

#include "core/Exception.h"
#include "core/IDList.h"
#include "core/StringUtils.h"
#include "data/LifterContract.h"
#include "upliner/ReinstallForm.h"

namespace zo {

namespace {

struct TLanguage {
  const char16_t* Code;
  const char16_t* Name;
};

constexpr TLanguage kLanguages[] = {
    {u"401,0", u"Czech"},   {u"402,0", u"English"},   {u"403,0", u"Slovak"},    {u"404,0", u"Polish"},
    {u"405,0", u"Germany"}, {u"406,0", u"Russian"},   {u"407,0", u"Bulgarian"}, {u"408,0", u"Hungarian"},
    {u"409,0", u"Croatian"}, {u"410,0", u"French"},   {u"411,0", u"Spanish"},   {u"412,0", u"Portugese"},
    {u"413,0", u"Turkish"},
};

constexpr char16_t kSLanguageWithoutName[] = u"Language \"%s\" has no name";

// The lines of the confirmation: what will be inserted, what deleted.
String ConfirmationText(const TLanguageChanges& Changes) {
  std::vector<String> lines{u"Following will be changed :"};
  const auto addGroup = [&lines](const char16_t* Heading, const std::vector<TIDValue>& Languages) {
    if (Languages.empty()) return;
    lines.emplace_back(Heading);
    for (const TIDValue& language : Languages) lines.push_back(u"    " + LanguageName(language.ToString()));
  };
  addGroup(u"  Inserted languages :", Changes.Inserted);
  addGroup(u"  Deleted languages :", Changes.Deleted);
  lines.emplace_back();
  lines.emplace_back(u"Do you agree with these changes ?");
  return JoinList(lines, u"\r\n");
}

}  // namespace

String LanguageName(StringView Code) {
  for (const TLanguage& language : kLanguages)
    if (Code == language.Code) return language.Name;
  throw Exception(kSLanguageWithoutName, {String(Code)});
}

void TReinstallForm::BAlterLangsClick() {
  InspectAfresh();

  TIDList installedList;
  ReadDatabaseLanguages(ConnectionValues(), installedList);
  const std::vector<TIDValue> installed(installedList.begin(), installedList.end());

  // The upgrade program compares by the same rule, so what is announced here
  // is what it does.
  const TLanguageChanges changes = CompareLanguages(installed, TargetLanguages(), FLangActions.Contains(mtaInsert),
                                                    FLangActions.Contains(mtaDelete));
  if (changes.Empty()) return;

  // A code without a name ends the click here, before anything is asked.
  const String question = ConfirmationText(changes);
  if (!FDialogs.AskYesNo(question, kSQuestionCaption, miQuestion)) return;

  // The program is given the allowed actions, not the lists: it works out
  // the differences itself from the same sources.
  const THiddenForm hidden(*this);
  try {
    RunUpgradeStep(EActualVersion.Text, FLangActions, saKeep, saKeep, true);
  } catch (const Exception& E) {
    FDialogs.ShowMessage(E.Message());
  }
}

}  // namespace zo
