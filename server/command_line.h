// The command line of qzserver: the registration switches ("REGSERVER",
// "UNREGSERVER", "AUTOMATION", "EMBEDDING" without regard to case, after
// "/" or "-") and the host's options.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qz::server {

enum class StartSwitch { None, RegServer, UnregServer, Automation, Embedding };

struct CommandLine {
  StartSwitch startSwitch = StartSwitch::None;
  bool help = false;
  bool version = false;
  bool headless = false;
  std::string appDir;               // --app-dir; empty = the executable's folder
  std::string dataDir;              // --data-dir; empty = <AppDir>data/
  std::vector<std::string> listen;  // --listen HOST:PORT, repeatable
  size_t maxMessage = 64u << 20;    // --max-message BYTES
  // Who may connect and the server log. Unset ones come from the [Server]
  // section of sysinfo.ini (see serve_settings.h), else their defaults.
  std::optional<std::string> tlsCert;      // --tls-cert FILE
  std::optional<std::string> tlsKey;       // --tls-key FILE
  std::optional<std::string> tlsClientCa;  // --tls-client-ca FILE
  std::optional<std::string> allow;        // --allow CIDR[,CIDR...]
  std::optional<size_t> maxConnections;    // --max-connections N (0: no limit)
  std::optional<int> handshakeTimeout;     // --handshake-timeout SECONDS (0: none)
  std::optional<std::string> logLevel;     // --log-level error|warning|info|debug
  std::optional<int> slowRequestMs;        // --slow-request MS (0: never logged)
  std::vector<std::string> listenWeb;      // --listen-web HOST:PORT, repeatable
  std::vector<std::string> webOrigins;     // --web-origin ORIGIN[,ORIGIN], repeatable
  std::optional<std::string> webRoot;      // --web-root DIR
  // Database creation.
  bool createDatabase = false;
  bool demo = false;
  int demoRows = 0;
  bool force = false;
  // Maintenance subcommands, run instead of the server: "backup",
  // "restore", "cleanup rooms|sales", "empty-database", "export".
  enum class Maintenance {
    None,
    Backup,
    Restore,
    CleanupRooms,
    CleanupSales,
    EmptyDatabase,
    Export
  };
  Maintenance maintenance = Maintenance::None;
  std::string deviceName;     // --name: backup device name (default: as the window proposes)
  std::string file;           // --file: backup file (default: as the window proposes)
  std::string password;       // --password or the first line of --password-file
  bool differential = false;  // --differential (backup)
  bool overwrite = false;     // --overwrite (backup)
  std::string from, to;       // --from, --to: YYYY-MM-DD (cleanup)
  bool yes = false;           // --yes (empty-database)
  // "copy-database FILE": copy the data of the database that the system.ini
  // FILE names into the one this app folder's system.ini names.
  std::string copyFrom;
  bool all = false;  // --all (export: every account header)
};

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Parses argv (argv[0] excluded). Throws UsageError on an unknown option or
// a missing or malformed value.
CommandLine parseCommandLine(const std::vector<std::string>& args);

// The entries of a comma-separated list, spaces around them trimmed and
// empty ones skipped.
std::vector<std::string> SplitList(std::string_view text);

// Recognises a registration switch: "/RegServer", "-regserver", ...
std::optional<StartSwitch> parseStartSwitch(const std::string& arg);

// The text of --help.
std::string usageText();

}  // namespace qz::server
