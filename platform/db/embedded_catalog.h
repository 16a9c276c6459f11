// The embedded engine's catalogue: master.db in the data folder, with
// sysdatabases (name -> file) and sysdevices (backup devices, in the seven
// columns name, size, low, high, status, cntrltype, phyname; cntrltype 2 is
// a disk device). Functions here work on a SQLite handle on which the
// catalogue is reachable under `schema` ("main" or "master").
//
// Invariants: database names are compared without regard to case; a
// relative file name in sysdatabases is relative to the data folder.
#pragma once

#include <sqlite3.h>

#include <optional>
#include <string>
#include <string_view>

namespace qz::db::catalog {

// dataDir + "master.db".
std::string masterPath(const std::string& dataDir);

// Creates the catalogue tables when they are missing (and registers master).
// Waits up to waitMs while another connection holds a lock. Throws DbError.
void ensureSchema(sqlite3* db, const std::string& schema, int waitMs = 5000);

// The file of a database: registered in sysdatabases, or else <name>.db in
// the data folder when that file exists; nullopt otherwise.
std::optional<std::string> findDatabaseFile(sqlite3* db, const std::string& schema,
                                            const std::string& dataDir, std::string_view name);

// Registers name -> file (replacing an earlier entry). Throws DbError.
void registerDatabase(sqlite3* db, const std::string& schema, std::string_view name,
                      const std::string& file);
// Removes name's entry. Throws DbError.
void unregisterDatabase(sqlite3* db, const std::string& schema, std::string_view name);

// Whether name can be a database file name (no path separators, not empty,
// not "." or "..").
bool isValidDatabaseName(std::string_view name);

// Absolute form of file: relative names are taken from dataDir.
std::string resolvePath(const std::string& dataDir, const std::string& file);

// Sets WAL journal and NORMAL synchronous on a fresh handle, waiting up to
// waitMs while another connection does the same (SQLite reports that lock
// without calling the busy handler). Throws DbError.
void configureHandle(sqlite3* db, int waitMs = 5000);

// SQL Server's text for a database that cannot be opened.
std::string cannotOpenText(std::string_view name);

}  // namespace qz::db::catalog
