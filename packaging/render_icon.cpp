// qz_render_icon FILE.png: writes the tray icon's picture (the window icon,
// drawn by the program itself) as a PNG file for the desktop entry.
#include <QGuiApplication>
#include <QPixmap>
#include <cstdio>

#include "server/window/tool_images.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qz_render_icon FILE.png\n");
    return 2;
  }
  // Drawing needs a GUI application but no display.
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  const QPixmap pm = qz::server::WindowIcon().pixmap(32, 32);
  if (pm.isNull() || !pm.save(QString::fromLocal8Bit(argv[1]), "PNG")) {
    std::fprintf(stderr, "qz_render_icon: cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
