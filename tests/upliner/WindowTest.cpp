// The Qt view, run on the offscreen platform.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileSystemModel>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>
#include <QTimer>
#include <QTreeView>

#include "ScriptedDialogs.h"
#include "upliner/qt/DirDialog.h"
#include "upliner/qt/QtDialogs.h"
#include "upliner/qt/ReinstallWindow.h"

namespace zo::testing {
namespace {

class WindowTest : public AppDirFixture {
 protected:
  void SetUp() override {
    AppDirFixture::SetUp();
    WriteVersions("5.0\r\n5.1\r\n");
  }

  // The window as the program shows it.
  void Show(std::vector<String> args = {}) {
    window_.reset();
    form_ = Open(std::move(args));
    window_ = std::make_unique<TReinstallWindow>(*form_);
    window_->show();
    QApplication::processEvents();
  }

  template <typename W>
  W* Widget(const TControl& c) {
    auto* w = qobject_cast<W*>(window_->WidgetOf(c));
    EXPECT_NE(w, nullptr) << ToUtf8(c.Name);
    return w;
  }

  std::unique_ptr<TReinstallForm> form_;
  std::unique_ptr<TReinstallWindow> window_;
};

TEST_F(WindowTest, EveryWidgetSitsWhereTheModelSays) {
  for (const std::vector<String>& args :
       {std::vector<String>{}, {u"-n40;30"}, {u"-li"}, {u"-aa"}, {u"-ed"}, {u"-ea", u"-n5;6"}}) {
    SCOPED_TRACE(args.empty() ? "reinstall" : ToUtf8(args[0]));
    Show(args);
    EXPECT_EQ(window_->windowTitle(), ToQString(form_->Caption));
    EXPECT_EQ(window_->size(), QSize(form_->ClientWidth(), form_->ClientHeight()));
    EXPECT_EQ(window_->pos(), QPoint(form_->Left, form_->Top));
    for (const TControl* c : form_->Controls()) {
      const QWidget* w = window_->WidgetOf(*c);
      ASSERT_NE(w, nullptr);
      EXPECT_EQ(w->geometry(), QRect(c->Left, c->Top, c->Width, c->Height)) << ToUtf8(c->Name);
      EXPECT_EQ(w->isVisibleTo(window_.get()), form_->Showing(*c)) << ToUtf8(c->Name);
      EXPECT_EQ(w->testAttribute(Qt::WA_Disabled), !c->Enabled) << ToUtf8(c->Name);
      if (auto* button = qobject_cast<const QPushButton*>(w)) {
        EXPECT_EQ(button->text(), ToQString(c->Text));
      }
      if (auto* label = qobject_cast<const QLabel*>(w); label && c->Kind == ckLabel) {
        EXPECT_EQ(label->text(), ToQString(c->Text));
      }
      if (auto* group = qobject_cast<const QGroupBox*>(w)) {
        EXPECT_EQ(group->title(), ToQString(c->Text));
      }
    }
  }
}

// Every caption shows whole in the window's real font, in every mode: no
// label runs under the field it names or past its container, no check box,
// button or group title is narrower than its text.
TEST_F(WindowTest, NoCaptionIsClipped) {
  for (const std::vector<String>& args :
       {std::vector<String>{}, {u"-n40;30"}, {u"-li"}, {u"-la", u"-n1;1"}, {u"-aa"}, {u"-ai", u"-n1;1"}, {u"-ed"},
        {u"-ea", u"-n5;6"}}) {
    SCOPED_TRACE(ToUtf8(args.empty() ? String(u"reinstall") : args[0] + (args.size() > 1 ? u" " + args[1] : u"")));
    Show(args);
    for (const TControl* c : form_->Controls()) {
      if (!form_->Showing(*c)) continue;
      QWidget* w = window_->WidgetOf(*c);
      const QRect room = QRect(QPoint(0, 0), w->parentWidget()->size());
      const int textWidth = w->fontMetrics().horizontalAdvance(ToQString(c->Text));
      const std::string name = ToUtf8(c->Name);
      switch (c->Kind) {
        case ckLabel:
          EXPECT_LE(textWidth, w->width()) << name;
          EXPECT_TRUE(room.contains(w->geometry())) << name;
          for (const QObject* other : w->parentWidget()->children()) {
            const auto* sibling = qobject_cast<const QWidget*>(other);
            if (sibling == nullptr || sibling == w || !sibling->isVisible()) continue;
            EXPECT_FALSE(w->geometry().intersects(sibling->geometry()))
                << name << " runs into " << sibling->objectName().toStdString();
          }
          break;
        case ckCheckBox: {
          // The text starts after the box and must end inside the check box
          // and inside the window.
          QStyleOptionButton option;
          option.initFrom(w);
          option.text = ToQString(c->Text);
          const QRect text = w->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, w);
          EXPECT_LE(text.left() + textWidth, std::min(w->width(), room.width() - w->x())) << name;
          break;
        }
        case ckButton:
          EXPECT_LE(textWidth + 8, w->width()) << name;
          break;
        case ckGroupBox:
          EXPECT_LE(textWidth + 16, w->width()) << name;
          break;
        default:
          break;
      }
    }
  }
}

TEST_F(WindowTest, UserActionsReachTheHandlers) {
  Show();
  // Typing into a connection field is an edit of the model.
  form_->FConnected = true;
  QTest::keyClicks(Widget<QLineEdit>(form_->EPassword), "pw");
  EXPECT_EQ(form_->EPassword.Text, u"pw");
  EXPECT_FALSE(form_->FConnected);
  EXPECT_EQ(Widget<QLineEdit>(form_->EPassword)->echoMode(), QLineEdit::Password);

  QTest::keyClicks(Widget<QComboBox>(form_->CServerName)->lineEdit(), "srv");
  QTest::keyClicks(Widget<QComboBox>(form_->CDatabaseName)->lineEdit(), "db");
  EXPECT_EQ(form_->CServerName.Text, u"srv");
  EXPECT_TRUE(Widget<QPushButton>(form_->BConnect)->isEnabled());

  // Save Results follows the report, and a click asks for a file name.
  form_->AddLine(form_->MState, u"report");
  window_->SyncFromModel();
  ASSERT_TRUE(Widget<QPushButton>(form_->BSave)->isEnabled());
  QTest::mouseClick(Widget<QPushButton>(form_->BSave), Qt::LeftButton);
  EXPECT_EQ(dialogs.SaveRequests.size(), 1u);

  // Show Changes swaps the reports.
  form_->CBShowChanges.Enabled = true;
  window_->SyncFromModel();
  QTest::mouseClick(Widget<QCheckBox>(form_->CBShowChanges), Qt::LeftButton);
  EXPECT_TRUE(form_->CBShowChanges.Checked);
  EXPECT_TRUE(window_->WidgetOf(form_->MChanges)->isVisible());
  EXPECT_FALSE(window_->WidgetOf(form_->MState)->isVisible());
  EXPECT_FALSE(Widget<QPushButton>(form_->BSave)->isEnabled());

  // Choosing an integrity item is an edit of a connection value.
  form_->FConnected = true;
  Widget<QComboBox>(form_->CCheckIntegrity)->activated(2);
  EXPECT_EQ(form_->CCheckIntegrity.ItemIndex, 2);
  EXPECT_FALSE(form_->FConnected);

  QTest::mouseClick(Widget<QPushButton>(form_->BClose), Qt::LeftButton);
  EXPECT_TRUE(form_->Closed());
  EXPECT_FALSE(window_->isVisible());
}

TEST_F(WindowTest, DropDownAndDirectoryButtonRunTheirHandlers) {
  Show({u"-ea"});
  Widget<QComboBox>(form_->CDatabaseName)->showPopup();
  EXPECT_EQ(dialogs.Errors, std::vector<String>{u"You must choose Server Name first."});
  Widget<QComboBox>(form_->CDatabaseName)->hidePopup();

  dialogs.Directories = {String(u"/srv/ext")};
  QTest::mouseClick(window_->WidgetOf(form_->SBNewDir), Qt::LeftButton);
  EXPECT_EQ(form_->ENewDir.Text, u"/srv/ext");
  EXPECT_EQ(Widget<QLineEdit>(form_->ENewDir)->text(), QStringLiteral("/srv/ext"));
}

TEST_F(WindowTest, HidingTheModelHidesTheWindowAtOnce) {
  Show();
  form_->Hide();
  EXPECT_FALSE(window_->isVisible());
  form_->Show();
  EXPECT_TRUE(window_->isVisible());
}

TEST_F(WindowTest, BadCommandLineEndsWithCodeZeroBeforeAnyWindow) {
  EXPECT_EQ(RunUpliner({u"-li", u"-ad"}, AppDir(), dialogs), 0);
  EXPECT_EQ(dialogs.Messages,
            std::vector<String>{u"Alter archive parameter \"-ad\" is incompatible with rest of input parameters"});
  for (QWidget* w : QApplication::topLevelWidgets()) EXPECT_FALSE(w->isVisible());
}

TEST_F(WindowTest, ProgramRunsUntilTheWindowIsClosed) {
  QTimer::singleShot(0, [] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (qobject_cast<TReinstallWindow*>(w) && w->isVisible())
        QTest::mouseClick(w->findChild<QPushButton*>(QStringLiteral("BClose")), Qt::LeftButton);
    }
  });
  EXPECT_EQ(RunUpliner({u"-n10;20"}, AppDir(), dialogs), 0);
  EXPECT_TRUE(dialogs.Messages.empty());
  EXPECT_TRUE(dialogs.Errors.empty());
}

class DirDialogTest : public AppDirFixture {
 protected:
  void SetUp() override {
    AppDirFixture::SetUp();
    std::filesystem::create_directories(Path("sub/inner"));
  }
  String Sub() const { return FromUtf8(std::filesystem::canonical(Path("sub")).string()); }
};

TEST_F(DirDialogTest, ControlsAndDirectory) {
  TIDirDialog dialog;
  EXPECT_EQ(IDirDialog, &dialog);
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Choosing Directory"));
  EXPECT_EQ(dialog.size(), QSize(201, 288));
  EXPECT_EQ(dialog.LBDir->geometry(), QRect(8, 8, 185, 217));
  EXPECT_EQ(dialog.CBDrive->geometry().topLeft(), QPoint(8, 232));
  EXPECT_EQ(dialog.OkBtn->geometry(), QRect(40, 256, 75, 25));
  EXPECT_EQ(dialog.OkBtn->text(), QStringLiteral("Ok"));
  EXPECT_EQ(dialog.CancelBtn->geometry(), QRect(120, 256, 75, 25));
  EXPECT_EQ(dialog.CancelBtn->text(), QStringLiteral("Cancel"));
  EXPECT_GE(dialog.CBDrive->findText(QStringLiteral("/")), 0);
  EXPECT_FALSE(dialog.ChoosedDir);

  EXPECT_TRUE(dialog.SetDirectory(Sub()));
  EXPECT_EQ(dialog.Directory(), Sub());
  const String before = dialog.Directory();
  EXPECT_FALSE(dialog.SetDirectory(u""));
  EXPECT_FALSE(dialog.SetDirectory(AppDir() + u"/no-such-dir"));
  EXPECT_EQ(dialog.Directory(), before);

  // Choosing a drive shows the directories of that file system.
  const int root = dialog.CBDrive->findText(QStringLiteral("/"));
  ASSERT_GE(root, 0);
  emit dialog.CBDrive->activated(root);
  EXPECT_EQ(dialog.Directory(), u"/");
  EXPECT_EQ(static_cast<const QFileSystemModel*>(dialog.LBDir->model())->filePath(dialog.LBDir->rootIndex()),
            QStringLiteral("/"));
}

TEST_F(DirDialogTest, EnterConfirmsEscAndCloseBoxCancel) {
  struct Case {
    const char* Name;
    std::function<void(TIDirDialog&)> Act;
    bool Choosed;
  };
  const Case cases[] = {
      {"enter", [](TIDirDialog& d) { QTest::keyClick(d.LBDir, Qt::Key_Return); }, true},
      {"ok", [](TIDirDialog& d) { QTest::mouseClick(d.OkBtn, Qt::LeftButton); }, true},
      {"esc", [](TIDirDialog& d) { QTest::keyClick(d.LBDir, Qt::Key_Escape); }, false},
      {"cancel", [](TIDirDialog& d) { QTest::mouseClick(d.CancelBtn, Qt::LeftButton); }, false},
      {"close box", [](TIDirDialog& d) { d.close(); }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    TIDirDialog dialog;
    dialog.ChoosedDir = !c.Choosed;
    dialog.show();
    QApplication::processEvents();
    c.Act(dialog);
    EXPECT_EQ(dialog.ChoosedDir, c.Choosed);
    EXPECT_FALSE(dialog.isVisible());
  }
}

// The Qt dialogs run the picker modally and hand back what was chosen.
TEST_F(DirDialogTest, QtDialogsReturnTheChosenDirectoryOnlyAfterOk) {
  TQtFormDialogs qtDialogs;
  QTimer::singleShot(0, [] { QTest::keyClick(IDirDialog->LBDir, Qt::Key_Return); });
  EXPECT_EQ(qtDialogs.ChooseDirectory(Sub()), std::optional<String>(Sub()));
  QTimer::singleShot(0, [] { QTest::keyClick(IDirDialog->LBDir, Qt::Key_Escape); });
  EXPECT_EQ(qtDialogs.ChooseDirectory(Sub()), std::nullopt);
  EXPECT_EQ(IDirDialog, nullptr);
}

TEST(QtNameFilters, PairsBecomeQtFilters) {
  EXPECT_EQ(ToQtNameFilters(u"*.txt|*.txt"), QStringLiteral("*.txt (*.txt)"));
  EXPECT_EQ(ToQtNameFilters(u"Text|*.txt;*.log|All|*.*"), QStringLiteral("Text (*.txt *.log);;All (*.*)"));
}

}  // namespace
}  // namespace zo::testing

// The application object lives exactly as long as the tests run, with the
// window's font, as in the program.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  QApplication app(argc, argv);
  zo::UseWindowFont();
  return RUN_ALL_TESTS();
}
