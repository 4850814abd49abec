// TIDirDialog: the small modal window in which the user picks a directory
// for the archive and external-database actions.
//
// The directory tree LBDir shows the folders of the drive chosen in the
// drive list CBDrive; folders are read when they are first opened. Ok or
// Enter confirms the folder selected in the tree, Cancel, Esc or the close
// box cancel.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <optional>
#include <string>

#include "core/String.h"

namespace zo {

class TIDirDialog {
 public:
  explicit TIDirDialog(HWND Owner);
  ~TIDirDialog();
  TIDirDialog(const TIDirDialog&) = delete;
  TIDirDialog& operator=(const TIDirDialog&) = delete;

  HWND LBDir = nullptr;
  HWND CBDrive = nullptr;
  HWND OkBtn = nullptr;
  HWND CancelBtn = nullptr;
  // True after Ok or Enter; false after Cancel, Esc or the close box.
  bool ChoosedDir = false;

  // Shows Directory in LBDir, switching CBDrive to its drive. False, with
  // nothing changed, when the text names no directory.
  bool SetDirectory(const String& Directory);
  // The directory selected in LBDir: its drive's root when none is.
  String Directory() const;
  // Shows the dialog until the user confirms or cancels.
  void ShowModal();

  void OkBtnClick();
  void CancelBtnClick();

  // Opens the dialog at InitialDir when that names a directory. Returns the
  // chosen directory after Ok, nothing after Cancel.
  static std::optional<String> Choose(HWND Owner, const String& InitialDir);

 private:
  static LRESULT CALLBACK WindowProc(HWND Window, UINT Message, WPARAM WParam, LPARAM LParam);
  LRESULT HandleMessage(UINT Message, WPARAM WParam, LPARAM LParam);
  void CreateControls();
  void CBDriveChange();
  void ShowDrive(const std::wstring& Root);
  // Adds the folders below Path as children of Parent (TVI_ROOT for the
  // drive's own folders).
  void AddFolders(HTREEITEM Parent, const std::wstring& Path);
  std::wstring PathOf(HTREEITEM Item) const;
  std::wstring CurrentDrive() const;
  int Scaled(int DesignPixels) const;

  HWND FOwner;
  HWND FHandle = nullptr;
  HFONT FFont = nullptr;
  UINT FDpi = USER_DEFAULT_SCREEN_DPI;
  bool FDone = false;
};

}  // namespace zo
