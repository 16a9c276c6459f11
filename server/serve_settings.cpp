// Merging the command line with the [Server] section of sysinfo.ini.
#include "server/serve_settings.h"

#include <charconv>
#include <optional>

namespace qz::server {

namespace {

// A non-negative whole number read from ini key (empty: not set).
std::optional<long long> iniNumber(const SysInfoIni& ini, std::string_view key, long long max) {
  std::string text = ini.readString(ini::kServer, key, "");
  if (text.empty()) return std::nullopt;
  long long n = 0;
  auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  if (ec != std::errc() || p != text.data() + text.size() || n < 0 || n > max)
    throw SettingsError("sysinfo.ini [Server] " + std::string(key) +
                        ": not a valid number: " + text);
  return n;
}

// A file name from the command line as given, else from ini relative to
// appDir; empty when neither sets it.
std::string fileSetting(const std::optional<std::string>& option, const SysInfoIni& ini,
                        std::string_view key, const std::string& appDir) {
  if (option) return *option;
  std::string name = ini.readString(ini::kServer, key, "");
  if (name.empty() || name.front() == '/') return name;
  return appDir + name;
}

}  // namespace

log::Level ResolveLogLevel(const CommandLine& cl, const SysInfoIni& ini) {
  if (cl.logLevel) {
    if (auto l = log::parseLevel(*cl.logLevel)) return *l;
  }
  return log::parseLevel(ini.readString(ini::kServer, ini::kLogLevel, ""))
      .value_or(log::Level::kInfo);
}

ServeSettings ResolveServeSettings(const CommandLine& cl, const SysInfoIni& ini,
                                   const std::string& appDir) {
  ServeSettings s;
  remote::TlsServerSettings& tls = s.transport.tls;
  tls.certFile = fileSetting(cl.tlsCert, ini, ini::kTlsCert, appDir);
  tls.keyFile = fileSetting(cl.tlsKey, ini, ini::kTlsKey, appDir);
  tls.clientCaFile = fileSetting(cl.tlsClientCa, ini, ini::kTlsClientCa, appDir);
  if (tls.certFile.empty() != tls.keyFile.empty())
    throw SettingsError(tls.certFile.empty() ? "a TLS key needs its certificate (--tls-cert)"
                                             : "a TLS certificate needs its key (--tls-key)");
  if (!tls.clientCaFile.empty() && tls.certFile.empty())
    throw SettingsError("client certificates (--tls-client-ca) need TLS (--tls-cert, --tls-key)");

  std::string allow = cl.allow ? *cl.allow : ini.readString(ini::kServer, ini::kAllow, "");
  try {
    s.transport.allow = remote::AllowList::parse(allow);
  } catch (const std::invalid_argument& e) {
    throw SettingsError((cl.allow ? "--allow: " : "sysinfo.ini [Server] Allow: ") +
                        std::string(e.what()));
  }

  if (cl.maxConnections)
    s.transport.maxConnections = *cl.maxConnections;
  else if (auto n = iniNumber(ini, ini::kMaxConnections, 1000000))
    s.transport.maxConnections = *n;

  if (cl.handshakeTimeout)
    s.transport.handshakeTimeout = std::chrono::seconds(*cl.handshakeTimeout);
  else if (auto n = iniNumber(ini, ini::kHandshakeTimeout, 86400))
    s.transport.handshakeTimeout = std::chrono::seconds(*n);

  if (cl.slowRequestMs)
    s.slowRequest = std::chrono::milliseconds(*cl.slowRequestMs);
  else if (auto n = iniNumber(ini, ini::kSlowRequest, 86400000))
    s.slowRequest = std::chrono::milliseconds(*n);

  s.listenWeb = !cl.listenWeb.empty()
                    ? cl.listenWeb
                    : SplitList(ini.readString(ini::kServer, ini::kListenWeb, ""));
  s.webOrigins = !cl.webOrigins.empty()
                     ? cl.webOrigins
                     : SplitList(ini.readString(ini::kServer, ini::kWebOrigin, ""));
  s.webRoot = fileSetting(cl.webRoot, ini, ini::kWebRoot, appDir);

  if (cl.logLevel) {
    s.logLevel = *log::parseLevel(*cl.logLevel);
  } else {
    std::string level = ini.readString(ini::kServer, ini::kLogLevel, "");
    if (!level.empty()) {
      auto l = log::parseLevel(level);
      if (!l) throw SettingsError("sysinfo.ini [Server] LogLevel: not a level: " + level);
      s.logLevel = *l;
    }
  }
  return s;
}

}  // namespace qz::server
