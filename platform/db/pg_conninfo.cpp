// Connection text -> libpq keywords (see pg_conninfo.h for the mapping).
#include "platform/db/pg_conninfo.h"

#include <cctype>

namespace qz::db {
namespace {

std::string trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

bool isLocalHost(const std::string& host) {
  return host.empty() || host == "." || EqualsNoCase(host, "(local)");
}

// "db1:5432" -> "db1,5432"; "" for anything else.
std::string commaFormOf(const std::string& source) {
  const size_t colon = source.find(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == source.size() ||
      source.find(':', colon + 1) != std::string::npos)
    return {};
  for (size_t i = colon + 1; i < source.size(); ++i)
    if (!std::isdigit(static_cast<unsigned char>(source[i]))) return {};
  return source.substr(0, colon) + "," + source.substr(colon + 1);
}

}  // namespace

std::string PgConnInfo::get(const std::string& keyword) const {
  for (const auto& [k, v] : params)
    if (k == keyword) return v;
  return {};
}

std::string pgDatabaseName(const std::string& initialCatalog) {
  std::string name = trim(initialCatalog);
  if (EqualsNoCase(name, "master")) return "postgres";
  return name;
}

PgConnInfo pgConnInfo(const ConnectionString& cs, int connectTimeoutSeconds) {
  PgConnInfo info;
  std::string source = trim(cs.value("Data Source"));
  std::string host = source, port;
  if (std::string comma = commaFormOf(source); !comma.empty())
    throw DbError("Data Source \"" + source +
                  "\" gives the port after a colon; write it after a comma: \"" + comma +
                  "\" (system.ini, line 1)");
  if (size_t comma = source.rfind(','); comma != std::string::npos) {
    host = trim(source.substr(0, comma));
    port = trim(source.substr(comma + 1));
  }
  // A local socket: leave "host" out so libpq uses PGHOST or its default
  // socket directory.
  if (!isLocalHost(host)) info.params.emplace_back("host", host);
  if (!port.empty()) info.params.emplace_back("port", port);

  std::string db = pgDatabaseName(cs.value("Initial Catalog"));
  if (!db.empty()) info.params.emplace_back("dbname", db);

  const bool integrated = EqualsNoCase(trim(cs.value("Integrated Security")), "SSPI");
  // With operating-system authentication the login of the text is not used,
  // as on the old server: libpq then signs in as the process's user.
  if (!integrated) {
    std::string user = cs.value("User ID");
    if (!user.empty()) info.params.emplace_back("user", user);
    std::string password = cs.value("Password");
    if (!password.empty()) info.params.emplace_back("password", password);
  }
  if (connectTimeoutSeconds > 0) {
    // libpq treats 1 as 2 seconds; anything positive is a real limit.
    info.params.emplace_back("connect_timeout", std::to_string(connectTimeoutSeconds));
  }
  std::string app = cs.value("Workstation ID");
  info.params.emplace_back("application_name", app.empty() ? "qzserver" : "qzserver@" + app);
  info.params.emplace_back("client_encoding", "UTF8");
  return info;
}

}  // namespace qz::db
