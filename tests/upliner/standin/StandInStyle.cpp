// A stand-in for the person at the screen, for the tests that run the real
// upgrade tool: a Qt style ("zostandin") that the program loads the way it
// loads any user's style, through QT_STYLE_OVERRIDE and QT_PLUGIN_PATH. It
// draws like Fusion, and every window the program shows is noted in the
// file named by ZO_STANDIN_LOG, one line each, and then dismissed:
//
//   message <caption>|<text>          a message box, answered with its button
//   window <caption>|<left>,<top>,<width>x<height>|<target version>
//                                     the upgrade window, then closed
//
// Line breaks in a text are written as "\n".
#include <QAbstractButton>
#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStylePlugin>
#include <QTimer>
#include <QWidget>

namespace {

void Note(const QString& Line) {
  QFile log(qEnvironmentVariable("ZO_STANDIN_LOG"));
  if (!log.open(QIODevice::Append | QIODevice::Text)) return;
  QString line = Line;
  line.replace(QLatin1Char('\n'), QStringLiteral("\\n"));
  log.write(line.toUtf8() + '\n');
}

// Notes the window and dismisses it, once the program waits for the user.
void Answer(QWidget* Window) {
  if (auto* box = qobject_cast<QMessageBox*>(Window)) {
    Note(QStringLiteral("message ") + box->windowTitle() + QLatin1Char('|') + box->text());
    const QList<QAbstractButton*> buttons = box->buttons();
    if (!buttons.isEmpty())
      buttons.first()->click();
    else
      box->close();
    return;
  }
  const auto* target = Window->findChild<QLineEdit*>(QStringLiteral("ETargetVersion"));
  Note(QStringLiteral("window %1|%2,%3,%4x%5|%6")
           .arg(Window->windowTitle())
           .arg(Window->x())
           .arg(Window->y())
           .arg(Window->width())
           .arg(Window->height())
           .arg(target != nullptr ? target->text() : QString()));
  Window->close();
}

// Sees every window the moment it is shown.
class TWindowWatcher : public QObject {
 protected:
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::Show && Watched->isWidgetType()) {
      auto* widget = static_cast<QWidget*>(Watched);
      if (widget->isWindow()) {
        QPointer<QWidget> window(widget);
        QTimer::singleShot(0, widget, [window] {
          if (window && window->isVisible()) Answer(window);
        });
      }
    }
    return false;
  }
};

class TStandInStyle : public QProxyStyle {
 public:
  TStandInStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {
    QCoreApplication::instance()->installEventFilter(&FWatcher);
  }
  ~TStandInStyle() override {
    if (QCoreApplication::instance() != nullptr) QCoreApplication::instance()->removeEventFilter(&FWatcher);
  }

 private:
  TWindowWatcher FWatcher;
};

}  // namespace

class TStandInStylePlugin : public QStylePlugin {
  Q_OBJECT
  Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "StandInStyle.json")

 public:
  QStyle* create(const QString& Key) override {
    return Key.compare(QStringLiteral("zostandin"), Qt::CaseInsensitive) == 0 ? new TStandInStyle : nullptr;
  }
};

#include "StandInStyle.moc"
