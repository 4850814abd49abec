// Renders the upgrade window to a PNG, for the documentation.
//
//   upliner_screenshot <app-dir> <out.png> [upliner arguments...]
//
// The window is built from the arguments exactly as the program builds it,
// reading Versions.sl from <app-dir>, and drawn with a plain window frame and
// its caption around it. Run it with QT_QPA_PLATFORM=offscreen.
#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <cstdio>
#include <vector>

#include "platform/Utf.h"
#include "upliner/qt/Application.h"
#include "upliner/qt/QtDialogs.h"
#include "upliner/qt/ReinstallWindow.h"

namespace {

// Dialogs that print instead of asking: nothing modal may stop a render.
class TPrintingDialogs : public zo::IFormDialogs {
 public:
  void ShowMessage(const zo::String& Text) override { std::fprintf(stderr, "%s\n", zo::ToUtf8(Text).c_str()); }
  void ShowError(const zo::String& Text) override { ShowMessage(Text); }
  bool AskYesNo(const zo::String&, const zo::String&, zo::TMessageIcon) override { return false; }
  std::optional<zo::String> AskSaveFileName(const zo::String&, const zo::String&) override { return std::nullopt; }
  std::optional<zo::String> ChooseDirectory(const zo::String&) override { return std::nullopt; }
};

// The client area inside a simple single-border frame with a caption bar,
// the minimize box and the close box.
QImage Framed(const QPixmap& Client, const QString& Caption, int OuterWidth, int OuterHeight) {
  const int border = zo::kFrameWidth / 2;
  const int captionHeight = zo::kFrameHeight - border;
  QImage image(OuterWidth, OuterHeight, QImage::Format_RGB32);
  image.fill(QColor(0x3A, 0x6E, 0xA5));
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::white);
  QFont font = QApplication::font();
  font.setBold(true);
  painter.setFont(font);
  painter.drawText(QRect(8, 0, OuterWidth - 60, captionHeight), Qt::AlignVCenter | Qt::AlignLeft, Caption);
  const int box = captionHeight - 8;
  const QRect closeBox(OuterWidth - border - 4 - box, 4, box, box);
  const QRect minimizeBox = closeBox.translated(-box - 4, 0);
  painter.setPen(QPen(Qt::white, 1.5));
  painter.drawLine(closeBox.topLeft() + QPoint(3, 3), closeBox.bottomRight() - QPoint(3, 3));
  painter.drawLine(closeBox.topRight() + QPoint(-3, 3), closeBox.bottomLeft() + QPoint(3, -3));
  painter.drawLine(minimizeBox.bottomLeft() + QPoint(3, -3), minimizeBox.bottomRight() - QPoint(3, 3));
  painter.drawPixmap(border, captionHeight, Client);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s <app-dir> <out.png> [upliner arguments...]\n", argv[0]);
    return 2;
  }
  std::vector<zo::String> args;
  for (int i = 3; i < argc; ++i) args.push_back(zo::FromUtf8(argv[i]));
  const zo::String appDir = zo::FromUtf8(argv[1]);
  const QString output = QString::fromLocal8Bit(argv[2]);

  // The window's arguments are the tool's own, never the toolkit's.
  zo::TApplication app(argv[0]);
  zo::UseWindowFont();
  TPrintingDialogs dialogs;
  zo::TReinstallForm form(dialogs, appDir);
  form.FormCreate(args);
  if (form.Terminated()) return 1;
  zo::TReinstallWindow window(form);
  window.show();
  QApplication::processEvents();

  const QImage image = Framed(window.grab(), window.windowTitle(), form.Width, form.Height);
  if (!image.save(output, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
