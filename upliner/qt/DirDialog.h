// TIDirDialog: the small modal dialog in which the user picks a directory
// for the archive and external-database actions.
//
// The directory tree LBDir shows the file system below the mount point chosen
// in the drive list CBDrive, which lists the mounted file systems.
#pragma once

#include <QDialog>

#include "core/String.h"

class QComboBox;
class QFileSystemModel;
class QPushButton;
class QTreeView;

namespace zo {

class TIDirDialog : public QDialog {
  Q_OBJECT

 public:
  explicit TIDirDialog(QWidget* AOwner = nullptr);
  ~TIDirDialog() override;

  QTreeView* LBDir;
  QComboBox* CBDrive;
  QPushButton* OkBtn;
  QPushButton* CancelBtn;
  // True after Ok or Enter; false after Cancel, Esc or the close box.
  bool ChoosedDir = false;

  // Shows Directory in LBDir, switching CBDrive to its file system. False,
  // with nothing changed, when the text names no directory.
  bool SetDirectory(const String& Directory);
  // The directory selected in LBDir.
  String Directory() const;

  void OkBtnClick();
  void CancelBtnClick();

 protected:
  // LBDirKeyDown: Enter confirms and Esc cancels; other keys go to the list.
  bool eventFilter(QObject* Watched, QEvent* Event) override;
  void reject() override;

 private:
  void CBDriveChange(int Index);
  void ShowDriveOf(const QString& Path);

  QFileSystemModel* FModel;
};

// The dialog while one exists, for code that needs to reach the open picker.
extern TIDirDialog* IDirDialog;

}  // namespace zo
