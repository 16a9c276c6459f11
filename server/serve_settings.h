// ServeSettings: how the server admits clients (TLS, allowed addresses,
// connection limits) and what its log shows, from the command line and the
// [Server] section of sysinfo.ini. A server started by socket activation or
// by the desktop's autostart has no command line of its own, so the file
// carries the same settings; where both set one, the command line wins.
//
// [Server] keys (names without regard to case): TlsCert, TlsKey,
// TlsClientCA (file names; relative ones are taken from AppDir), Allow
// (CIDR list), MaxConnections, HandshakeTimeout (seconds), LogLevel,
// SlowRequest (milliseconds), ListenWeb and WebOrigin (comma-separated
// lists), WebRoot (a folder).
#pragma once

#include <chrono>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/log/server_log.h"
#include "platform/remote/transport_settings.h"
#include "server/command_line.h"
#include "settings/sysinfo_ini.h"

namespace qz::server {

struct ServeSettings {
  remote::TransportSettings transport;
  log::Level logLevel = log::Level::kInfo;
  std::chrono::milliseconds slowRequest{1000};
  // The web transport: where it listens (none: off), the page origins
  // allowed to open /rpc (none: any), the folder of the page (empty: the
  // installed one).
  std::vector<std::string> listenWeb;
  std::vector<std::string> webOrigins;
  std::string webRoot;
};

// A setting with a value that cannot be used; the message names the option
// or the key and the value.
class SettingsError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The settings from cl and ini. appDir (with its trailing separator)
// anchors relative file names read from ini. Throws SettingsError for a
// malformed value, a key without its certificate, or a certificate without
// its key. The files themselves are read when serving starts.
ServeSettings ResolveServeSettings(const CommandLine& cl, const SysInfoIni& ini,
                                   const std::string& appDir);

// Only the log level, for the start of the process (before serving).
// Falls back to info when ini holds a value that is not a level.
log::Level ResolveLogLevel(const CommandLine& cl, const SysInfoIni& ini);

}  // namespace qz::server
