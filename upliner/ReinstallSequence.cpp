// The reinstall sequence behind BReinstall.
// Placeholder until the sequence is written: the button does nothing yet.
#include "upliner/ReinstallForm.h"

namespace zo {

void TReinstallForm::BReinstallClick() {}

}  // namespace zo
