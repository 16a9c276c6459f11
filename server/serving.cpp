// Offering the three module classes on the socket and web transports.
#include "server/serving.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

#include "admin/request_key_sweeper.h"
#include "platform/provider/provider.h"
#include "platform/remote/host.h"
#include "platform/remote/socket_activation.h"
#include "server/class_table.h"
#include "server/registration.h"
#include "services/modules.h"
#include "settings/config.h"

namespace qz::server {

namespace {

// QZ_TEST_KILL_AFTER_KEYED_COMMIT=N: the crash tests' fault point. The
// process kills itself right after the commit of its Nth keyed request,
// before the answer goes back, as a power cut at that moment would.
void installCrashTestFault() {
  static std::atomic<int> remaining{0};
  const char* n = std::getenv("QZ_TEST_KILL_AFTER_KEYED_COMMIT");
  if (!n || std::atoi(n) < 1) return;
  remaining = std::atoi(n);
  provider::Provider::afterKeyedCommit = [] {
    if (--remaining == 0) ::raise(SIGKILL);
  };
}

// The page shipped with the program: share/qzserver/web of an installation
// or beside the executable, else the one in the source tree it was built
// from (a build folder).
std::string InstalledWebRoot() {
  std::error_code ec;
  const std::string shipped = sharedFilesDir() + "web";
  if (std::filesystem::is_directory(shipped, ec)) return shipped;
#ifdef QZ_SOURCE_WEB_DIR
  if (std::filesystem::is_directory(QZ_SOURCE_WEB_DIR, ec)) return QZ_SOURCE_WEB_DIR;
#endif
  return "";
}

}  // namespace

Serving::Serving(const CommandLine& cl, ServeSettings settings, std::string registryFile,
                 ActivityLog* log)
    : cl_(cl), settings_(std::move(settings)), registryFile_(std::move(registryFile)), log_(log) {
  installCrashTestFault();
}

Serving::~Serving() { stop(); }

void Serving::start(remote::UiDispatcher& dispatcher) {
  remote::HostOptions opt;
  opt.maxMessage = cl_.maxMessage;
  opt.transport = settings_.transport;
  opt.slowRequest = settings_.slowRequest;
  opt.listenWeb = settings_.listenWeb;
  opt.webOrigins = settings_.webOrigins;
  opt.webRoot = settings_.webRoot.empty() ? InstalledWebRoot() : settings_.webRoot;
  const bool activated =
      cl_.startSwitch == StartSwitch::Automation || cl_.startSwitch == StartSwitch::Embedding;
  if (activated) {
    std::string error;
    auto fds = remote::listenFdsFromEnvironment(true, &error);
    if (!fds) throw std::runtime_error("socket activation: " + error);
    opt.listenFds = *fds;
    // Started for clients: the process ends with its last instance.
    opt.onLastInstanceReleased = [this] {
      if (onLast_) onLast_();
    };
  }
  if (opt.listenFds.empty()) opt.listen = cl_.listen;

  services::ModuleEnvironment env;
  env.connectionString = [] { return ModuleConnectionString(); };
  env.addActivityEntry = [log = log_, &dispatcher](const std::string& op, const std::string& st,
                                                   const std::string& work) {
    dispatcher.invoke([&] { log->append(op, st, work); });
  };
  for (const ClassInfo& c : kClasses) {
    remote::HostedClass hc;
    hc.name = c.name;
    hc.progId = c.progId;
    hc.clsid = c.clsid;
    hc.interfaceName = c.interfaceName;
    hc.iid = c.iid;
    hc.factory = services::moduleFactory(c.name, env, {std::string(c.progId), std::string(c.iid)});
    hc.socketsEnabled = [file = registryFile_, &c] { return socketsEnabled(file, c); };
    hc.webEnabled = [file = registryFile_, &c] { return webEnabled(file, c); };
    opt.classes.push_back(std::move(hc));
  }
  host_ = std::make_unique<remote::Host>(std::move(opt), dispatcher);
  host_->start();
  sweeper_ = std::make_unique<RequestKeySweeper>(
      [] { return BuildSqlConnectionString(); },
      [] { return requestKeyDays(SysInfoIni(appDir() + "sysinfo.ini")); });
  sweeper_->start();
}

void Serving::stop() {
  if (sweeper_) sweeper_->stop();
  if (host_) host_->stop();
}

size_t Serving::instanceCount() const { return host_ ? host_->instanceCount() : 0; }

std::string Serving::endpointsText() const {
  if (!host_) return "";
  const auto ports = host_->ports();
  std::string out;
  for (size_t i = 0; i < ports.size(); ++i) {
    if (!out.empty()) out += ", ";
    if (ports.size() == cl_.listen.size()) {
      const std::string& l = cl_.listen[i];
      out += l.substr(0, l.rfind(':') + 1) + std::to_string(ports[i]);
    } else {
      out += "activated socket, port " + std::to_string(ports[i]);
    }
  }
  const auto webPorts = host_->webPorts();
  const char* scheme = settings_.transport.tls.enabled() ? "https://" : "http://";
  for (size_t i = 0; i < webPorts.size() && i < settings_.listenWeb.size(); ++i) {
    const std::string& l = settings_.listenWeb[i];
    out += std::string(", web page at ") + scheme + l.substr(0, l.rfind(':') + 1) +
           std::to_string(webPorts[i]) + "/";
  }
  return out;
}

}  // namespace qz::server
