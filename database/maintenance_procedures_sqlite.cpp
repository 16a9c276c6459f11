// The maintenance procedures as native procedures of the embedded engine;
// see maintenance_procedures.h for what each does.
//
// Invariants: a clean-up copies and deletes in one transaction on the
// calling connection (the archive attached to it), so rows are either in
// the database or in the archive, never lost and never in neither; the
// backup before hpt_backup's move is written first, and a failing backup
// stops the clean-up before anything is moved.
#include <cstdio>
#include <filesystem>

#include "database/maintenance_procedures.h"
#include "database/schema.h"
#include "platform/core/ascii.h"
#include "platform/core/variant.h"
#include "platform/db/connection_string.h"
#include "platform/db/embedded_backup.h"
#include "platform/db/embedded_catalog.h"
#include "platform/db/sql_lexer.h"
#include "platform/db/sql_quote.h"
#include "platform/db/sqlite_cursor.h"

namespace qz::database {
namespace {

using db::DbError;
using db::EmbeddedCall;
using db::EmbeddedContext;

const char* kSourceAlias = "qz_clean_src";
const char* kArchiveAlias = "qz_clean_arch";

std::string arg(const EmbeddedCall& call, size_t i) {
  if (i >= call.args.size() || call.args[i].value.isEmpty()) return std::string();
  return call.args[i].value.toText();
}

std::unique_ptr<db::Cursor> messageRow(const std::string& text) {
  db::RowSet rows;
  db::FieldDef f;
  f.name = "message";
  f.type = db::FieldType::Memo;
  rows.fields.push_back(f);
  rows.rows.push_back({Variant(text)});
  return std::make_unique<db::RowSetCursor>(std::move(rows));
}

// "0" or "1" as the kind and media arguments.
int flagArg(const EmbeddedCall& call, size_t i, const char* what) {
  const std::string t = arg(call, i);
  if (t == "0" || t.empty()) return 0;
  if (t == "1") return 1;
  throw DbError(std::string("QZ_backup: the ") + what + " must be 0 or 1, not '" + t + "'.");
}

std::unique_ptr<db::Cursor> qzBackup(EmbeddedCall& call) {
  const std::string type = AsciiLower(arg(call, 0));
  if (type != "disk")
    throw DbError("QZ_backup: only 'disk' backups are supported, not '" + type + "'.");
  db::BackupRequest r;
  r.device = arg(call, 1);
  r.path = arg(call, 2);
  r.database = arg(call, 3);
  if (r.database.empty()) r.database = call.context.database();
  r.kind =
      flagArg(call, 4, "backup kind") ? db::media::SetKind::Differential : db::media::SetKind::Full;
  r.overwrite = flagArg(call, 5, "media choice") == 1;
  r.password = arg(call, 6);
  const db::BackupOutcome out = db::backupEmbeddedDatabase(call.context, r);
  std::string text = "数据库 " + r.database;
  if (r.kind == db::media::SetKind::Full) {
    text += " 已完全备份到 " + out.path + "（备份集 " + std::to_string(out.set.number) + "，共 " +
            std::to_string(out.totalPages) + " 页";
  } else {
    text += " 已差异备份到 " + out.path + "（备份集 " + std::to_string(out.set.number) +
            "，基于备份集 " + std::to_string(out.set.baseNumber) + "，" +
            std::to_string(out.totalPages) + " 页中有 " + std::to_string(out.pages) + " 页变化";
  }
  if (!r.password.empty()) text += "，有口令保护";
  text += "）。";
  return messageRow(text);
}

// Attaches a database to the calling connection for the duration of a
// clean-up, unless it is the connection's own; detaches on destruction.
class Attachment {
 public:
  Attachment(EmbeddedContext& ctx, const std::string& database, const char* alias) : ctx_(ctx) {
    if (EqualsNoCase(database, ctx.database())) {
      schema_ = "main";
      return;
    }
    db::ParamList p(1);
    p[0].value = Variant(ctx.databaseFile(database));
    ctx.execute(std::string("ATTACH DATABASE ?1 AS ") + alias, p);
    schema_ = alias;
    attached_ = true;
  }
  ~Attachment() {
    if (!attached_) return;
    try {
      ctx_.execute("DETACH DATABASE " + schema_, {});
    } catch (const DbError&) {
      // The connection closes the attachment at the latest when it closes.
    }
  }
  Attachment(const Attachment&) = delete;
  Attachment& operator=(const Attachment&) = delete;
  const std::string& schema() const { return schema_; }

 private:
  EmbeddedContext& ctx_;
  std::string schema_;
  bool attached_ = false;
};

// Creates the archive database with the application's schema when missing.
void ensureArchiveDatabase(EmbeddedContext& ctx, const std::string& archive) {
  // The name comes from a settings file and goes into a connection text.
  if (!db::IsPlainDatabaseName(archive))
    throw DbError("Invalid archive database name '" + archive + "'.");
  try {
    ctx.databaseFile(archive);
    return;
  } catch (const DbError&) {
  }
  db::Connection master;
  master.setConnectionString("Provider=SQLOLEDB.1;Initial Catalog=master;Data Source=");
  master.execute("CREATE DATABASE " + db::QuoteSqlName(archive));
  try {
    db::Connection conn;
    conn.setConnectionString("Provider=SQLOLEDB.1;Initial Catalog=" +
                             db::ConnectionTextValue(archive) + ";Data Source=");
    installSchema(conn);
  } catch (...) {
    try {
      master.execute("DROP DATABASE " + db::QuoteSqlName(archive));
    } catch (const DbError&) {
    }
    throw;
  }
}

// The CREATE TABLE statement of the application schema for `table`, placed
// in `schema`.
std::string createTableIn(const std::string& schema, const std::string& table) {
  const std::string head = "CREATE TABLE " + table + " (";
  for (const std::string& s : schemaStatements(db::SqlFlavor::Sqlite))
    if (s.compare(0, head.size(), head) == 0) return "CREATE TABLE " + schema + "." + s.substr(13);
  throw DbError("No table " + table + " in the application schema.");
}

std::vector<std::string> columnsOf(EmbeddedContext& ctx, const std::string& schema,
                                   const std::string& table) {
  std::vector<std::string> cols;
  auto rows = ctx.query("PRAGMA " + schema + ".table_info(" + db::QuoteSqlName(table) + ")", {});
  while (rows->next()) cols.push_back(rows->row()[1].toText());
  if (cols.empty()) throw DbError("Invalid object name '" + table + "'.");
  return cols;
}

bool tableExists(EmbeddedContext& ctx, const std::string& schema, const std::string& table) {
  db::ParamList p(1);
  p[0].value = Variant(table);
  auto rows = ctx.query("SELECT 1 FROM " + schema +
                            ".sqlite_master WHERE type = 'table' AND name = ?1 COLLATE NOCASE",
                        p);
  return rows->next();
}

struct MovePart {
  const char* table;
  const char* condition;  // on the source table; qz_move_keys holds the document numbers
};

struct MovePlan {
  const char* documents;        // SELECT of the documents' numbers; ?1 first day, ?2 day after last
  std::vector<MovePart> parts;  // parents first
};

const MovePlan kRooms = {
    "SELECT num FROM %s.bills WHERE ndate >= ?1 AND ndate < ?2",
    {{"bills", "num IN (SELECT num FROM temp.qz_move_keys)"},
     {"billitems", "bnum IN (SELECT num FROM temp.qz_move_keys)"},
     {"gathering",
      "bnum IN (SELECT num FROM temp.qz_move_keys) AND coalesce(type, '') NOT IN "
      "('销售收款', '采购付款')"}}};

const MovePlan kSales = {
    "SELECT num FROM %s.Maccount WHERE consumption = '销售' AND ndate >= ?1 AND ndate < ?2",
    {{"Maccount", "num IN (SELECT num FROM temp.qz_move_keys)"},
     {"MAccItems", "bnum IN (SELECT num FROM temp.qz_move_keys)"},
     {"gathering", "bnum IN (SELECT num FROM temp.qz_move_keys) AND type = '销售收款'"}}};

// Copies and deletes the rows of plan for [day, next); returns the count
// per part.
std::vector<int64_t> moveRows(EmbeddedContext& ctx, const MovePlan& plan, const std::string& src,
                              const std::string& arch, const std::string& day,
                              const std::string& next) {
  for (const MovePart& part : plan.parts)
    if (!tableExists(ctx, arch, part.table)) ctx.execute(createTableIn(arch, part.table), {});
  const bool own = !ctx.inTransaction();
  ctx.execute(own ? "BEGIN IMMEDIATE" : "SAVEPOINT qz_clean", {});
  std::vector<int64_t> counts;
  try {
    ctx.execute("CREATE TEMP TABLE IF NOT EXISTS qz_move_keys(num INTEGER PRIMARY KEY)", {});
    ctx.execute("DELETE FROM temp.qz_move_keys", {});
    char select[256];
    std::snprintf(select, sizeof select, plan.documents, src.c_str());
    db::ParamList range(2);
    range[0].value = Variant(day);
    range[1].value = Variant(next);
    ctx.execute(std::string("INSERT INTO temp.qz_move_keys ") + select, range);
    for (const MovePart& part : plan.parts) {
      std::string cols;
      for (const std::string& c : columnsOf(ctx, src, part.table)) {
        if (!cols.empty()) cols += ", ";
        cols += db::QuoteSqlName(c);
      }
      const std::string from = src + "." + part.table + " WHERE " + part.condition;
      ctx.execute("INSERT OR REPLACE INTO " + arch + "." + part.table + " (" + cols + ") SELECT " +
                      cols + " FROM " + from,
                  {});
      counts.push_back(0);
    }
    for (size_t i = plan.parts.size(); i-- > 0;)
      counts[i] = ctx.execute(
          "DELETE FROM " + src + "." + plan.parts[i].table + " WHERE " + plan.parts[i].condition,
          {});
    ctx.execute("DELETE FROM temp.qz_move_keys", {});
    ctx.execute(own ? "COMMIT" : "RELEASE qz_clean", {});
  } catch (...) {
    try {
      if (own)
        ctx.execute("ROLLBACK", {});
      else
        ctx.execute("ROLLBACK TO qz_clean; RELEASE qz_clean", {});
    } catch (const DbError&) {
    }
    throw;
  }
  return counts;
}

struct CleanArgs {
  std::string database, archive, day, next, from, to;
};

CleanArgs cleanArgs(EmbeddedCall& call, const char* proc) {
  CleanArgs a;
  a.database = arg(call, 0);
  if (a.database.empty()) a.database = call.context.database();
  a.archive = arg(call, 1);
  if (a.archive.empty()) a.archive = "qz1";
  std::string last;
  if (!parseIsoDay(arg(call, 2), &a.day, nullptr) || !parseIsoDay(arg(call, 3), &last, &a.next))
    throw DbError(std::string(proc) +
                  ": Conversion failed when converting date and/or time from character string.");
  a.from = a.day;
  a.to = last;
  if (EqualsNoCase(a.archive, a.database))
    throw DbError(std::string(proc) + ": the archive database must not be the database itself.");
  if (call.context.inTransaction())
    throw DbError(std::string(proc) + " cannot run inside a transaction.");
  return a;
}

std::unique_ptr<db::Cursor> hptBackup(EmbeddedCall& call) {
  const CleanArgs a = cleanArgs(call, "hpt_backup");
  std::string file = arg(call, 4);
  if (file.empty()) file = "qz1";
  // Every row that is about to move is first in a full backup.
  db::BackupRequest r;
  r.database = a.database;
  r.device = "hpt_backup";
  r.path = file;
  const db::BackupOutcome backup = db::backupEmbeddedDatabase(call.context, r);
  ensureArchiveDatabase(call.context, a.archive);
  Attachment src(call.context, a.database, kSourceAlias);
  Attachment arch(call.context, a.archive, kArchiveAlias);
  const auto n = moveRows(call.context, kRooms, src.schema(), arch.schema(), a.day, a.next);
  return messageRow("已将 " + a.from + " 至 " + a.to + " 的客房结算数据移到数据库 " + a.archive +
                    "：账单 " + std::to_string(n[0]) + " 张，消费明细 " + std::to_string(n[1]) +
                    " 条，收款 " + std::to_string(n[2]) + " 条。移动前已完全备份到 " + backup.path +
                    "（备份集 " + std::to_string(backup.set.number) + "）。");
}

std::unique_ptr<db::Cursor> materialBackup(EmbeddedCall& call) {
  const CleanArgs a = cleanArgs(call, "material_backup");
  ensureArchiveDatabase(call.context, a.archive);
  Attachment src(call.context, a.database, kSourceAlias);
  Attachment arch(call.context, a.archive, kArchiveAlias);
  const auto n = moveRows(call.context, kSales, src.schema(), arch.schema(), a.day, a.next);
  return messageRow("已将 " + a.from + " 至 " + a.to + " 的商品销售结算数据移到数据库 " +
                    a.archive + "：销售单 " + std::to_string(n[0]) + " 张，明细 " +
                    std::to_string(n[1]) + " 条，收款 " + std::to_string(n[2]) + " 条。");
}

std::unique_ptr<db::Cursor> deleteAll(EmbeddedCall& call) {
  EmbeddedContext& ctx = call.context;
  const bool own = !ctx.inTransaction();
  ctx.execute(own ? "BEGIN IMMEDIATE" : "SAVEPOINT qz_deleteall", {});
  try {
    for (const std::string& t : businessTables()) ctx.execute("DELETE FROM main." + t, {});
    ctx.execute(own ? "COMMIT" : "RELEASE qz_deleteall", {});
  } catch (...) {
    try {
      if (own)
        ctx.execute("ROLLBACK", {});
      else
        ctx.execute("ROLLBACK TO qz_deleteall; RELEASE qz_deleteall", {});
    } catch (const DbError&) {
    }
    throw;
  }
  return nullptr;
}

}  // namespace

void registerEmbeddedMaintenanceProcedures() {
  db::registerEmbeddedBackupProcedures();
  db::registerEmbeddedProcedure("QZ_backup", qzBackup);
  db::registerEmbeddedProcedure("hpt_backup", hptBackup);
  db::registerEmbeddedProcedure("material_backup", materialBackup);
  db::registerEmbeddedProcedure("deleteall", deleteAll);
}

const std::vector<std::string>& businessTables() {
  static const std::vector<std::string> tables = {"billitems", "gathering", "bills", "gorders",
                                                  "MAccItems", "Maccount",  "gz",    "gzstru"};
  return tables;
}

bool parseIsoDay(const std::string& text, std::string* day, std::string* next) {
  DateText t;
  if (!ParseDateText(text, &t)) return false;
  const DateTime start =
      DateTime::fromParts(static_cast<int>(t.day.year()), static_cast<int>(unsigned{t.day.month()}),
                          static_cast<int>(unsigned{t.day.day()}));
  if (day) *day = start.dateText();
  if (next) *next = DateTime{start.msecs + 86400000}.dateText();
  return true;
}

}  // namespace qz::database
