// Qt's application object for the upgrade tool's programs.
//
// Every argument on the command line belongs to the program, never to the
// toolkit: Qt is given only the program's name, so a switch such as
// -platform, -style or -reverse reaches the program's own reader (and its
// "Incorrect input parameter" message) instead of being taken or rejected
// by Qt. What the toolkit must know about the display comes from its
// environment variables, as for any Qt program: QT_QPA_PLATFORM, DISPLAY or
// WAYLAND_DISPLAY, QT_SCALE_FACTOR, QT_STYLE_OVERRIDE.
#pragma once

#include <QApplication>

namespace zo {

class TApplication {
 public:
  // ProgramName is argv[0]; it must outlive the object.
  explicit TApplication(char* ProgramName);
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

 private:
  // Qt keeps references to both for the application's life.
  int FArgc = 1;
  char* FArgv[2];
  QApplication FApplication;
};

}  // namespace zo
