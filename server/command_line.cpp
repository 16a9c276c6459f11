// Parsing the command line.
#include "server/command_line.h"

#include <algorithm>
#include <charconv>
#include <fstream>

#include "platform/db/connection_string.h"
#include "platform/log/server_log.h"
#include "platform/remote/allow_list.h"

namespace qz::server {

std::optional<StartSwitch> parseStartSwitch(const std::string& arg) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return std::nullopt;
  std::string_view name = std::string_view(arg).substr(1);
  if (EqualsNoCase(name, "REGSERVER")) return StartSwitch::RegServer;
  if (EqualsNoCase(name, "UNREGSERVER")) return StartSwitch::UnregServer;
  if (EqualsNoCase(name, "AUTOMATION")) return StartSwitch::Automation;
  if (EqualsNoCase(name, "EMBEDDING")) return StartSwitch::Embedding;
  return std::nullopt;
}

std::vector<std::string> SplitList(std::string_view text) {
  std::vector<std::string> out;
  while (!text.empty()) {
    size_t comma = text.find(',');
    std::string_view item = text.substr(0, comma);
    text = comma == std::string_view::npos ? std::string_view() : text.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (!item.empty()) out.emplace_back(item);
  }
  return out;
}

CommandLine parseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* option) -> const std::string& {
      if (i + 1 >= args.size()) throw UsageError(std::string(option) + " needs a value");
      return args[++i];
    };
    auto number = [&](const char* option, long long min) -> long long {
      const std::string& v = value(option);
      long long n = 0;
      auto [p, ec] = std::from_chars(v.data(), v.data() + v.size(), n);
      if (ec != std::errc() || p != v.data() + v.size() || n < min)
        throw UsageError(std::string(option) + ": not a valid number: " + v);
      return n;
    };
    if (auto sw = parseStartSwitch(a)) {
      // Registering wins over removal, removal over an activated start.
      auto rank = [](StartSwitch s) {
        return s == StartSwitch::RegServer     ? 3
               : s == StartSwitch::UnregServer ? 2
               : s == StartSwitch::None        ? 0
                                               : 1;
      };
      if (rank(*sw) > rank(cl.startSwitch)) cl.startSwitch = *sw;
    } else if (a == "--help" || a == "-h") {
      cl.help = true;
    } else if (a == "--version") {
      cl.version = true;
    } else if (a == "--headless") {
      cl.headless = true;
    } else if (a == "--app-dir") {
      cl.appDir = value("--app-dir");
    } else if (a == "--data-dir") {
      cl.dataDir = value("--data-dir");
    } else if (a == "--listen") {
      const std::string& v = value("--listen");
      size_t colon = v.rfind(':');
      if (colon == std::string::npos || colon + 1 == v.size())
        throw UsageError("--listen: expected HOST:PORT, got " + v);
      cl.listen.push_back(v);
    } else if (a == "--listen-web") {
      const std::string& v = value("--listen-web");
      size_t colon = v.rfind(':');
      if (colon == std::string::npos || colon + 1 == v.size())
        throw UsageError("--listen-web: expected HOST:PORT, got " + v);
      cl.listenWeb.push_back(v);
    } else if (a == "--web-origin") {
      for (std::string& o : SplitList(value("--web-origin"))) cl.webOrigins.push_back(o);
    } else if (a == "--web-root") {
      cl.webRoot = value("--web-root");
    } else if (a == "--max-message") {
      cl.maxMessage = static_cast<size_t>(number("--max-message", 1024));
    } else if (a == "--tls-cert") {
      cl.tlsCert = value("--tls-cert");
    } else if (a == "--tls-key") {
      cl.tlsKey = value("--tls-key");
    } else if (a == "--tls-client-ca") {
      cl.tlsClientCa = value("--tls-client-ca");
    } else if (a == "--allow") {
      cl.allow = value("--allow");
      try {
        remote::AllowList::parse(*cl.allow);
      } catch (const std::invalid_argument& e) {
        throw UsageError(std::string("--allow: ") + e.what());
      }
    } else if (a == "--max-connections") {
      cl.maxConnections = static_cast<size_t>(number("--max-connections", 0));
    } else if (a == "--handshake-timeout") {
      cl.handshakeTimeout =
          static_cast<int>(std::min<long long>(number("--handshake-timeout", 0), 86400));
    } else if (a == "--log-level") {
      cl.logLevel = value("--log-level");
      if (!log::parseLevel(*cl.logLevel))
        throw UsageError("--log-level: expected error, warning, info or debug, got " +
                         *cl.logLevel);
    } else if (a == "--slow-request") {
      cl.slowRequestMs =
          static_cast<int>(std::min<long long>(number("--slow-request", 0), 86400000));
    } else if (a == "--create-database") {
      cl.createDatabase = true;
    } else if (a == "--demo") {
      cl.demo = true;
    } else if (a == "--demo-rows") {
      cl.demoRows = static_cast<int>(number("--demo-rows", 0));
      cl.demo = true;
    } else if (a == "--force") {
      cl.force = true;
    } else if (cl.maintenance == CommandLine::Maintenance::None &&
               (a == "backup" || a == "restore" || a == "cleanup" || a == "empty-database" ||
                a == "export")) {
      using M = CommandLine::Maintenance;
      if (a == "backup")
        cl.maintenance = M::Backup;
      else if (a == "restore")
        cl.maintenance = M::Restore;
      else if (a == "empty-database")
        cl.maintenance = M::EmptyDatabase;
      else if (a == "export")
        cl.maintenance = M::Export;
      else {
        const std::string& what = value("cleanup");
        if (what == "rooms")
          cl.maintenance = M::CleanupRooms;
        else if (what == "sales")
          cl.maintenance = M::CleanupSales;
        else
          throw UsageError("cleanup: expected rooms or sales, got " + what);
      }
    } else if (a == "copy-database" && cl.copyFrom.empty()) {
      cl.copyFrom = value("copy-database");
    } else if (a == "--name") {
      cl.deviceName = value("--name");
    } else if (a == "--file") {
      cl.file = value("--file");
    } else if (a == "--password") {
      cl.password = value("--password");
    } else if (a == "--password-file") {
      const std::string& path = value("--password-file");
      std::ifstream in(path);
      if (!in) throw UsageError("--password-file: cannot read " + path);
      std::getline(in, cl.password);
      if (!cl.password.empty() && cl.password.back() == '\r') cl.password.pop_back();
    } else if (a == "--differential") {
      cl.differential = true;
    } else if (a == "--overwrite") {
      cl.overwrite = true;
    } else if (a == "--from") {
      cl.from = value("--from");
    } else if (a == "--to") {
      cl.to = value("--to");
    } else if (a == "--yes") {
      cl.yes = true;
    } else if (a == "--all") {
      cl.all = true;
    } else {
      throw UsageError("unknown option: " + a);
    }
  }
  if (cl.listen.empty()) cl.listen.push_back("127.0.0.1:5211");
  return cl;
}

std::string usageText() {
  return R"(Usage: qzserver [options]
       qzserver -RegServer | -UnregServer
       qzserver --create-database [--demo] [--demo-rows N] [--force]
       qzserver backup [--name NAME] [--file FILE] [--differential] [--overwrite]
                       [--password P | --password-file F]
       qzserver restore [--file FILE] [--password P | --password-file F]
       qzserver cleanup rooms|sales [--from YYYY-MM-DD] [--to YYYY-MM-DD]
       qzserver empty-database --yes
       qzserver copy-database OTHER-SYSTEM.INI [--force]
       qzserver export --file PATH [--from YYYY-MM-DD --to YYYY-MM-DD | --all]

The hotel back-office application server. Clients connect over TCP
(JSON-RPC, one message per line) and use the remote data modules top_dm1,
top_dm2 and GzModule.

Options:
  --app-dir DIR         folder of sysinfo.ini, system.ini, express.ini,
                        registry.ini and data/ (default: the executable's folder;
                        /var/lib/qzserver when installed in /usr/bin)
  --data-dir DIR        folder of the embedded engine's databases (default: <app-dir>data/)
  --listen HOST:PORT    address to serve clients on (default 127.0.0.1:5211; repeatable)
  --max-message BYTES   largest message accepted (default 67108864)
  --listen-web HOST:PORT  serve the web page at / and JSON-RPC over WebSocket
                        at /rpc on this address (default: off; repeatable)
  --web-origin ORIGIN   let only pages from these origins open /rpc, e.g.
                        http://desk:8080 (repeatable or comma-separated;
                        default: any)
  --web-root DIR        folder of the web page (default: the installed one)
  --tls-cert FILE       serve TLS (1.2 or newer) with this PEM certificate (a
                        chain allowed); needs --tls-key
  --tls-key FILE        the certificate's PEM private key
  --tls-client-ca FILE  require every client to present a certificate signed by
                        this PEM authority (mutual TLS)
  --allow CIDR[,CIDR]   admit clients only from these addresses or networks
                        (IPv4 and IPv6, e.g. 192.168.1.0/24,fd00::/8)
  --max-connections N   serve at most N connections at once; beyond it a client
                        gets a "server busy" error (default 0: no limit)
  --handshake-timeout S close a connection that has created no instance after
                        S seconds (default 30; 0: never)
  --log-level LEVEL     server log on standard error: error, warning, info
                        (default) or debug
  --slow-request MS     log requests that take MS milliseconds or longer
                        (default 1000; 0: never)
                        These eight and the three web ones may also be set in
                        the [Server] section of sysinfo.ini (TlsCert, TlsKey,
                        TlsClientCA, Allow, MaxConnections, HandshakeTimeout,
                        LogLevel, SlowRequest, ListenWeb, WebOrigin, WebRoot);
                        the command line wins.
  --headless            run without a window even when a display is present
  --create-database     create the database that system.ini names (writes a
                        system.ini for the embedded engine when there is none)
  --demo                with --create-database: add demo data
  --demo-rows N         with --create-database: N demo bills (implies --demo)
  --force               with --create-database: replace an existing database;
                        with copy-database: replace the target's rows
  --help, --version     show this text or the version

Maintenance (for cron and hosts without a display; the same statements and
answers as the window's functions; exit status 0 on success, 1 on failure):
  backup                back up the database that system.ini names (QZ_backup);
                        name and file default to the first disk backup device,
                        else qz_backup and <data-dir>qz_backup.dat; a full
                        backup appended to the media unless --differential,
                        --overwrite
  restore               restore that database from the newest backup set of
                        --file (default: the first disk backup device's file);
                        refused while clients hold the database
  cleanup rooms|sales   move the room (hpt_backup) or goods-sales
                        (material_backup) settlements of --from..--to (both
                        days included; default today-360 .. today-BeforeDays)
                        into the archive database BackUp/Database of sysinfo.ini
  empty-database --yes  delete all business data (deleteall); users and master
                        data stay
  copy-database FILE    copy every table of the database that the system.ini
                        FILE names (either engine) into the database that
                        system.ini names, in one transaction; the target must be
                        freshly created (--create-database) unless --force
  export --file PATH    write materials, clients and material accounts into a
                        copy of the export template qz.dat at PATH (an Access
                        file, password 6391); account headers of --from..--to
                        (both days whole) or --all; progress on standard error

Registration switches (without regard to case, after / or -):
  RegServer             register the classes in registry.ini and exit
  UnregServer           remove the registration and exit
  Automation, Embedding started for a client: take the listening socket from
                        the service manager (LISTEN_FDS) and exit with the last instance
)";
}

}  // namespace qz::server
