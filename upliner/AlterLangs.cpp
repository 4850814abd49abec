// Altering the database's languages behind BAlterLangs: the languages the
// database has are compared with those the installation is to have, the
// user sees what would be inserted and deleted, and the upgrade program is
// run once for the database's current version with the allowed actions.
#include "upliner/AlterLangs.h"

#include <vector>

#include "core/Exception.h"
#include "core/IDList.h"
#include "core/StringUtils.h"
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
constexpr char16_t kSQuestionCaption[] = u"Question";

bool Contains(const std::vector<String>& Codes, StringView Code) {
  for (const String& c : Codes)
    if (c == Code) return true;
  return false;
}

// The lines of the confirmation: what will be inserted, what deleted.
String ConfirmationText(const std::vector<String>& Inserted, const std::vector<String>& Deleted) {
  std::vector<String> lines{u"Following will be changed :"};
  const auto addGroup = [&lines](const char16_t* Heading, const std::vector<String>& Codes) {
    if (Codes.empty()) return;
    lines.emplace_back(Heading);
    for (const String& code : Codes) lines.push_back(u"    " + LanguageName(code));
  };
  addGroup(u"  Inserted languages :", Inserted);
  addGroup(u"  Deleted languages :", Deleted);
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
  FConnected = false;
  UpdateControls();
  InspectDatabase();

  TIDList installed;
  ReadDatabaseLanguages(ConnectionValues(), installed);
  const std::vector<String> target = TargetLanguages();

  // Both lists come out in the reverse order of their source.
  std::vector<String> inserted;
  std::vector<String> deleted;
  if (!target.empty() && installed.Count() > 0) {
    if (FLangActions.Contains(mtaDelete)) {
      for (int i = installed.Count() - 1; i >= 0; --i) {
        String code = installed[i].ToString();
        if (!Contains(target, code)) deleted.push_back(std::move(code));
      }
    }
    if (FLangActions.Contains(mtaInsert)) {
      for (auto it = target.rbegin(); it != target.rend(); ++it)
        if (installed.IndexOf(TIDValue::FromString(*it)) < 0) inserted.push_back(*it);
    }
  }
  if (inserted.empty() && deleted.empty()) return;

  // A code without a name ends the click here, before anything is asked.
  const String question = ConfirmationText(inserted, deleted);
  if (!FDialogs.AskYesNo(question, kSQuestionCaption, miQuestion)) return;

  // The program is given the allowed actions, not the lists: it works out
  // the differences itself from the same sources.
  Hide();
  try {
    try {
      RunUpgradeStep(EActualVersion.Text, FLangActions, 2, 2, true);
    } catch (const Exception& E) {
      FDialogs.ShowMessage(E.Message());
    }
  } catch (...) {
    Show();
    throw;
  }
  Show();
}

}  // namespace zo
