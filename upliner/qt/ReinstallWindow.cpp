#include "upliner/qt/ReinstallWindow.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QToolButton>

#include "core/StringUtils.h"
#include "upliner/qt/QtDialogs.h"

namespace zo {

namespace {

// An editable drop-down list that lets the model fill its items just before
// the list opens.
class TDropDownComboBox : public QComboBox {
 public:
  using QComboBox::QComboBox;
  std::function<void()> OnDropDown;

  void showPopup() override {
    if (OnDropDown) OnDropDown();
    QComboBox::showPopup();
  }
};

// The banner's small centred picture: an upward arrow on a round badge.
QPixmap BannerImage() {
  QPixmap pixmap(40, 40);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(QColor(0x2F, 0x6F, 0xB5));
  painter.drawEllipse(2, 2, 36, 36);
  QPainterPath arrow;
  arrow.moveTo(20, 8);
  arrow.lineTo(31, 20);
  arrow.lineTo(24, 20);
  arrow.lineTo(24, 31);
  arrow.lineTo(16, 31);
  arrow.lineTo(16, 20);
  arrow.lineTo(9, 20);
  arrow.closeSubpath();
  painter.setBrush(Qt::white);
  painter.drawPath(arrow);
  return pixmap;
}

QString JoinedLines(const std::vector<String>& Lines) {
  QStringList list;
  for (const String& line : Lines) list << ToQString(line);
  return list.join(QLatin1Char('\n'));
}

}  // namespace

TReinstallWindow::TReinstallWindow(TReinstallForm& Form, QWidget* Parent)
    : QWidget(Parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      FForm(Form) {
  setObjectName(QStringLiteral("ReinstallForm"));
  // Labels are as wide as their captions in the font they are drawn with.
  FForm.SetCaptionMeasure([](StringView Caption, bool Bold) {
    QFont font = QApplication::font("QLabel");
    font.setBold(Bold);
    return QFontMetrics(font).horizontalAdvance(ToQString(Caption));
  });
  for (TControl* control : FForm.Controls()) {
    QWidget* container = control->Parent != nullptr ? FWidgets.at(control->Parent) : this;
    FWidgets[control] = CreateWidget(*control, container);
  }
  FForm.OnVisibilityChange = [this] {
    setVisible(FForm.Visible);
    // The upgrade actions block right after hiding the window: let the
    // display catch up first.
    QCoreApplication::processEvents();
  };
  FForm.OnClose = [this] {
    if (!FClosing) close();
  };
  SyncFromModel();
}

TReinstallWindow::~TReinstallWindow() {
  FForm.OnVisibilityChange = nullptr;
  FForm.OnClose = nullptr;
}

QWidget* TReinstallWindow::WidgetOf(const TControl& Control) const {
  const auto it = FWidgets.find(&Control);
  return it == FWidgets.end() ? nullptr : it->second;
}

template <typename Action>
void TReinstallWindow::Forward(Action&& action) {
  if (FSyncing) return;
  action();
  SyncFromModel();
}

QWidget* TReinstallWindow::CreateWidget(TControl& Control, QWidget* Container) {
  TControl* c = &Control;
  QWidget* widget = nullptr;
  switch (Control.Kind) {
    case ckLabel:
    case ckStaticText: {
      auto* label = new QLabel(Container);
      label->setTextFormat(Qt::PlainText);
      label->setWordWrap(Control.Kind == ckStaticText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      widget = label;
      break;
    }
    case ckEdit: {
      auto* edit = new QLineEdit(Container);
      connect(edit, &QLineEdit::textEdited, this,
              [this, c](const QString& text) { Forward([&] { FForm.UserSetText(*c, FromQString(text)); }); });
      widget = edit;
      break;
    }
    case ckComboBox: {
      auto* combo = new TDropDownComboBox(Container);
      combo->setEditable(true);
      combo->setInsertPolicy(QComboBox::NoInsert);
      combo->OnDropDown = [this, c] { Forward([&] { FForm.UserDropDown(*c); }); };
      connect(combo, &QComboBox::editTextChanged, this,
              [this, c](const QString& text) { Forward([&] { FForm.UserSetText(*c, FromQString(text)); }); });
      connect(combo, &QComboBox::activated, this,
              [this, c](int index) { Forward([&] { FForm.UserSelectItem(*c, index); }); });
      widget = combo;
      break;
    }
    case ckCheckBox: {
      auto* box = new QCheckBox(Container);
      connect(box, &QCheckBox::clicked, this,
              [this, c](bool checked) { Forward([&] { FForm.UserSetChecked(*c, checked); }); });
      widget = box;
      break;
    }
    case ckButton: {
      auto* button = new QPushButton(Container);
      connect(button, &QPushButton::clicked, this, [this, c] { Forward([&] { FForm.UserClick(*c); }); });
      widget = button;
      break;
    }
    case ckSpeedButton: {
      auto* button = new QToolButton(Container);
      button->setText(QStringLiteral("..."));
      button->setAutoRaise(false);
      connect(button, &QToolButton::clicked, this, [this, c] { Forward([&] { FForm.UserClick(*c); }); });
      widget = button;
      break;
    }
    case ckMemo: {
      auto* memo = new QPlainTextEdit(Container);
      memo->setLineWrapMode(QPlainTextEdit::NoWrap);
      connect(memo, &QPlainTextEdit::textChanged, this, [this, c, memo] {
        Forward([&] { FForm.UserSetLines(*c, SplitLines(FromQString(memo->toPlainText()))); });
      });
      widget = memo;
      break;
    }
    case ckGroupBox:
      widget = new QGroupBox(Container);
      break;
    case ckPanel: {
      auto* panel = new QFrame(Container);
      panel->setFrameShape(QFrame::NoFrame);
      panel->setAutoFillBackground(true);
      QPalette palette = panel->palette();
      palette.setColor(QPalette::Window, palette.color(QPalette::Base));
      panel->setPalette(palette);
      widget = panel;
      break;
    }
    case ckImage: {
      auto* image = new QLabel(Container);
      image->setAlignment(Qt::AlignCenter);
      image->setPixmap(BannerImage());
      widget = image;
      break;
    }
    case ckBevel: {
      auto* line = new QFrame(Container);
      line->setFrameShape(QFrame::HLine);
      line->setFrameShadow(QFrame::Sunken);
      widget = line;
      break;
    }
  }
  widget->setObjectName(ToQString(Control.Name));
  return widget;
}

void TReinstallWindow::SyncControl(const TControl& Control, QWidget* Widget) {
  Widget->setGeometry(Control.Left, Control.Top, Control.Width, Control.Height);
  Widget->setVisible(Control.Visible);
  Widget->setEnabled(Control.Enabled);
  const QString text = ToQString(Control.Text);
  switch (Control.Kind) {
    case ckLabel:
    case ckStaticText: {
      auto* label = static_cast<QLabel*>(Widget);
      label->setText(text);
      QFont font = label->font();
      font.setBold(Control.Bold);
      label->setFont(font);
      break;
    }
    case ckEdit: {
      auto* edit = static_cast<QLineEdit*>(Widget);
      edit->setEchoMode(Control.Password ? QLineEdit::Password : QLineEdit::Normal);
      if (edit->text() != text) edit->setText(text);
      break;
    }
    case ckComboBox: {
      auto* combo = static_cast<QComboBox*>(Widget);
      QStringList items;
      for (const String& item : Control.Items) items << ToQString(item);
      QStringList shown;
      for (int i = 0; i < combo->count(); ++i) shown << combo->itemText(i);
      if (shown != items) {
        combo->clear();
        combo->addItems(items);
      }
      if (Control.ItemIndex >= 0 && combo->currentIndex() != Control.ItemIndex)
        combo->setCurrentIndex(Control.ItemIndex);
      if (combo->currentText() != text) combo->setEditText(text);
      break;
    }
    case ckCheckBox:
      static_cast<QCheckBox*>(Widget)->setText(text);
      static_cast<QCheckBox*>(Widget)->setChecked(Control.Checked);
      break;
    case ckButton:
      static_cast<QPushButton*>(Widget)->setText(text);
      break;
    case ckMemo: {
      auto* memo = static_cast<QPlainTextEdit*>(Widget);
      const QString lines = JoinedLines(Control.Lines);
      if (memo->toPlainText() != lines) memo->setPlainText(lines);
      break;
    }
    case ckGroupBox:
      static_cast<QGroupBox*>(Widget)->setTitle(text);
      break;
    default:
      break;
  }
}

void TReinstallWindow::SyncFromModel() {
  FSyncing = true;
  setWindowTitle(ToQString(FForm.Caption));
  setFixedSize(FForm.ClientWidth(), FForm.ClientHeight());
  if (pos() != QPoint(FForm.Left, FForm.Top)) move(FForm.Left, FForm.Top);
  for (const TControl* control : FForm.Controls()) SyncControl(*control, FWidgets.at(control));
  FSyncing = false;
}

void TReinstallWindow::showEvent(QShowEvent* Event) {
  FForm.Visible = true;
  // Arranged before the window first appears, so it never shows the design
  // layout.
  FForm.FormActivate();
  SyncFromModel();
  QWidget::showEvent(Event);
}

void TReinstallWindow::changeEvent(QEvent* Event) {
  if (Event->type() == QEvent::ActivationChange && isActiveWindow()) {
    FForm.FormActivate();
    SyncFromModel();
  }
  QWidget::changeEvent(Event);
}

void TReinstallWindow::moveEvent(QMoveEvent* Event) {
  // The upgrade program is placed where the window is now, wherever the
  // user has moved it.
  if (!FSyncing && isVisible()) {
    FForm.Left = x();
    FForm.Top = y();
  }
  QWidget::moveEvent(Event);
}

void TReinstallWindow::closeEvent(QCloseEvent* Event) {
  FClosing = true;
  if (!FForm.Closed()) FForm.Close();
  FClosing = false;
  Event->accept();
}

void UseWindowFont() {
  QFont font(QStringLiteral("DejaVu Sans"));
  font.setPixelSize(10);
  QApplication::setFont(font);
}

int RunUpliner(const std::vector<String>& Args, const String& AppDir, IFormDialogs& Dialogs) {
  TReinstallForm form(Dialogs, AppDir);
  form.FormCreate(Args);
  if (form.Terminated()) return 0;
  TReinstallWindow window(form);
  if (auto* qtDialogs = dynamic_cast<TQtFormDialogs*>(&Dialogs)) qtDialogs->SetParent(&window);
  // The program ends when the window closes, and only then: while an action
  // runs the window is hidden, and the message boxes shown meanwhile must not
  // count as the last window.
  QApplication::setQuitOnLastWindowClosed(false);
  const std::function<void()> closeWindow = form.OnClose;
  form.OnClose = [&] {
    closeWindow();
    QCoreApplication::quit();
  };
  window.show();
  const int code = QApplication::exec();
  if (auto* qtDialogs = dynamic_cast<TQtFormDialogs*>(&Dialogs)) qtDialogs->SetParent(nullptr);
  return code;
}

}  // namespace zo
