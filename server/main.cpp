// qzserver: process start. Handles the registration switches, sets AppDir,
// opens SysInfoIni, and runs the window (with a display) or the console
// host (without one, or with --headless) until the process should end.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "database/maintenance_procedures.h"
#include "database/schema.h"
#include "platform/db/connection.h"
#include "platform/log/server_log.h"
#include "server/activity_log.h"
#include "server/command_line.h"
#include "server/headless_host.h"
#include "server/maintenance_cli.h"
#include "server/maintenance_commands.h"
#include "server/registration.h"
#include "server/serve_settings.h"
#include "server/serving.h"
#include "settings/config.h"
#include "settings/sysinfo_ini.h"
#ifdef QZ_HAVE_WINDOW
#include "server/window/window_host.h"
#endif

namespace {

constexpr const char* kApplicationTitle = "岚舟应用服务器";

[[maybe_unused]] bool hasDisplay() {
  const char* qpa = std::getenv("QT_QPA_PLATFORM");
  if (qpa && *qpa) return true;
  const char* x = std::getenv("DISPLAY");
  const char* w = std::getenv("WAYLAND_DISPLAY");
  return (x && *x) || (w && *w);
}

// The engine and database that system.ini selects, for the start line:
// "database qz on the embedded engine in /srv/qz/data/" or "database qz on
// PostgreSQL at db1,5432". Read once at start; a module creation reads
// system.ini again, so later edits apply to new clients.
std::string DescribeDatabase() try {
  using namespace qz;
  const std::string name = server::ReadSystemIniLine(4);
  const std::string source = server::ReadSystemIniLine(1);
  db::Connection c;
  c.setConnectionString(server::BuildSqlConnectionString());
  const std::string what = "database " + (name.empty() ? std::string("(none named)") : name);
  if (c.engine() == db::EngineKind::Embedded)
    return what + " on the embedded engine in " + db::embeddedDataDir();
  if (source == "." || source == "(local)") return what + " on PostgreSQL (local socket)";
  return what + " on PostgreSQL at " + source;
} catch (const std::exception& e) {
  return std::string("database settings not readable: ") + e.what();
}

}  // namespace

int main(int argc, char** argv) {
  using namespace qz::server;
  CommandLine cl;
  try {
    cl = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const UsageError& e) {
    std::fprintf(stderr, "qzserver: %s\nTry 'qzserver --help'.\n", e.what());
    return 2;
  }
  if (cl.help) {
    std::fputs(usageText().c_str(), stdout);
    return 0;
  }
  if (cl.version) {
    std::printf("qzserver %s\n", QZ_VERSION);
    return 0;
  }

  setAppDir(cl.appDir.empty() ? defaultAppDir() : cl.appDir);
  qz::log::setLevel(ResolveLogLevel(cl, SysInfoIni(appDir() + "sysinfo.ini")));
  qz::db::setEmbeddedDataDir(cl.dataDir.empty() ? appDir() + "data/" : cl.dataDir);
  qz::database::registerEmbeddedMaintenanceProcedures();
  qz::database::registerDeclaredNames();
  const std::string registryFile = appDir() + "registry.ini";
  const std::string exePath = executableDir() + "qzserver";

  // Registration: REGSERVER and UNREGSERVER end the process; every other
  // start registers and goes on whatever happens.
  if (cl.startSwitch == StartSwitch::RegServer || cl.startSwitch == StartSwitch::UnregServer) {
    try {
      if (cl.startSwitch == StartSwitch::RegServer)
        registerServer(registryFile, exePath);
      else
        unregisterServer(registryFile);
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "qzserver: %s\n", e.what());
      return 1;
    }
  }
  try {
    registerServer(registryFile, exePath);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qzserver: registration failed (ignored): %s\n", e.what());
  }

  if (cl.createDatabase) return runCreateDatabase(cl);
  if (!cl.copyFrom.empty()) return runCopyDatabase(cl);
  if (cl.maintenance != CommandLine::Maintenance::None) return runMaintenance(cl);

  // SIGTERM and SIGINT go to the host's own signal handling; block them
  // before any thread starts so that no other thread takes them. A client
  // that goes away must not end the process either.
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGINT);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  signal(SIGPIPE, SIG_IGN);

  SysInfoIni sysInfo(appDir() + "sysinfo.ini");
  ServeSettings settings;
  try {
    settings = ResolveServeSettings(cl, sysInfo, appDir());
  } catch (const SettingsError& e) {
    std::fprintf(stderr, "qzserver: %s\n", e.what());
    return 2;
  }
  qz::log::setLevel(settings.logLevel);
  qz::log::info(std::string("qzserver ") + QZ_VERSION + " starting (pid " +
                std::to_string(getpid()) + ", app dir " + appDir() + ")");
  ActivityLog activityLog;
  Serving serving(cl, settings, registryFile, &activityLog);
  HostContext ctx;
  ctx.sysInfo = &sysInfo;
  ctx.activityLog = &activityLog;
  bool headless = true;
#ifdef QZ_HAVE_WINDOW
  headless = cl.headless || !hasDisplay();
#endif
  ctx.startServing = [&](qz::remote::UiDispatcher& d) {
    serving.start(d);
    if (headless) {
      std::printf("%s %s: serving on %s (app dir %s), %s\n", kApplicationTitle, QZ_VERSION,
                  serving.endpointsText().c_str(), appDir().c_str(), DescribeDatabase().c_str());
      std::fflush(stdout);
    }
  };
  ctx.stopServing = [&] { serving.stop(); };
  ctx.instanceCount = [&] { return serving.instanceCount(); };
  ctx.onLastInstanceReleased = [&](std::function<void()> quit) {
    serving.setOnLastInstanceReleased(std::move(quit));
  };

  int status = 0;
#ifdef QZ_HAVE_WINDOW
  if (!headless) {
    try {
      status = runWindowHost(ctx, argc, argv);
    } catch (const std::exception& e) {
      std::fprintf(stderr, "qzserver: %s\n", e.what());
      status = 1;
    }
  } else {
    status = runHeadlessHost(ctx);
  }
#else
  status = runHeadlessHost(ctx);
#endif
  serving.stop();
  qz::log::info("qzserver stopped (exit status " + std::to_string(status) + ")");
  return status;
}
