// Adding or removing archive and external-database support behind
// BAlterArchive and BAlterExtDB. The two actions are one algorithm: each
// toggles its support when the command line allows that direction, by one
// run of the upgrade program for the database's current version, and then
// reads the support back so the button offers the opposite next time.
#include <functional>
#include <vector>

#include "core/Exception.h"
#include "core/StringUtils.h"
#include "upliner/ReinstallForm.h"

namespace zo {

namespace {

// What distinguishes the twins.
struct TSupportKind {
  bool& State;                       // the support the database has
  TMTSActionType Allowed;            // directions the command line allows
  std::vector<String> WhenPresent;   // the question when it will be removed
  std::vector<String> WhenAbsent;    // the question when it will be added
  bool Archive;                      // which runner argument carries the action
  std::function<bool()> ReadState;   // reads the support from the database
};

void AlterSupport(TReinstallForm& Form, TSupportKind&& A) {
  Form.InspectAfresh();  // also reads the support in this mode

  const bool present = A.State;
  if (!((A.Allowed.Contains(mtaInsert) && !present) || (A.Allowed.Contains(mtaDelete) && present))) return;

  const String question = JoinList(present ? A.WhenPresent : A.WhenAbsent, u"\r\n");
  if (!Form.Dialogs().AskYesNo(question, kSQuestionCaption, miQuestion)) return;

  const THiddenForm hidden(Form);
  try {
    const TSupportAction action = present ? saRemove : saAdd;
    Form.RunUpgradeStep(Form.EActualVersion.Text, {}, A.Archive ? action : saKeep, A.Archive ? saKeep : action,
                        true);
    // Whatever the program did (or was cancelled), the database says which
    // state it is in now, and the button's caption follows it.
    A.State = A.ReadState();
    Form.UpdateControls();
  } catch (const Exception& E) {
    Form.Dialogs().ShowMessage(E.Message());
    // The step can fail after the program changed the support (a result
    // file it deleted): the caption follows the database, or, when the
    // state cannot be read, the window asks for Connect again.
    try {
      A.State = A.ReadState();
    } catch (const Exception&) {
      Form.FConnected = false;
    }
    Form.UpdateControls();
  }
}

}  // namespace

void TReinstallForm::BAlterArchiveClick() {
  AlterSupport(*this, {FArchiveSupport,
                       FArchiveActions,
                       {u"Archive support will be removed.", u"This action may take several hours.",
                        u"Do you want to continue ?"},
                       {u"Archive support will be added.", u"This action may take several hours.",
                        u"Do you want to continue ?"},
                       true,
                       [this] { return ReadArchiveSupport(ConnectionValues()); }});
}

void TReinstallForm::BAlterExtDBClick() {
  AlterSupport(*this, {FExtDBSupport,
                       FExtDBActions,
                       {u"External database support will be removed.", u"Do you want to continue ?"},
                       {u"External database support will be added.", u"Do you want to continue ?"},
                       false,
                       [this] { return ReadExtDBSupport(ConnectionValues()); }});
}

}  // namespace zo
