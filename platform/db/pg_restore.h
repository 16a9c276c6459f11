// RESTORE DATABASE on PostgreSQL, sent on a connection to the maintenance
// database ("master"). The server itself reads the media (a tar archive of
// pg_dump custom-format sets, the newest last, each with its SHA-256 sum,
// which is checked before anything else happens) and loads the newest set into
// a fresh database beside the target with pg_restore, through COPY ... FROM
// PROGRAM; only when that has fully succeeded is the target renamed away,
// the new database renamed into its place and the old one dropped. The
// rename fails with the server's own text while other sessions use the
// target, and then nothing has changed; so does any failure before it.
//
// Rights: superuser, or CREATEDB together with pg_execute_server_program;
// the server's own client programs (pg_restore) must be able to connect
// back to it as the same login without a password (local trust or peer
// authentication, or a password file of the server's operating-system user).
//
// Thread-safety: uses only the session it is given.
#pragma once

#include <memory>
#include <string>

#include "platform/db/engine.h"

namespace qz::db {

// Restores `database` from the media file `disk` on session (connected to
// the maintenance database). Returns nullptr (no rows). Throws DbError.
std::unique_ptr<Cursor> restorePostgresDatabase(EngineSession& session, const std::string& database,
                                                const std::string& disk);

}  // namespace qz::db
