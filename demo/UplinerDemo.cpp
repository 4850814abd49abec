// Plays the administrator in front of the upgrade window for the demo: the
// real window over the real rules, filled in and clicked through its model's
// user entry points, answering Yes where the window asks. Nothing here is
// part of the upgrade tool; it only stands in for the person at the screen.
//
//   upliner_demo <app-dir> <out-dir> <server> <database> <user> <password> [target]
//
// It connects, upgrades the database to <target> (default: the target the
// window proposes), saves the report to <out-dir>/upgrade-report.txt and
// writes what the window showed before and after to <out-dir>/upliner-*.png.
// Run it with QT_QPA_PLATFORM=offscreen or on a display. Exit code 0 when the
// database reached the target, 1 otherwise.
#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "platform/Utf.h"
#include "upliner/qt/Application.h"
#include "upliner/Dialogs.h"
#include "upliner/ReinstallForm.h"
#include "upliner/qt/ReinstallWindow.h"

namespace {

// Says aloud what the window shows and answers every question with Yes.
class TNarratingDialogs : public zo::IFormDialogs {
 public:
  explicit TNarratingDialogs(zo::String ReportPath) : FReportPath(std::move(ReportPath)) {}

  void ShowMessage(const zo::String& Text) override { Say("message box", Text); }
  void ShowError(const zo::String& Text) override { Say("error box", Text); }
  bool AskYesNo(const zo::String& Text, const zo::String& Caption, zo::TMessageIcon) override {
    Say(("question \"" + zo::ToUtf8(Caption) + "\", answered Yes").c_str(), Text);
    return true;
  }
  std::optional<zo::String> AskSaveFileName(const zo::String&, const zo::String&) override { return FReportPath; }
  std::optional<zo::String> ChooseDirectory(const zo::String&) override { return std::nullopt; }

 private:
  static void Say(const char* What, const zo::String& Text) {
    std::printf("upliner-demo: %s:\n", What);
    std::string text = zo::ToUtf8(Text);
    for (std::size_t at; (at = text.find('\r')) != std::string::npos;) text.erase(at, 1);
    for (std::size_t at = 0; (at = text.find('\n', at)) != std::string::npos; at += 5) text.replace(at, 1, "\n    ");
    std::printf("    %s\n", text.c_str());
  }
  zo::String FReportPath;
};

void Shoot(zo::TReinstallWindow& Window, const std::string& Path) {
  Window.SyncFromModel();
  QApplication::processEvents();
  if (Window.grab().save(QString::fromStdString(Path), "PNG"))
    std::printf("upliner-demo: screenshot %s\n", Path.c_str());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7) {
    std::fprintf(stderr, "usage: %s <app-dir> <out-dir> <server> <database> <user> <password> [target]\n", argv[0]);
    return 2;
  }
  const zo::String appDir = zo::FromUtf8(argv[1]);
  const std::string outDir = argv[2];

  // The arguments are the demo's own (a password may well begin with '-').
  zo::TApplication app(argv[0]);
  zo::UseWindowFont();
  TNarratingDialogs dialogs(zo::FromUtf8(outDir + "/upgrade-report.txt"));
  zo::TReinstallForm form(dialogs, appDir);
  form.FormCreate({});
  if (form.Terminated()) return 1;
  zo::TReinstallWindow window(form);
  window.show();
  QApplication::processEvents();

  form.UserSetText(form.CServerName, zo::FromUtf8(argv[3]));
  form.UserSetText(form.CDatabaseName, zo::FromUtf8(argv[4]));
  form.UserSetText(form.EUserName, zo::FromUtf8(argv[5]));
  form.UserSetText(form.EPassword, zo::FromUtf8(argv[6]));
  if (argc > 7) form.UserSetText(form.ETargetVersion, zo::FromUtf8(argv[7]));
  form.UserClick(form.BConnect);
  std::printf("upliner-demo: connected: %s, database at version %s, target %s\n", form.FConnected ? "yes" : "no",
              zo::ToUtf8(form.EActualVersion.Text).c_str(), zo::ToUtf8(form.ETargetVersion.Text).c_str());
  Shoot(window, outDir + "/upliner-connected.png");
  if (!form.FConnected) return 1;

  form.UserSetChecked(form.CBCheckChanges, true);
  form.UserClick(form.BReinstall);
  Shoot(window, outDir + "/upliner-upgraded.png");
  std::printf("upliner-demo: the window's report:\n");
  for (const zo::String& line : form.MState.Lines) std::printf("    %s\n", zo::ToUtf8(line).c_str());
  std::printf("upliner-demo: system changes:\n");
  for (const zo::String& line : form.MChanges.Lines) std::printf("    %s\n", zo::ToUtf8(line).c_str());
  form.UserClick(form.BSave);
  std::printf("upliner-demo: report saved to %s/upgrade-report.txt\n", outDir.c_str());

  const bool reached = form.EActualVersion.Text == form.ETargetVersion.Text;
  std::printf("upliner-demo: database now at version %s\n", zo::ToUtf8(form.EActualVersion.Text).c_str());
  form.Close();
  return reached ? 0 : 1;
}
