// Parsing the command line.
#include "server/command_line.h"

#include <charconv>

#include "platform/db/connection_string.h"

namespace qz::server {

std::optional<StartSwitch> parseStartSwitch(const std::string& arg) {
  if (arg.size() < 2 || (arg[0] != '/' && arg[0] != '-')) return std::nullopt;
  std::string_view name = std::string_view(arg).substr(1);
  if (db::equalsNoCase(name, "REGSERVER")) return StartSwitch::RegServer;
  if (db::equalsNoCase(name, "UNREGSERVER")) return StartSwitch::UnregServer;
  if (db::equalsNoCase(name, "AUTOMATION")) return StartSwitch::Automation;
  if (db::equalsNoCase(name, "EMBEDDING")) return StartSwitch::Embedding;
  return std::nullopt;
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
        return s == StartSwitch::RegServer ? 3 : s == StartSwitch::UnregServer ? 2
             : s == StartSwitch::None ? 0 : 1;
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
    } else if (a == "--max-message") {
      cl.maxMessage = static_cast<size_t>(number("--max-message", 1024));
    } else if (a == "--create-database") {
      cl.createDatabase = true;
    } else if (a == "--demo") {
      cl.demo = true;
    } else if (a == "--demo-rows") {
      cl.demoRows = static_cast<int>(number("--demo-rows", 0));
      cl.demo = true;
    } else if (a == "--force") {
      cl.force = true;
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

The hotel back-office application server. Clients connect over TCP
(JSON-RPC, one message per line) and use the remote data modules top_dm1,
top_dm2 and GzModule.

Options:
  --app-dir DIR         folder of sysinfo.ini, system.ini, express.ini,
                        registry.ini and data/ (default: the executable's folder)
  --data-dir DIR        folder of the embedded engine's databases (default: <app-dir>data/)
  --listen HOST:PORT    address to serve clients on (default 127.0.0.1:5211; repeatable)
  --max-message BYTES   largest message accepted (default 67108864)
  --headless            run without a window even when a display is present
  --create-database     create the database that system.ini names (writes a
                        system.ini for the embedded engine when there is none)
  --demo                with --create-database: add demo data
  --demo-rows N         with --create-database: N demo bills (implies --demo)
  --force               with --create-database: replace an existing database
  --help, --version     show this text or the version

Registration switches (without regard to case, after / or -):
  RegServer             register the classes in registry.ini and exit
  UnregServer           remove the registration and exit
  Automation, Embedding started for a client: take the listening socket from
                        the service manager (LISTEN_FDS) and exit with the last instance
)";
}

}  // namespace qz::server
