// Backup and restore of embedded databases; see embedded_backup.h.
#include "platform/db/embedded_backup.h"

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <optional>

#include "platform/db/connection_string.h"
#include "platform/db/embedded_catalog.h"
#include "platform/db/embedded_use_lock.h"
#include "platform/db/sql_lexer.h"

namespace qz::db {
namespace {

// Closes a SQLite handle on scope exit.
struct Handle {
  sqlite3* db = nullptr;
  ~Handle() {
    if (db) sqlite3_close_v2(db);
  }
};

std::string errText(sqlite3* db) { return db ? sqlite3_errmsg(db) : "out of memory"; }

sqlite3* openFile(const std::string& file, int flags) {
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(file.c_str(), &db, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string msg = errText(db) + ": " + file;
    sqlite3_close_v2(db);
    throw DbError(msg);
  }
  sqlite3_busy_timeout(db, 30000);
  return db;
}

void exec(sqlite3* db, const std::string& sql) {
  char* err = nullptr;
  if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
    std::string msg = err ? err : errText(db);
    sqlite3_free(err);
    throw DbError(msg);
  }
}

std::string firstText(sqlite3* db, const std::string& sql) {
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &st, nullptr) != SQLITE_OK)
    throw DbError(errText(db));
  std::string out;
  if (sqlite3_step(st) == SQLITE_ROW) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
    out = t ? t : "";
  }
  sqlite3_finalize(st);
  return out;
}

// Copies all of src's main database into dest's main database in one step.
void copyDatabase(sqlite3* dest, sqlite3* src) {
  sqlite3_backup* b = sqlite3_backup_init(dest, "main", src, "main");
  if (!b) throw DbError(errText(dest));
  const int rc = sqlite3_backup_step(b, -1);
  sqlite3_backup_finish(b);
  if (rc != SQLITE_DONE) throw DbError(sqlite3_errstr(rc));
}

// A consistent image of a database file, with its page size. Bytes 18 and
// 19 (the write and read format versions) are set to the rollback-journal
// form so that the image opens anywhere, also from memory.
std::vector<uint8_t> snapshot(const std::string& file, uint32_t* pageSize) {
  Handle src{openFile(file, SQLITE_OPEN_READWRITE)};
  const std::string size = firstText(src.db, "PRAGMA main.page_size");
  Handle mem{openFile(":memory:", SQLITE_OPEN_READWRITE)};
  exec(mem.db, "PRAGMA page_size=" + std::to_string(std::stoi(size)));
  copyDatabase(mem.db, src.db);
  sqlite3_int64 n = 0;
  unsigned char* data = sqlite3_serialize(mem.db, "main", &n, 0);
  if (!data) throw DbError("Cannot read the database image of " + file);
  std::vector<uint8_t> image(data, data + n);
  sqlite3_free(data);
  if (image.size() >= 20) image[18] = image[19] = 1;
  *pageSize = static_cast<uint32_t>(std::stoul(size));
  return image;
}

// Opens an image in memory and checks it completely. Throws DbError.
sqlite3* openImage(const std::vector<uint8_t>& image, const std::string& path) {
  Handle mem{openFile(":memory:", SQLITE_OPEN_READWRITE)};
  auto* buf = static_cast<unsigned char*>(sqlite3_malloc64(image.size() ? image.size() : 1));
  if (!buf) throw DbError("out of memory");
  if (!image.empty()) std::memcpy(buf, image.data(), image.size());
  if (sqlite3_deserialize(mem.db, "main", buf, static_cast<sqlite3_int64>(image.size()),
                          static_cast<sqlite3_int64>(image.size()),
                          SQLITE_DESERIALIZE_FREEONCLOSE | SQLITE_DESERIALIZE_RESIZEABLE) !=
      SQLITE_OK)
    throw DbError("The backup set on '" + path + "' does not hold a database.");
  std::string check;
  try {
    check = firstText(mem.db, "PRAGMA integrity_check");
  } catch (const DbError& e) {
    throw DbError("The backup set on '" + path + "' does not hold a sound database (" + e.what() +
                  "). RESTORE DATABASE is terminating abnormally.");
  }
  if (check != "ok")
    throw DbError("The backup set on '" + path + "' does not hold a sound database (" + check +
                  "). RESTORE DATABASE is terminating abnormally.");
  sqlite3* out = mem.db;
  mem.db = nullptr;
  return out;
}

// Argument `name` when passed by name, else the unnamed argument at i.
std::string argText(const ParamList& args, size_t i, std::string_view name) {
  for (const Parameter& p : args)
    if (EqualsNoCase(p.name, name)) return p.value.isEmpty() ? std::string() : p.value.toText();
  if (i < args.size() && args[i].name.empty() && !args[i].value.isEmpty())
    return args[i].value.toText();
  return std::string();
}

std::unique_ptr<Cursor> restoreProcedure(EmbeddedCall& call) {
  const std::string database = argText(call.args, 0, "@database");
  const std::string disk = argText(call.args, 1, "@disk");
  const std::string password = argText(call.args, 2, "@password");
  restoreEmbeddedDatabase(call.context, database, disk, password);
  return nullptr;
}

}  // namespace

BackupOutcome backupEmbeddedDatabase(EmbeddedContext& context, const BackupRequest& request) {
  if (request.database.empty()) throw DbError("The name of the database to back up is missing.");
  if (request.path.empty()) throw DbError("The backup file name is missing.");
  const std::string file = context.databaseFile(request.database);
  BackupOutcome out;
  out.path = catalog::resolvePath(context.dataDir(), request.path);

  uint32_t pageSize = 0;
  const std::vector<uint8_t> image = snapshot(file, &pageSize);
  out.totalPages = image.size() / pageSize;

  media::SetInfo info;
  info.kind = request.kind;
  info.database = request.database;
  info.device = request.device;
  std::vector<uint8_t> payload;
  if (request.kind == media::SetKind::Differential) {
    std::vector<media::SetInfo> sets;
    std::error_code ec;
    if (!request.overwrite && std::filesystem::exists(out.path, ec))
      sets = media::readSets(out.path);
    const media::SetInfo* base = nullptr;
    for (const auto& s : sets)
      if (s.kind == media::SetKind::Full && EqualsNoCase(s.database, request.database)) base = &s;
    if (!base)
      throw DbError("Cannot perform a differential backup for database \"" + request.database +
                    "\", because the media '" + out.path +
                    "' holds no full backup of it. Perform a full database backup first.");
    const std::vector<uint8_t> baseImage = media::readPayload(out.path, *base, request.password);
    info.baseNumber = base->number;
    payload = media::makeDifferential(baseImage, image, pageSize);
    out.pages = uint32_t(payload[8]) | uint32_t(payload[9]) << 8 | uint32_t(payload[10]) << 16 |
                uint32_t(payload[11]) << 24;
  } else {
    payload = image;
    out.pages = out.totalPages;
  }
  out.set = media::writeSet(out.path, request.overwrite, info, payload, request.password);
  return out;
}

void restoreEmbeddedDatabase(EmbeddedContext& context, const std::string& database,
                             const std::string& disk, std::string_view password) {
  if (database.empty()) throw DbError("RESTORE DATABASE: the database name is missing.");
  if (disk.empty()) throw DbError("RESTORE DATABASE: the backup file name is missing.");
  if (context.inTransaction())
    throw DbError(
        "The RESTORE DATABASE statement is not allowed within a multi-statement "
        "transaction.");
  if (EqualsNoCase(database, "master"))
    throw DbError("The database 'master' cannot be restored from a backup set.");
  if (!catalog::isValidDatabaseName(database))
    throw DbError("Invalid database name '" + database + "'.");
  if (EqualsNoCase(database, context.database()))
    throw DbError(
        "Exclusive access could not be obtained because the database is in use. "
        "RESTORE DATABASE is terminating abnormally.");
  const std::string path = catalog::resolvePath(context.dataDir(), disk);

  // Read and check everything before the database is touched.
  const std::vector<media::SetInfo> sets = media::readSets(path);
  if (sets.empty())
    throw DbError("The backup media '" + path +
                  "' holds no backup set. "
                  "RESTORE DATABASE is terminating abnormally.");
  const media::SetInfo& newest = sets.back();
  std::vector<uint8_t> image;
  if (newest.kind == media::SetKind::Differential) {
    if (newest.baseNumber == 0 || newest.baseNumber >= newest.number ||
        sets[newest.baseNumber - 1].kind != media::SetKind::Full)
      throw DbError("The differential backup set " + std::to_string(newest.number) + " on '" +
                    path +
                    "' has no full backup set to apply to. "
                    "RESTORE DATABASE is terminating abnormally.");
    const std::vector<uint8_t> base =
        media::readPayload(path, sets[newest.baseNumber - 1], password);
    image = media::applyDifferential(base, media::readPayload(path, newest, password));
  } else {
    image = media::readPayload(path, newest, password);
  }
  Handle verified{openImage(image, path)};

  // The target file: the registered one, or a new file for a new database.
  std::optional<std::string> known = catalog::findDatabaseFile(
      context.handle(), context.catalogSchema(), context.dataDir(), database);
  const std::string file =
      known ? *known : catalog::resolvePath(context.dataDir(), database + ".db");
  std::unique_ptr<DatabaseUseLock> lock = DatabaseUseLock::tryExclusive(file);
  if (!lock)
    throw DbError(
        "Exclusive access could not be obtained because the database is in use. "
        "RESTORE DATABASE is terminating abnormally.");
  const bool created = !std::filesystem::exists(file);
  try {
    Handle dest{openFile(file, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE)};
    // SQLite refuses to copy into a WAL database whose page size differs from
    // the image's ("attempt to write a readonly database"); the image may come
    // from a database with other pages. The exclusive use lock makes the switch
    // safe, and configureHandle turns WAL back on.
    exec(dest.db, "PRAGMA journal_mode=DELETE");
    copyDatabase(dest.db, verified.db);
    catalog::configureHandle(dest.db);
    if (!known)
      catalog::registerDatabase(context.handle(), context.catalogSchema(), database, file);
  } catch (...) {
    if (created) {
      std::error_code ec;
      for (const char* suffix : {"", "-wal", "-shm", ".use"})
        std::filesystem::remove(file + suffix, ec);
    }
    throw;
  }
}

void registerEmbeddedBackupProcedures() {
  registerEmbeddedProcedure("RESTORE DATABASE", restoreProcedure);
}

}  // namespace qz::db
