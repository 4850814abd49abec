// The Qt 6 view of the upgrade window.
//
// It creates one widget per control of the model at the model's geometry,
// passes every user action to the model's User* entry points and afterwards
// shows the model's state again. It holds no rules of its own.
#pragma once

#include <QWidget>
#include <map>
#include <vector>

#include "core/String.h"
#include "upliner/ReinstallForm.h"

namespace zo {

class IFormDialogs;

class TReinstallWindow : public QWidget {
  Q_OBJECT

 public:
  explicit TReinstallWindow(TReinstallForm& Form, QWidget* Parent = nullptr);
  ~TReinstallWindow() override;

  // The widget that shows Control.
  QWidget* WidgetOf(const TControl& Control) const;
  // Shows the model's state in every widget and in the window itself.
  void SyncFromModel();

 protected:
  void showEvent(QShowEvent* Event) override;
  void changeEvent(QEvent* Event) override;
  void moveEvent(QMoveEvent* Event) override;
  void closeEvent(QCloseEvent* Event) override;

 private:
  QWidget* CreateWidget(TControl& Control, QWidget* Container);
  void SyncControl(const TControl& Control, QWidget* Widget);
  // Runs one of the model's User* entry points, then shows the new state.
  template <typename Action>
  void Forward(Action&& action);

  TReinstallForm& FForm;
  std::map<const TControl*, QWidget*> FWidgets;
  bool FSyncing = false;
  bool FClosing = false;
};

// The program's start-up after the application object exists: reads the
// command line into the window, shows it and runs the event loop. A bad
// command line is reported through Dialogs and ends with exit code 0 before
// any window appears.
int RunUpliner(const std::vector<String>& Args, const String& AppDir, IFormDialogs& Dialogs);

// The window's small font, for the application: the pixel layout of the
// controls is made for it.
void UseWindowFont();

}  // namespace zo
