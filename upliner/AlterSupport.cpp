// Adding or removing archive and external-database support behind
// BAlterArchive and BAlterExtDB.
// Placeholder until the actions are written: the buttons do nothing yet.
#include "upliner/ReinstallForm.h"

namespace zo {

void TReinstallForm::BAlterArchiveClick() {}

void TReinstallForm::BAlterExtDBClick() {}

}  // namespace zo
