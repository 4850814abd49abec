// One run of the upgrade program for one version.
// Placeholder until the step runner is written: reports "not reached".
#include "upliner/ReinstallForm.h"

namespace zo {

int TReinstallForm::RunUpgradeStep(const String&, TMTSActionType, int, int, bool) { return 1; }

}  // namespace zo
