// Copying the application's data from one database to another, on either
// engine: the way to move an installation between the embedded engine and
// PostgreSQL, whose backups each restore only on their own engine.
//
// Thread-safety: uses the two connections it is given, nothing else.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace qz::db {
class Connection;
}

namespace qz::database {

// Rows copied per table, in the schema's order.
using CopyCounts = std::vector<std::pair<std::string, int64_t>>;

// Copies every row of every application table from `from` into `to`, in one
// transaction on `to`, keeping the generated numbers; afterwards the
// target's generators continue after the highest number copied. The target
// must hold the application schema (qzserver --create-database). Its tables
// must be empty unless `replace`, which deletes their rows first.
// Throws db::DbError (the target then unchanged): a target table that
// holds rows ("... holds rows; ..."), or the engines' failures.
CopyCounts copyDatabase(db::Connection& from, db::Connection& to, bool replace);

}  // namespace qz::database
