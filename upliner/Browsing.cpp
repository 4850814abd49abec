// The window between the actions: the reports and their saving, the
// directory picker and closing. The server and database drop-downs are in
// ServerBrowsing.cpp.
#include "core/TextFileLines.h"
#include "upliner/ReinstallForm.h"

namespace zo {

void TReinstallForm::MStateChange() {
  const TControl& report = CBShowChanges.Checked ? MChanges : MState;
  BSave.Enabled = !report.Lines.empty();
}

void TReinstallForm::CBShowChangesClick() {
  MStateChange();
  MState.Visible = !CBShowChanges.Checked;
  MChanges.Visible = CBShowChanges.Checked;
}

void TReinstallForm::BSaveClick() {
  const std::optional<String> fileName = FDialogs.AskSaveFileName(u"txt", u"*.txt|*.txt");
  if (!fileName) return;
  SaveStringsToFile(*fileName, CBShowChanges.Checked ? MChanges.Lines : MState.Lines);
}

void TReinstallForm::SBNewDirClick() {
  // The picker opens at the directory in ENewDir when there is one, and at
  // its own starting place otherwise; that fallback is not worth a message.
  const std::optional<String> directory = FDialogs.ChooseDirectory(ENewDir.Text);
  if (directory) SetText(ENewDir, *directory);
}

void TReinstallForm::BCloseClick() { Close(); }

}  // namespace zo
