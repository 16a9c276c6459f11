// Running the window thread on Qt's main thread.
#include "server/window/window_host.h"

#include <pthread.h>
#include <signal.h>

#include <QApplication>
#include <QSystemTrayIcon>
#include <QTimer>
#include <atomic>
#include <thread>

#include "admin/dialogs/app_title.h"
#include "server/window/main_form.h"
#include "server/window/maintenance_window.h"
#include "server/window/qt_ui_dispatcher.h"
#include "server/window/window_font.h"

namespace qz::server {
namespace {

// Ends the event loop on SIGTERM or SIGINT (a service manager or the
// operator's shell stops the server cleanly). The loop is left with
// exit(), not quit(): quit() would close the window first and so put the
// question about live instances on a screen nobody may be watching. The
// start blocks both signals in every thread; a thread of our own takes
// them with sigwait. Does nothing when they are not blocked (then their
// default action applies).
class SignalWatcher {
 public:
  SignalWatcher() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGINT);
    sigset_t current;
    pthread_sigmask(SIG_BLOCK, nullptr, &current);
    if (!sigismember(&current, SIGTERM) || !sigismember(&current, SIGINT)) return;
    thread_ = std::thread([this] {
      int sig = 0;
      while (sigwait(&set_, &sig) == 0) {
        if (stopping_) return;
        QMetaObject::invokeMethod(
            qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
      }
    });
  }
  ~SignalWatcher() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    pthread_kill(thread_.native_handle(), SIGTERM);  // wakes the sigwait
    thread_.join();
  }
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  sigset_t set_;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
};

}  // namespace

int runWindowHost(HostContext& ctx, int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("qzserver"));
  admin::SetApplicationTitle(QStringLiteral("岚舟应用服务器"));
  // The window hides into the tray and dialogs close while it is hidden:
  // only closing the main window ends the loop.
  QApplication::setQuitOnLastWindowClosed(false);
  // Dialogs and message boxes share the window's CJK font.
  QApplication::setFont(CjkFont(13));

  MainFormOptions options;
  options.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
  options.instanceCount = ctx.instanceCount;
  options.onClosed = [] { QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); }); };
  TSevMainForm form(*ctx.sysInfo, *ctx.activityLog, std::move(options));
  MaintenanceWindow maintenance(form, *ctx.sysInfo);  // backup, restore, clean-up
  form.show();

  QtUiDispatcher dispatcher(&form);
  if (ctx.onLastInstanceReleased)
    ctx.onLastInstanceReleased([] {
      QMetaObject::invokeMethod(
          qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    });
  if (ctx.startServing) ctx.startServing(dispatcher);

  int status = 0;
  {
    SignalWatcher watcher;
    status = app.exec();
  }
  // Calls still waiting for the window thread are refused, then the
  // transport stops and releases every instance.
  dispatcher.close();
  if (ctx.stopServing) ctx.stopServing();
  return status;
}

}  // namespace qz::server
