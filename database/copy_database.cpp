// Copying the application tables between databases; see copy_database.h.
#include "database/copy_database.h"

#include "database/schema.h"
#include "platform/db/connection.h"
#include "platform/db/engine.h"

namespace qz::database {
namespace {

int64_t rowCount(db::Connection& conn, const std::string& table) {
  auto rows = conn.query("select count(*) from " + table);
  return rows->next() ? rows->row().at(0).toInt64() : 0;
}

// "insert into t (a, b) values (:a, :b)" over every column of the table.
std::string insertStatement(const TableDef& t) {
  std::string names, markers;
  for (const ColumnDef& c : t.columns) {
    if (!names.empty()) names += ", ", markers += ", ";
    names += c.name;
    markers += std::string(":") + c.name;
  }
  return "insert into " + std::string(t.name) + " (" + names + ") values (" + markers + ")";
}

// PostgreSQL's identity columns take explicit values without moving their
// sequence: set it after the highest number, so that new rows continue
// there. (The embedded engine's AUTOINCREMENT follows explicit values.)
void continueNumbering(db::Connection& to, const TableDef& t) {
  if (to.engine() != db::EngineKind::PostgreSQL) return;
  for (const ColumnDef& c : t.columns) {
    if (c.type != ColType::Serial) continue;
    const std::string table = t.name, column = c.name;
    to.session().execute("SELECT setval(pg_get_serial_sequence('" + table + "', '" + column +
                             "'), coalesce(max(" + column + "), 0) + 1, false) FROM " + table,
                         {});
  }
}

}  // namespace

CopyCounts copyDatabase(db::Connection& from, db::Connection& to, bool replace) {
  CopyCounts counts;
  from.ensureOpen();
  to.beginTrans();
  try {
    for (const TableDef& t : applicationTables()) {
      const std::string table = t.name;
      if (replace) {
        to.execute("delete from " + table);
      } else if (rowCount(to, table) > 0) {
        throw db::DbError("The target table " + table +
                          " holds rows; copy into a freshly created database, or replace its "
                          "rows with --force.");
      }
      db::Query insert(&to);
      insert.setSql({insertStatement(t)});
      auto rows = from.query("select * from " + table);
      const auto& fields = rows->fields();
      int64_t n = 0;
      while (rows->next()) {
        const auto& row = rows->row();
        // Matched by name: the source's column order need not be the schema's.
        for (size_t i = 0; i < fields.size(); ++i)
          if (db::Parameter* p = insert.param(fields[i].name)) p->value = row[i];
        insert.execSql();
        ++n;
      }
      continueNumbering(to, t);
      counts.emplace_back(table, n);
    }
    to.commitTrans();
  } catch (...) {
    if (to.inTransaction()) to.rollbackTrans();
    throw;
  }
  return counts;
}

}  // namespace qz::database
