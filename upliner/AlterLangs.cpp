// Altering the database's languages behind BAlterLangs.
// Placeholder until the action is written: the button does nothing yet.
#include "upliner/ReinstallForm.h"

namespace zo {

void TReinstallForm::BAlterLangsClick() {}

}  // namespace zo
