// The request-key table: the answers of apply-updates requests that carried
// a client's request key, recorded in the application database inside the
// transaction that posted them, so that the same request sent again (after a
// lost answer) is answered from here instead of being posted twice.
//
// One row per (provider, key): the digest of the request, the answer's
// error count, error packet and OwnerData (as JSON texts) and when it was
// recorded. Databases made before the table existed get it on first use
// (ensureTable). The table is working data of the server, not hotel data:
// exports leave it out (kRequestKeyTable); backups carry it like any table.
//
// Thread-safety: functions only; each uses the connection it is given, which
// one thread uses at a time.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/core/request_key.h"
#include "platform/db/connection.h"

namespace qz::db {

enum class SqlFlavor : uint8_t;

// The table's name, for exports that leave it out.
inline constexpr std::string_view kRequestKeyTable = "qz_request_keys";
// A recorded answer.
struct RecordedAnswer {
  std::string digest;  // of the request that was posted (hex)
  int errorCount = 0;
  std::string errors;     // the error packet as JSON
  std::string ownerData;  // OwnerData as tagged JSON; "" when none came back
};

// The statements that create the table and its index on an engine; both
// succeed on a database that has them already.
std::vector<std::string> requestKeyTableStatements(SqlFlavor flavor);

// Creates the table when the connection's database lacks it. Throws
// DbError. REQUIRES: no transaction open on conn.
void ensureRequestKeyTable(Connection& conn);

// The answer recorded for (provider, key), or nothing. Outside a
// transaction a database without the table gets it first. Throws DbError.
// *created (when given) tells whether the table was made just now.
std::optional<RecordedAnswer> findRecordedAnswer(Connection& conn, std::string_view provider,
                                                 std::string_view key, bool* created = nullptr);

// Records the answer, stamped with the current time, in conn's open
// transaction. Throws DbError, also when the key is recorded already (a
// concurrent request with the same key committed first).
void recordAnswer(Connection& conn, std::string_view provider, std::string_view key,
                  const RecordedAnswer& answer);

// Removes the keys recorded more than `days` days ago (days < 1 counts as 1)
// and returns how many. Creates the table when it is missing. Throws DbError.
int64_t removeRequestKeysOlderThan(Connection& conn, int days);

}  // namespace qz::db
