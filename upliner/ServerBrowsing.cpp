// The server and database drop-downs, filled by asking the ODBC driver just
// before each list opens.
#include "core/Exception.h"
#include "core/Format.h"
#include "core/StringUtils.h"
#include "odbc/ODBCDatabase.h"
#include "upliner/ReinstallForm.h"

namespace zo {

namespace {

// The driver as the browse protocol names it: in braces.
String BrowseDriverName(const String& DriverName) { return Format(u"{%s}", {DriverName}); }

}  // namespace

void TReinstallForm::CServerNameDropDown() {
  // The typed text stays; only the list is replaced.
  CServerName.Items.clear();
  CServerName.ItemIndex = -1;
  TODBCDriver driver;
  const String names = driver.GetServerNames(BrowseDriverName(FDriverName));
  SplitToList(names, u',', CServerName.Items);
}

void TReinstallForm::CDatabaseNameDropDown() {
  CDatabaseName.Items.clear();
  CDatabaseName.ItemIndex = -1;
  if (!CServerName.Filled()) throw Exception(String(u"You must choose Server Name first."));
  TODBCDriver driver;
  const String names = driver.GetDatabaseNames(BrowseDriverName(FDriverName), CServerName.Text, EUserName.Text,
                                               EPassword.Text, CBTrustedConnection.Checked);
  SplitToList(names, u',', CDatabaseName.Items);
}

}  // namespace zo
