// The window's dialogs as Qt shows them: QMessageBox, QFileDialog and
// TIDirDialog. Also the two conversions between String and QString, which
// share the same UTF-16 units.
#pragma once

#include <QString>

#include "upliner/Dialogs.h"

class QWidget;

namespace zo {

inline QString ToQString(StringView s) {
  return QString(reinterpret_cast<const QChar*>(s.data()), static_cast<qsizetype>(s.size()));
}
inline String FromQString(const QString& s) {
  return String(reinterpret_cast<const char16_t*>(s.utf16()), static_cast<std::size_t>(s.size()));
}

// "Text files|*.txt|All|*.*" as Qt's name filters: "Text files (*.txt);;All (*.*)".
QString ToQtNameFilters(StringView Filter);

class TQtFormDialogs : public IFormDialogs {
 public:
  explicit TQtFormDialogs(QWidget* Parent = nullptr) : FParent(Parent) {}
  // The window the boxes are shown over.
  void SetParent(QWidget* Parent) { FParent = Parent; }

  void ShowMessage(const String& Text) override;
  void ShowError(const String& Text) override;
  bool AskYesNo(const String& Text, const String& Caption, TMessageIcon Icon) override;
  std::optional<String> AskSaveFileName(const String& DefaultExt, const String& Filter) override;
  std::optional<String> ChooseDirectory(const String& InitialDir) override;

 private:
  QWidget* FParent;
};

}  // namespace zo
