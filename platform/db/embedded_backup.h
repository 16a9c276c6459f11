// Backup and restore of the embedded engine's databases to and from backup
// media files (format in backup_media.h).
//
// A backup reads a consistent snapshot of the database file through
// SQLite's online backup interface (other connections may go on reading and
// writing meanwhile) and writes it as one set: the whole image (full) or
// the pages that differ from the newest full set of the same database on
// the same media (differential).
//
// A restore reads the newest set of the media (a differential together with
// its full set), checks it completely (checksums, password, SQLite's
// integrity check of the rebuilt image) before touching anything, refuses
// while any other connection uses the database (DatabaseUseLock), and then
// replaces the database's content in one SQLite transaction. Whatever fails,
// the database stays exactly as it was.
//
// Thread-safety: reentrant; the calling connection's thread only.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/db/backup_media.h"
#include "platform/db/embedded_engine.h"

namespace qz::db {

struct BackupRequest {
  std::string database;  // name of the database to back up
  std::string device;    // logical device name, kept in the set
  std::string path;      // media file; relative paths are in the data folder
  media::SetKind kind = media::SetKind::Full;
  bool overwrite = false;  // replace the media instead of appending
  std::string password;    // empty: the set is not protected
};

struct BackupOutcome {
  media::SetInfo set;
  std::string path;         // the media file written (absolute)
  uint64_t pages = 0;       // pages written (all of them for a full set)
  uint64_t totalPages = 0;  // pages of the database
};

// Writes a backup set of request.database. Throws DbError: unknown
// database, a differential without a full set of that database on the
// media, a media file that cannot be written or is no backup media.
BackupOutcome backupEmbeddedDatabase(EmbeddedContext& context, const BackupRequest& request);

// Restores database from the newest set of the media file `disk` (relative
// paths in the data folder). A database not yet in the catalogue is created
// and registered. Throws DbError with the reason; nothing is changed then.
// REQUIRES: context is not inside a transaction (checked).
void restoreEmbeddedDatabase(EmbeddedContext& context, const std::string& database,
                             const std::string& disk, std::string_view password);

// Registers the native "RESTORE DATABASE" procedure (arguments @database,
// @disk and an optional @password) with the embedded engine. Call once at
// start, before connections run statements.
void registerEmbeddedBackupProcedures();

}  // namespace qz::db
