// The upgrade tool's program entry.
#include <QApplication>
#include <vector>

#include "core/Types.h"
#include "platform/Environment.h"
#include "platform/Utf.h"
#include "upliner/QtDialogs.h"
#include "upliner/ReinstallWindow.h"

int main(int argc, char** argv) {
  // Taken before Qt sees them: the application object removes the switches
  // it knows itself, and the tool reads every argument on its own terms.
  std::vector<zo::String> args;
  for (int i = 1; i < argc; ++i) args.push_back(zo::FromUtf8(argv[i]));

  // The core library's start-up values are fixed before anything reads them.
  (void)zo::ComputerName();

  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Upliner"));
  zo::UseWindowFont();
  zo::TQtFormDialogs dialogs;
  return zo::RunUpliner(args, zo::ExecutableDirectory(), dialogs);
}
