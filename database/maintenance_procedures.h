// The maintenance procedures of the application database, on both engines:
//
//   QZ_backup 'disk', device, path, database, kind, media, password
//       writes a backup set of `database` to `path`: kind 0 full, 1
//       differential; media 0 appends to the media, 1 overwrites it; a
//       non-empty password protects the set. Returns one row, column 0 a
//       message naming what was written.
//   hpt_backup database, archive, from, to, backupFile
//       writes a full backup of `database` to backupFile (in the data folder
//       when relative), then moves the room settlements of the days from..to
//       (both included) into the archive: the bills of those days, their
//       items (billitems) and their payments (gathering rows of the bills
//       other than the material store's 销售收款/采购付款). Returns one row
//       telling how many rows of each table moved.
//   material_backup database, archive, from, to
//       moves the goods-sales settlements of the days from..to: the
//       Maccount documents of kind 销售, their MAccItems lines and their
//       销售收款 payments. Returns one row as above.
//   deleteall
//       empties the business data (businessTables()), keeping users and the
//       master data. Returns no rows.
//
// Dates are text, year-month-day ("2026-01-31"; "/" also accepted, a time
// of day ignored). Moving is one transaction: rows are copied into the
// archive (a row already there with the same key is replaced) and deleted
// from the database together, or not at all.
//
// Embedded engine: native C++ procedures (registerEmbeddedMaintenanceProcedures);
// the archive is a database of the data folder, created with the full
// application schema when missing. PostgreSQL: PL/pgSQL functions
// (pgMaintenanceStatements); the archive is a schema of that name in the
// same database (PostgreSQL cannot write to another database inside one
// transaction), and backups are written by the server through pg_dump
// (docs/database.md lists the rights needed).
#pragma once

#include <string>
#include <vector>

namespace qz::database {

// Registers the four procedures and RESTORE DATABASE with the embedded
// engine. Call once at process start, before connections run statements.
void registerEmbeddedMaintenanceProcedures();

// The statements that create the four functions on PostgreSQL.
std::vector<std::string> pgMaintenanceStatements();

// Tables that deleteall empties, in deletion order.
const std::vector<std::string>& businessTables();

// "2026-01-31", "2026/1/31", "2026-01-31 10:00:00" -> "2026-01-31"; the day
// after through *next. Returns false for text ParseDateText refuses.
bool parseIsoDay(const std::string& text, std::string* day, std::string* next);

}  // namespace qz::database
