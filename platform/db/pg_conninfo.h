// Translation of an OLE DB connection text into libpq connection keywords.
//
// Mapping: "Data Source" is "host" or "host,port"; ".", "(local)" and an
// empty host select the local Unix socket (libpq's default directory, or
// PGHOST when set). "Initial Catalog" is the database, "master" meaning the
// maintenance database "postgres". "User ID"/"Password" are the login;
// "Integrated Security=SSPI" means operating-system authentication: neither
// User ID nor Password is sent, so libpq signs in as the process's user
// (peer or GSS on the server side). The connection timeout becomes
// connect_timeout. Keys without meaning for PostgreSQL (Provider, Packet
// Size, ...) are ignored.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/db/connection.h"
#include "platform/db/connection_string.h"

namespace qz::db {

struct PgConnInfo {
  // keyword -> value pairs in the order libpq receives them (never quoted:
  // they go through PQconnectdbParams).
  std::vector<std::pair<std::string, std::string>> params;

  // The value of a keyword, or "" when absent.
  std::string get(const std::string& keyword) const;
};

// A malformed port is passed on and libpq reports it. A Data Source written
// "host:port" (one colon, digits after it: never a host name nor an IPv6
// address) throws DbError naming the comma form "host,port" instead of
// letting libpq report an unknown host.
PgConnInfo pgConnInfo(const ConnectionString& cs, int connectTimeoutSeconds);

// The PostgreSQL database that an "Initial Catalog" value names.
std::string pgDatabaseName(const std::string& initialCatalog);

}  // namespace qz::db
