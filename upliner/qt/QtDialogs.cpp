#include "upliner/qt/QtDialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QStringList>

#include "upliner/qt/DirDialog.h"

namespace zo {

namespace {

const QString kTitle = QStringLiteral("Upliner");

// The system's messages break lines with CR LF; a label wants LF alone.
QString MessageText(const String& Text) { return ToQString(Text).replace(QStringLiteral("\r\n"), QStringLiteral("\n")); }

QMessageBox::Icon QtIcon(TMessageIcon Icon) {
  switch (Icon) {
    case miInformation: return QMessageBox::Information;
    case miQuestion: return QMessageBox::Question;
    case miWarning: return QMessageBox::Warning;
    case miError: return QMessageBox::Critical;
    default: return QMessageBox::NoIcon;
  }
}

}  // namespace

QString ToQtNameFilters(StringView Filter) {
  const QStringList parts = ToQString(Filter).split(QLatin1Char('|'));
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
    filters << parts[i] + QStringLiteral(" (") + patterns + QLatin1Char(')');
  }
  return filters.join(QStringLiteral(";;"));
}

void TQtFormDialogs::ShowMessage(const String& Text) {
  QMessageBox box(QMessageBox::NoIcon, kTitle, MessageText(Text), QMessageBox::Ok, FParent);
  box.exec();
}

void TQtFormDialogs::ShowError(const String& Text) {
  QMessageBox box(QMessageBox::Critical, kTitle, MessageText(Text), QMessageBox::Ok, FParent);
  box.exec();
}

bool TQtFormDialogs::AskYesNo(const String& Text, const String& Caption, TMessageIcon Icon) {
  QMessageBox box(QtIcon(Icon), ToQString(Caption), MessageText(Text), QMessageBox::Yes | QMessageBox::No, FParent);
  return box.exec() == QMessageBox::Yes;
}

std::optional<String> TQtFormDialogs::AskSaveFileName(const String& DefaultExt, const String& Filter) {
  QFileDialog dialog(FParent);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(ToQString(DefaultExt));
  dialog.setNameFilter(ToQtNameFilters(Filter));
  // The report replaces an existing file without a question.
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return FromQString(dialog.selectedFiles().first());
}

std::optional<String> TQtFormDialogs::ChooseDirectory(const String& InitialDir) {
  TIDirDialog dialog(FParent);
  dialog.SetDirectory(InitialDir);  // failing to show it is not worth a message
  dialog.exec();
  if (!dialog.ChoosedDir) return std::nullopt;
  return dialog.Directory();
}

}  // namespace zo
