// The upgrade tool's program entry.
#include <QApplication>
#include <vector>

#include "core/StartupValues.h"
#include "platform/Environment.h"
#include "platform/Utf.h"
#include "upliner/qt/Application.h"
#include "upliner/qt/QtDialogs.h"
#include "upliner/qt/ReinstallWindow.h"

int main(int argc, char** argv) {
  // Every argument is the tool's own: the toolkit sees none of them.
  std::vector<zo::String> args;
  for (int i = 1; i < argc; ++i) args.push_back(zo::FromUtf8(argv[i]));

  // The core library's start-up values are fixed before anything reads them.
  (void)zo::ComputerName();

  zo::TApplication app(argv[0]);
  QApplication::setApplicationName(QStringLiteral("Upliner"));
  zo::UseWindowFont();
  zo::TQtFormDialogs dialogs;
  return zo::RunUpliner(args, zo::ExecutableDirectory(), dialogs);
}
