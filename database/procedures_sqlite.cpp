// The application's procedures for the embedded engine: rows of the
// sys_procedures table. Bodies are SQLite statements separated by ';' with
// @name parameters, SET @name = <expr> and RETURN <expr>; no statement holds
// a ';' inside a literal. Dates are compared as ISO text, whole days through
// date(), which is how the engine stores datetime values. Numbers compared
// with parameters are cast, since a caller may pass them as text.
#include "database/maintenance_procedures.h"
#include "database/procedures.h"
#include "platform/db/sql_quote.h"

namespace qz::database {
namespace {

// [from day, day after to) as SQLite conditions on column `col`.
#define QZ_DAY_RANGE(col, from, to) col " >= date(" from ") AND " col " < date(" to ", '+1 day')"
// The same with a null bound leaving its side open.
#define QZ_OPEN_RANGE(col, from, to)                                             \
  "(" col " >= coalesce(date(" from "), '0000') AND " col " < coalesce(date(" to \
  ", '+1 day'), '9999'))"

const std::vector<EmbeddedProcedure> kProcedures = {
    {"Bills_insert",
     "@consumption varchar(10), @roomid varchar(10), @PAmount smallint, @cltname varchar(50), "
     "@ndate datetime, @fdate datetime, @tdate datetime, @operator varchar(10), "
     "@waiter varchar(10), @receiver varchar(10), @sanctifier varchar(10), "
     "@checker varchar(10), @rebate float, @settle bit, @comefrom varchar(50), "
     "@station varchar(20), @cltid int",
     "INSERT INTO bills (consumption, roomid, PAmount, cltname, ndate, fdate, tdate, operator, "
     "waiter, receiver, sanctifier, checker, rebate, settle, comefrom, station, cltid) "
     "VALUES (@consumption, @roomid, @PAmount, @cltname, @ndate, @fdate, @tdate, @operator, "
     "@waiter, @receiver, @sanctifier, @checker, @rebate, @settle, @comefrom, @station, "
     "@cltid);\nRETURN last_insert_rowid()"},
    {"GOrders_insert",
     "@consumption varchar(10), @cltname varchar(50), @ndate datetime, @fdate datetime, "
     "@tdate datetime, @operator varchar(10), @checker varchar(10), @rebate float, "
     "@station varchar(20), @cltid int",
     "INSERT INTO gorders (consumption, cltname, ndate, fdate, tdate, operator, checker, "
     "rebate, station, cltid) VALUES (@consumption, @cltname, @ndate, @fdate, @tdate, "
     "@operator, @checker, @rebate, @station, @cltid);\nRETURN last_insert_rowid()"},
    {"material_MAccIinsert",
     "@consumption varchar(10), @deptid varchar(10), @ndate datetime, @fdate datetime, "
     "@tdate datetime, @operator varchar(10), @waiter varchar(10), @receiver varchar(10), "
     "@sanctifier varchar(10), @checker varchar(10), @cltid int, @cltname varchar(50), "
     "@item varchar(50), @dept2id varchar(10)",
     "INSERT INTO Maccount (consumption, DeptID, ndate, fdate, tdate, operator, waiter, "
     "receiver, sanctifier, checker, cltid, cltname, item, dept2id) VALUES (@consumption, "
     "@deptid, @ndate, @fdate, @tdate, @operator, @waiter, @receiver, @sanctifier, @checker, "
     "@cltid, @cltname, @item, @dept2id);\nRETURN last_insert_rowid()"},
    {"DayRpt",
     "@fdate datetime OUTPUT, @tdate datetime OUTPUT, @billcont int OUTPUT, "
     "@subscription decimal(19,4) OUTPUT, @settlement decimal(19,4) OUTPUT, "
     "@subscription1 decimal(19,4) OUTPUT",
     "SET @fdate = coalesce(@fdate, date('now', 'localtime'));\n"
     "SET @tdate = coalesce(@tdate, @fdate);\n"
     "SET @billcont = (SELECT count(*) FROM bills WHERE " QZ_DAY_RANGE(
         "ndate", "@fdate",
         "@tdate") ");\n"
                   "SET @subscription = (SELECT coalesce(sum(money), 0) FROM gathering WHERE type "
                   "= '订金' "
                   "AND " QZ_DAY_RANGE(
                       "ndate", "@fdate",
                       "@tdate") ");\n"
                                 "SET @settlement = (SELECT coalesce(sum(g.money), 0) FROM "
                                 "gathering g JOIN bills b ON "
                                 "b.num = g.bnum WHERE b.settle = 1 AND g.type NOT IN ('订金', "
                                 "'销售收款', '采购付款') "
                                 "AND " QZ_DAY_RANGE(
                                     "g.ndate", "@fdate",
                                     "@tdate") ");\n"
                                               "SET @subscription1 = (SELECT "
                                               "coalesce(sum(g.money), 0) FROM gathering g JOIN "
                                               "bills b ON "
                                               "b.num = g.bnum WHERE g.type = '订金' AND "
                                               "coalesce(b.settle, 0) = 0 AND "
                                               "g.ndate < date(@tdate, '+1 day'));\n"
                                               "RETURN 0"},
    {"manageRpt",
     "@fdate datetime, @tdate datetime, @t1 datetime, @t2 datetime, @t3 datetime, "
     "@t4 datetime",
     "SELECT coalesce(b.consumption, '') AS consumption, "
     "count(DISTINCT CASE WHEN " QZ_OPEN_RANGE(
         "b.ndate", "@fdate",
         "@tdate") " THEN b.num END) "
                   "AS billcount, "
                   "coalesce(sum(CASE WHEN " QZ_OPEN_RANGE(
                       "b.ndate", "@fdate",
                       "@tdate") " THEN i.money END), "
                                 "0) AS amount, "
                                 "coalesce(sum(CASE WHEN " QZ_OPEN_RANGE(
                                     "b.ndate", "@t1",
                                     "@t2") " THEN i.money END), 0) "
                                            "AS amount1, "
                                            "coalesce(sum(CASE WHEN " QZ_OPEN_RANGE(
                                                "b.ndate", "@t3",
                                                "@t4") " THEN i.money END), 0) "
                                                       "AS amount2 "
                                                       "FROM bills b LEFT JOIN billitems i ON "
                                                       "i.bnum = b.num "
                                                       "WHERE " QZ_OPEN_RANGE(
                                                           "b.ndate", "@fdate",
                                                           "@tdate") " OR " QZ_OPEN_RANGE("b.ndate",
                                                                                          "@t1",
                                                                                          "@t2") " "
                                                                                                 "O"
                                                                                                 "R"
                                                                                                 " " QZ_OPEN_RANGE(
                                                                                                     "b.ndate",
                                                                                                     "@t3",
                                                                                                     "@t4") " "
                                                                                                            "GROUP BY 1 ORDER BY 1;\nRETURN 0"},
    {"gz_gatherGz", "@vYear int, @vMonth int, @deptID varchar(10)",
     "SELECT staid, max(staname) AS staname, max(deptID) AS deptid, "
     "coalesce(sum(CASE WHEN kind = '应发' THEN money END), 0) AS earning, "
     "coalesce(sum(CASE WHEN kind = '扣款' THEN money END), 0) AS deduction, "
     "coalesce(sum(CASE WHEN kind = '应发' THEN money END), 0) - "
     "coalesce(sum(CASE WHEN kind = '扣款' THEN money END), 0) AS netpay "
     "FROM gz WHERE CAST(strftime('%Y', ndate) AS INTEGER) = CAST(@vYear AS INTEGER) "
     "AND CAST(strftime('%m', ndate) AS INTEGER) = CAST(@vMonth AS INTEGER) "
     "AND coalesce(deptID, '') LIKE @deptID "
     "GROUP BY staid ORDER BY staid;\nRETURN 0"},
};

#undef QZ_DAY_RANGE
#undef QZ_OPEN_RANGE

}  // namespace

const std::vector<EmbeddedProcedure>& embeddedProcedures() { return kProcedures; }

std::vector<std::string> pgProcedureStatements();  // procedures_pg.cpp

std::vector<std::string> procedureStatements(db::SqlFlavor flavor) {
  if (flavor == db::SqlFlavor::Postgres) {
    std::vector<std::string> out = pgProcedureStatements();
    for (auto& s : pgMaintenanceStatements()) out.push_back(std::move(s));
    return out;
  }
  std::vector<std::string> out;
  out.push_back(
      "CREATE TABLE IF NOT EXISTS sys_procedures (name TEXT PRIMARY KEY COLLATE NOCASE, "
      "params TEXT NOT NULL, body TEXT NOT NULL)");
  for (const auto& p : kProcedures)
    out.push_back("INSERT OR REPLACE INTO sys_procedures (name, params, body) VALUES (" +
                  db::QuoteSqlText(p.name) + ", " + db::QuoteSqlText(p.params) + ", " +
                  db::QuoteSqlText(p.body) + ")");
  return out;
}

std::vector<std::string> procedureNames() {
  std::vector<std::string> out;
  for (const auto& p : kProcedures) out.push_back(p.name);
  return out;
}

}  // namespace qz::database
