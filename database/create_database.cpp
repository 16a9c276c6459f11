// createDatabase: the maintenance connection of the engine (the embedded
// catalogue, or PostgreSQL's "postgres" database through "master"), the
// existence check, CREATE DATABASE, then schema and demo data on a
// connection to the new database.
#include "database/create_database.h"

#include <filesystem>
#include <stdexcept>

#include "database/demo_data.h"
#include "database/schema.h"
#include "platform/db/connection.h"
#include "platform/db/connection_string.h"
#include "platform/db/engine.h"
#include "platform/db/sql_quote.h"

namespace qz::database {
namespace {

std::string trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// The database name of the text. It is written into CREATE/DROP DATABASE,
// so only names made of letters, digits, '_' and '-' (and non-ASCII
// letters) are accepted.
std::string databaseName(const db::ConnectionString& cs) {
  std::string name = trim(cs.value("Initial Catalog"));
  if (name.empty())
    throw std::runtime_error("the connection text names no database (Initial Catalog is empty)");
  if (EqualsNoCase(name, "master") || name == "postgres")
    throw std::runtime_error("'" + name +
                             "' is the server's own catalogue, not an application "
                             "database");
  for (unsigned char c : name)
    if (!(std::isalnum(c) || c == '_' || c == '-' || c >= 0x80))
      throw std::runtime_error("invalid database name '" + name +
                               "': use letters, digits, '_' and '-'");
  return name;
}

// The same text on the engine's catalogue.
std::string masterText(db::ConnectionString cs) {
  cs.set("Initial Catalog", "master");
  cs.remove("Initial File Name");
  return cs.toString();
}

bool existsOn(db::Connection& master, const std::string& name) {
  db::EngineSession& s = master.session();
  db::Parameter p;
  p.value = Variant(name);
  const bool pg = s.flavor() == db::SqlFlavor::Postgres;
  auto rows = s.query(pg ? "SELECT 1 FROM pg_database WHERE datname = $1"
                         : "SELECT 1 FROM sysdatabases WHERE name = ?1 COLLATE NOCASE",
                      {p});
  if (rows->next()) return true;
  // The embedded engine also opens an unregistered "<name>.db" of its folder.
  std::error_code ec;
  return !pg && std::filesystem::is_regular_file(db::embeddedDataDir() + name + ".db", ec);
}

// CREATE or DROP DATABASE on the catalogue connection. PostgreSQL gets the
// name quoted, so it keeps the case in which connection texts name it.
void databaseCommand(db::Connection& master, const char* verb, const std::string& name) {
  db::EngineSession& s = master.session();
  if (s.flavor() == db::SqlFlavor::Postgres) {
    s.execute(std::string(verb) + " DATABASE " + db::QuoteSqlName(name), {});
  } else {
    master.execute(std::string(verb) + " DATABASE " + name);
  }
}

std::runtime_error failure(const std::string& what, const std::string& name,
                           const std::exception& e) {
  return std::runtime_error(what + " '" + name + "': " + e.what());
}

}  // namespace

bool databaseExists(const std::string& connectionText) {
  const db::ConnectionString cs = db::ConnectionString::parse(connectionText);
  const std::string name = databaseName(cs);
  db::Connection master;
  master.setConnectionString(masterText(cs));
  try {
    master.open();
    return existsOn(master, name);
  } catch (const db::DbError& e) {
    throw failure("cannot look for database", name, e);
  }
}

void createDatabase(const std::string& connectionText, const CreateOptions& options) {
  const db::ConnectionString cs = db::ConnectionString::parse(connectionText);
  const std::string name = databaseName(cs);
  if (options.demoRows < 0) throw std::runtime_error("the number of demo bills cannot be negative");

  db::Connection master;
  master.setConnectionString(masterText(cs));
  try {
    master.open();
    if (existsOn(master, name)) {
      if (!options.force)
        throw std::runtime_error("database '" + name +
                                 "' already exists; it was left untouched (use --force to "
                                 "replace it)");
      databaseCommand(master, "DROP", name);
    }
    databaseCommand(master, "CREATE", name);
  } catch (const db::DbError& e) {
    throw failure("cannot create database", name, e);
  }

  try {
    db::Connection conn;
    conn.setConnectionString(connectionText);
    conn.setCommandTimeout(0);  // large demo data sets take their time
    conn.open();
    installSchema(conn);
    if (options.demo || options.demoRows > 0) {
      DemoOptions demo;
      demo.bills = options.demoRows;
      addDemoData(conn, demo);
    }
  } catch (const std::exception& e) {
    // Leave no half-made database behind.
    try {
      databaseCommand(master, "DROP", name);
    } catch (const std::exception&) {
    }
    throw failure("cannot set up database", name, e);
  }
}

std::vector<std::string> defaultSystemIniLines() { return {"", "", "", "qz", "", "", ""}; }

}  // namespace qz::database
