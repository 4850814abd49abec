// Inspection of the database's version stamp: Connect and the readers.
// Placeholder until the inspection is written: Connect does nothing yet.
#include "upliner/ReinstallForm.h"

namespace zo {

void TReinstallForm::BConnectClick() {}

void TReinstallForm::InspectDatabase() {}

}  // namespace zo
