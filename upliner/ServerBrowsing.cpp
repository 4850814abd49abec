// The server and database drop-downs, filled by asking the ODBC driver.
#include "core/Exception.h"
#include "upliner/ReinstallForm.h"

namespace zo {

void TReinstallForm::CServerNameDropDown() { CServerName.Items.clear(); }

void TReinstallForm::CDatabaseNameDropDown() {
  CDatabaseName.Items.clear();
  if (!CServerName.Filled()) throw Exception(String(u"You must choose Server Name first."));
}

}  // namespace zo
