#include "upliner/qt/DirDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QPushButton>
#include <QStorageInfo>
#include <QTreeView>

#include "upliner/qt/QtDialogs.h"

namespace zo {

TIDirDialog* IDirDialog = nullptr;

TIDirDialog::TIDirDialog(QWidget* AOwner)
    : QDialog(AOwner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint) {
  setWindowTitle(QStringLiteral("Choosing Directory"));
  setFixedSize(201, 288);
  setModal(true);

  FModel = new QFileSystemModel(this);
  FModel->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  FModel->setRootPath(QStringLiteral("/"));

  LBDir = new QTreeView(this);
  LBDir->setObjectName(QStringLiteral("LBDir"));
  LBDir->setGeometry(8, 8, 185, 217);
  LBDir->setModel(FModel);
  LBDir->setHeaderHidden(true);
  for (int column = 1; column < FModel->columnCount(); ++column) LBDir->hideColumn(column);
  LBDir->installEventFilter(this);

  CBDrive = new QComboBox(this);
  CBDrive->setObjectName(QStringLiteral("CBDrive"));
  CBDrive->setGeometry(8, 232, 185, 21);
  for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
    if (volume.isValid() && volume.isReady()) CBDrive->addItem(volume.rootPath());
  }

  OkBtn = new QPushButton(QStringLiteral("Ok"), this);
  OkBtn->setObjectName(QStringLiteral("OkBtn"));
  OkBtn->setGeometry(40, 256, 75, 25);
  OkBtn->setDefault(true);
  CancelBtn = new QPushButton(QStringLiteral("Cancel"), this);
  CancelBtn->setObjectName(QStringLiteral("CancelBtn"));
  CancelBtn->setGeometry(120, 256, 75, 25);

  connect(OkBtn, &QPushButton::clicked, this, [this] { OkBtnClick(); });
  connect(CancelBtn, &QPushButton::clicked, this, [this] { CancelBtnClick(); });
  connect(CBDrive, &QComboBox::activated, this, [this](int index) { CBDriveChange(index); });

  // Like a directory list, the tree starts at the working directory.
  if (!SetDirectory(FromQString(QDir::currentPath()))) ShowDriveOf(QDir::rootPath());
  IDirDialog = this;
}

TIDirDialog::~TIDirDialog() {
  if (IDirDialog == this) IDirDialog = nullptr;
}

// The tree shows the directories of the file system that holds Path.
void TIDirDialog::ShowDriveOf(const QString& Path) {
  QString root = QStorageInfo(Path).rootPath();
  if (root.isEmpty()) root = QDir::rootPath();
  const int drive = CBDrive->findText(root);
  if (drive >= 0) CBDrive->setCurrentIndex(drive);
  LBDir->setRootIndex(FModel->index(root));
}

bool TIDirDialog::SetDirectory(const String& Directory) {
  const QString path = ToQString(Directory);
  if (path.isEmpty() || !QFileInfo(path).isDir()) return false;
  const QString canonical = QFileInfo(path).canonicalFilePath();
  ShowDriveOf(canonical);
  const QModelIndex index = FModel->index(canonical);
  LBDir->setCurrentIndex(index);
  LBDir->expand(index);
  LBDir->scrollTo(index);
  return true;
}

String TIDirDialog::Directory() const {
  const QModelIndex current = LBDir->currentIndex();
  if (current.isValid()) return FromQString(FModel->filePath(current));
  return FromQString(CBDrive->currentText());
}

void TIDirDialog::CBDriveChange(int Index) {
  const QModelIndex root = FModel->index(CBDrive->itemText(Index));
  LBDir->setRootIndex(root);
  LBDir->setCurrentIndex(root);
}

void TIDirDialog::OkBtnClick() {
  ChoosedDir = true;
  done(QDialog::Accepted);
}

void TIDirDialog::CancelBtnClick() {
  ChoosedDir = false;
  done(QDialog::Rejected);
}

void TIDirDialog::reject() {
  ChoosedDir = false;
  QDialog::reject();
}

bool TIDirDialog::eventFilter(QObject* Watched, QEvent* Event) {
  if (Watched == LBDir && Event->type() == QEvent::KeyPress) {
    switch (static_cast<QKeyEvent*>(Event)->key()) {
      case Qt::Key_Return:
      case Qt::Key_Enter:
        OkBtnClick();
        return true;
      case Qt::Key_Escape:
        CancelBtnClick();
        return true;
      default:
        break;
    }
  }
  return QDialog::eventFilter(Watched, Event);
}

}  // namespace zo
