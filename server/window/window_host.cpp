// Running the window thread on Qt's main thread.
#include "server/window/window_host.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include "admin/dialogs/app_title.h"
#include "server/window/main_form.h"
#include "server/window/qt_ui_dispatcher.h"

namespace qz::server {

int runWindowHost(HostContext& ctx, int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qzserver"));
  admin::SetApplicationTitle(QStringLiteral("岚舟应用服务器"));
  // The window hides into the tray and dialogs close while it is hidden:
  // only closing the main window ends the loop.
  QApplication::setQuitOnLastWindowClosed(false);

  MainFormOptions options;
  options.trayAvailable = QSystemTrayIcon::isSystemTrayAvailable();
  options.instanceCount = ctx.instanceCount;
  options.onClosed = [] { QTimer::singleShot(0, qApp, [] { QCoreApplication::quit(); }); };
  TSevMainForm form(*ctx.sysInfo, *ctx.activityLog, std::move(options));
  form.show();

  QtUiDispatcher dispatcher(&form);
  if (ctx.onLastInstanceReleased)
    ctx.onLastInstanceReleased([] {
      QMetaObject::invokeMethod(qApp, [] { QCoreApplication::quit(); }, Qt::QueuedConnection);
    });
  if (ctx.startServing) ctx.startServing(dispatcher);

  const int status = app.exec();
  // Calls still waiting for the window thread are refused, then the
  // transport stops and releases every instance.
  dispatcher.close();
  if (ctx.stopServing) ctx.stopServing();
  return status;
}

}  // namespace qz::server
