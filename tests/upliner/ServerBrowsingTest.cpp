// The server and database drop-downs against a real driver manager and a
// driver library that implements browsing.
#include "ScriptedDialogs.h"
#include "tests/odbc/TestDriver.h"

namespace zo::testing {
namespace {

// Before the first ODBC call of this program.
const bool kTestDriverRegistered = zo::test::RegisterTestDriver();

class ServerBrowsingTest : public AppDirFixture {
 protected:
  void SetUp() override {
    // The library is built with the tests: not finding it is a failure.
    ASSERT_TRUE(kTestDriverRegistered) << "the test driver library could not be registered";
    AppDirFixture::SetUp();
    WriteVersions("5.0\r\n");
    form_ = Open();
    form_->FDriverName = zo::test::kTestDriverName;
  }
  std::unique_ptr<TReinstallForm> form_;
};

TEST_F(ServerBrowsingTest, ServerListComesFromTheDriverAndKeepsTheTypedText) {
  form_->UserSetText(form_->CServerName, u"typed");
  form_->CServerName.Items = {u"stale"};
  form_->UserDropDown(form_->CServerName);
  EXPECT_TRUE(dialogs.Errors.empty()) << ToUtf8(dialogs.Errors.front());
  EXPECT_EQ(form_->CServerName.Items, (std::vector<String>{u"SRV1", u"SRV2\\SQLEXPRESS"}));
  EXPECT_EQ(form_->CServerName.Text, u"typed");

  form_->UserSelectItem(form_->CServerName, 1);
  EXPECT_EQ(form_->CServerName.Text, u"SRV2\\SQLEXPRESS");
}

TEST_F(ServerBrowsingTest, DatabaseListUsesTheConnectionFields) {
  form_->UserSetText(form_->CServerName, u"SRV1");
  form_->UserSetText(form_->EUserName, u"sa");
  form_->UserSetText(form_->EPassword, u"secret");
  form_->UserDropDown(form_->CDatabaseName);
  EXPECT_TRUE(dialogs.Errors.empty());
  EXPECT_EQ(form_->CDatabaseName.Items, (std::vector<String>{u"master", u"model", u"app"}));

  // A refused login is shown, and the list stays empty.
  form_->UserSetText(form_->EPassword, u"wrong");
  form_->UserDropDown(form_->CDatabaseName);
  EXPECT_EQ(dialogs.Errors, std::vector<String>{u"Invalid input values (ServerName,UserName or Password)."});
  EXPECT_TRUE(form_->CDatabaseName.Items.empty());

  form_->UserSetText(form_->CServerName, u"DOWN");
  form_->UserSetText(form_->EPassword, u"secret");
  form_->UserDropDown(form_->CDatabaseName);
  ASSERT_EQ(dialogs.Errors.size(), 2u);
  EXPECT_EQ(dialogs.Errors[1], u"08001 : [zo test driver] server DOWN does not answer\r\n");
  EXPECT_TRUE(form_->CDatabaseName.Items.empty());
}

TEST_F(ServerBrowsingTest, AnUnknownDriverIsReportedAndTheListStaysEmpty) {
  form_->FDriverName = u"No Such Driver";
  form_->UserDropDown(form_->CServerName);
  ASSERT_EQ(dialogs.Errors.size(), 1u);
  EXPECT_FALSE(dialogs.Errors[0].empty());
  EXPECT_TRUE(form_->CServerName.Items.empty());
}

}  // namespace
}  // namespace zo::testing
