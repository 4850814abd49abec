// The native Win32 view of the upgrade window.
//
// It creates one standard control (STATIC, EDIT, COMBOBOX, BUTTON) per
// control of the model, so that automation tools and screen readers see
// every field with its caption, places them at the model's geometry scaled
// by the monitor's DPI, passes every user action to the model's User* entry
// points and afterwards shows the model's state again. It holds no rules of
// its own.
#pragma once

#include <windows.h>

#include <map>
#include <vector>

#include "upliner/ReinstallForm.h"

namespace zo {

class TReinstallWindow {
 public:
  explicit TReinstallWindow(TReinstallForm& Form);
  ~TReinstallWindow();
  TReinstallWindow(const TReinstallWindow&) = delete;
  TReinstallWindow& operator=(const TReinstallWindow&) = delete;

  HWND Handle() const { return FHandle; }
  // Shows the model's state in every control and in the window itself.
  void SyncFromModel();
  // Arranges the window for its mode and shows it.
  void Show();

 private:
  static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
  LRESULT HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam);
  void OnCommand(int Id, int Code, HWND Control);
  void OnEnter();
  void OnDpiChanged(UINT Dpi, const RECT& Suggested);

  void CreateControls();
  HWND CreateControl(TControl& Control, int Id);
  void SyncControl(const TControl& Control, HWND Handle);
  void SyncWindowFrame();
  void UpdateFonts();
  void DrawBannerImage(const DRAWITEMSTRUCT& Item) const;
  TControl* ControlOf(int Id) const;
  TControl* ControlOf(HWND Control) const;
  // Runs one of the model's User* entry points, then shows the new state.
  template <typename Action>
  void Forward(Action&& action);

  // Design pixels (96 DPI) in the monitor's pixels.
  int Scaled(int DesignPixels) const;

  TReinstallForm& FForm;
  HWND FHandle = nullptr;
  UINT FDpi = USER_DEFAULT_SCREEN_DPI;
  HFONT FFont = nullptr;
  HFONT FBoldFont = nullptr;
  HBRUSH FBannerBrush = nullptr;
  std::vector<TControl*> FControls;  // index = control id - kFirstControlId
  std::map<HWND, TControl*> FByHandle;
  std::map<const TControl*, HWND> FHandles;
  HWND FLastFocus = nullptr;  // where the focus goes back to on activation
  bool FSyncing = false;
  bool FDestroyed = false;
};

// The program's start-up: reads the command line into the window, shows it
// and runs the message loop until it closes. A bad command line is reported
// through Dialogs and ends with exit code 0 before any window appears.
int RunUpliner(const std::vector<String>& Args, const String& AppDir, IFormDialogs& Dialogs);

}  // namespace zo
