// The table model of the application database and its rendering as DDL for
// each engine.
#include "database/schema.h"

#include "database/procedures.h"
#include "platform/core/ascii.h"
#include "platform/db/connection.h"
#include "platform/db/declared_names.h"
#include "platform/db/request_keys.h"

namespace qz::database {
namespace {

using C = ColumnDef;
constexpr ColType S = ColType::Str, T = ColType::Text, I = ColType::Int, SI = ColType::SmallInt,
                  B = ColType::Bit, F = ColType::Float, M = ColType::Money, D = ColType::DateTime,
                  N = ColType::Serial;

std::vector<TableDef> buildTables() {
  return {
      {"dept",
       {C{"id", S, 10}, C{"name", S, 30, true}, C{"manager", S, 10}, C{"tel", S, 20},
        C{"memo", S, 100}},
       {"id"},
       {}},
      {"StaType",
       {C{"id", S, 10}, C{"name", S, 20, true}, C{"basepay", M}, C{"memo", S, 50}},
       {"id"},
       {}},
      {"staffer",
       {C{"id", S, 10}, C{"name", S, 20, true}, C{"deptid", S, 10}, C{"sex", S, 2},
        C{"duty", S, 20}, C{"statype", S, 10}, C{"tel", S, 20}, C{"idcard", S, 20}, C{"indate", D},
        C{"memo", S, 100}},
       {"id"},
       {{"deptid"}}},
      {"users",
       {C{"id", S, 10}, C{"psw", S, 20}, C{"mark", S, 20}, C{"popedom", S, 100}, C{"name", S, 20},
        C{"memo", S, 50}},
       {"id", "mark"},
       {}},
      {"room",
       {C{"id", S, 10}, C{"rtype", S, 20}, C{"floor", I}, C{"beds", SI}, C{"price", M},
        C{"state", S, 10}, C{"memo", S, 100}},
       {"id"},
       {}},
      // Export columns first: type .. pym.
      {"CLIENT",
       {C{"type", S, 10}, C{"id", N}, C{"name", S, 50, true}, C{"addi", S, 100}, C{"mailno", S, 10},
        C{"email", S, 50}, C{"tel", S, 20}, C{"m_tel", S, 20}, C{"fax", S, 20}, C{"bank", S, 50},
        C{"bankID", S, 30}, C{"taxid", S, 30}, C{"pym", S, 20}, C{"neardate", D}, C{"rebate", F},
        C{"credit", M}, C{"memo", S, 100}},
       {},
       {{"name"}}},
      // Export columns first: id .. mType.
      {"material",
       {C{"id", S, 10},     C{"name", S, 50, true},
        C{"dw", S, 10},     C{"dw1", S, 10},
        C{"exchange", I},   C{"addi", S, 50},
        C{"price", M},      C{"price0", M},
        C{"price1", M},     C{"info", S, 100},
        C{"cost", S, 10},   C{"pym", S, 20},
        C{"slye", F},       C{"ye", M},
        C{"TcType", S, 10}, C{"TcCoefficient", F},
        C{"rebate", F},     C{"sMax", F},
        C{"sMin", F},       C{"mType", S, 10}},
       {"id"},
       {}},
      // The first 14 columns are the export's account header.
      {"Maccount",
       {C{"num", N}, C{"consumption", S, 10}, C{"DeptID", S, 10}, C{"cltid", I}, C{"ndate", D},
        C{"fdate", D}, C{"tdate", D}, C{"operator", S, 10}, C{"waiter", S, 10},
        C{"receiver", S, 10}, C{"sanctifier", S, 10}, C{"checker", S, 10}, C{"marck", B},
        C{"cltname", S, 50}, C{"item", S, 50}, C{"dept2id", S, 10}, C{"memo", S, 100}},
       {},
       {{"fdate"}}},
      // The first 23 columns are the export's account item; iinum is the
      // line's own generated key, inum its position in the document.
      {"MAccItems",
       {C{"bnum", I, 0, true}, C{"oprt", S, 10},    C{"summary", S, 50}, C{"MID", S, 10},
        C{"plan_price", M},    C{"plan_amount", F}, C{"pye", M},         C{"pye_amount", F},
        C{"jf_PRICE", M},      C{"jf_amount", F},   C{"df_PRICE", M},    C{"xs_Price", M},
        C{"df_amount", F},     C{"ye", M},          C{"ye_amount", F},   C{"marck", B},
        C{"inum", I},          C{"iinum", N},       C{"MName", S, 50},   C{"MSize", S, 20},
        C{"dw", S, 10},        C{"dw1", S, 10},     C{"exchange", I},    C{"price", M},
        C{"amount", F},        C{"money", M}},
       {},
       {{"bnum", "inum"}}},
      // Payments of bills and of material accounts (the latter of types
      // 销售收款 and 采购付款); the first 8 columns are the export's.
      {"gathering",
       {C{"inum", N}, C{"bnum", I, 0, true}, C{"ndate", D}, C{"type", S, 20}, C{"summary", S, 50},
        C{"PAYMODE", S, 20}, C{"money", M}, C{"worker", S, 10}, C{"station", S, 20},
        C{"memo", S, 100}},
       {},
       {{"bnum"}, {"ndate"}}},
      {"gorders",
       {C{"go_num", N}, C{"consumption", S, 10}, C{"cltname", S, 50}, C{"ndate", D}, C{"fdate", D},
        C{"tdate", D}, C{"operator", S, 10}, C{"checker", S, 10}, C{"rebate", F},
        C{"station", S, 20}, C{"cltid", I}, C{"settle", B}, C{"memo", S, 100}},
       {},
       {}},
      {"bills",
       {C{"num", N},
        C{"gnum", I},
        C{"consumption", S, 10},
        C{"roomid", S, 10},
        C{"PAmount", SI},
        C{"cltname", S, 50},
        C{"ndate", D},
        C{"fdate", D},
        C{"tdate", D},
        C{"operator", S, 10},
        C{"waiter", S, 10},
        C{"receiver", S, 10},
        C{"sanctifier", S, 10},
        C{"checker", S, 10},
        C{"rebate", F},
        C{"settle", B},
        C{"comefrom", S, 50},
        C{"station", S, 20},
        C{"cltid", I},
        C{"memo", S, 100}},
       {},
       {{"gnum"}, {"ndate"}, {"cltid"}}},
      // Item lines of a bill; inum is the line's position, given by the client.
      {"billitems",
       {C{"bnum", I, 0, true}, C{"inum", I, 0, true}, C{"itemid", S, 10}, C{"name", S, 50},
        C{"price", M}, C{"amount", F}, C{"rebate", F}, C{"money", M}, C{"waiter", S, 10},
        C{"ndate", D}, C{"memo", S, 100}},
       {"bnum", "inum"},
       {}},
      // Payroll: one row per staff member, month and pay item (xz); kind is
      // 应发 (earning) or 扣款 (deduction).
      {"gz",
       {C{"id", N}, C{"ndate", D, 0, true}, C{"staid", S, 10, true}, C{"staname", S, 20},
        C{"deptID", S, 10}, C{"xz", S, 20, true}, C{"kind", S, 10}, C{"money", M},
        C{"memo", S, 50}},
       {},
       {{"ndate", "staid"}}},
      // Pay items of a month.
      {"gzstru",
       {C{"id", N}, C{"ndate", D, 0, true}, C{"fname", S, 20, true}, C{"ftype", S, 10},
        C{"fvalue", M}, C{"forder", I}, C{"memo", S, 50}},
       {},
       {{"ndate"}}},
      {"rptlist",
       {C{"id", N}, C{"name", S, 50, true}, C{"kind", S, 20}, C{"sqltext", T}, C{"memo", S, 100}},
       {},
       {}},
  };
}

std::string columnSql(const ColumnDef& c, db::SqlFlavor f, bool soleKey) {
  const bool pg = f == db::SqlFlavor::Postgres;
  std::string s = c.name;
  s += ' ';
  switch (c.type) {
    case ColType::Str:
      s += "varchar(" + std::to_string(c.size) + ")";
      break;
    case ColType::Text:
      s += "text";
      break;
    case ColType::Int:
      s += pg ? "integer" : "int";
      break;
    case ColType::SmallInt:
      s += "smallint";
      break;
    case ColType::Bit:
      s += pg ? "boolean" : "bit";
      break;
    case ColType::Float:
      s += pg ? "double precision" : "float";
      break;
    case ColType::Money:
      s += pg ? "numeric(19,4)" : "money";
      break;
    case ColType::DateTime:
      s += pg ? "timestamp(3)" : "datetime";
      break;
    case ColType::Serial:
      return s + (pg ? "integer GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY"
                     : "INTEGER PRIMARY KEY AUTOINCREMENT");
  }
  if (soleKey)
    s += " NOT NULL PRIMARY KEY";
  else if (c.notNull)
    s += " NOT NULL";
  return s;
}

std::string joinNames(const std::vector<const char*>& names) {
  std::string s;
  for (const char* n : names) {
    if (!s.empty()) s += ", ";
    s += n;
  }
  return s;
}

}  // namespace

const std::vector<TableDef>& applicationTables() {
  static const std::vector<TableDef> tables = buildTables();
  return tables;
}

const TableDef* findTable(std::string_view name) {
  for (const auto& t : applicationTables())
    if (EqualsNoCase(t.name, name)) return &t;
  return nullptr;
}

std::vector<std::string> schemaStatements(db::SqlFlavor flavor) {
  std::vector<std::string> out;
  for (const auto& t : applicationTables()) {
    const bool soleKey = t.key.size() == 1;
    std::string s = "CREATE TABLE " + std::string(t.name) + " (\n";
    for (size_t i = 0; i < t.columns.size(); ++i) {
      const ColumnDef& c = t.columns[i];
      bool isKey = false;
      for (const char* k : t.key) isKey = isKey || std::string_view(k) == c.name;
      s += "  " + columnSql(c, flavor, soleKey && isKey);
      if (!soleKey && isKey) s += " NOT NULL";
      if (i + 1 < t.columns.size() || t.key.size() > 1) s += ",";
      s += "\n";
    }
    if (t.key.size() > 1) s += "  PRIMARY KEY (" + joinNames(t.key) + ")\n";
    s += ")";
    out.push_back(std::move(s));
    for (const auto& idx : t.indexes) {
      std::string name = "ix_" + AsciiLower(t.name);
      for (const char* c : idx) name += "_" + AsciiLower(c);
      out.push_back("CREATE INDEX " + name + " ON " + t.name + " (" + joinNames(idx) + ")");
    }
  }
  // The material store's receipts and payments are the payments of the two
  // store kinds; the export reads them under this name.
  out.push_back(
      "CREATE VIEW mgathering AS SELECT inum, bnum, ndate, type, summary, PAYMODE, money, "
      "worker, station, memo FROM gathering WHERE type = '销售收款' OR type = '采购付款'");
  for (auto& s : procedureStatements(flavor)) out.push_back(std::move(s));
  // The server's table of request keys (not hotel data, so not in the
  // model above that exports and demo data go by).
  for (auto& s : db::requestKeyTableStatements(flavor)) out.push_back(std::move(s));
  return out;
}

void registerDeclaredNames() {
  std::vector<db::DeclaredTable> tables;
  for (const auto& t : applicationTables()) {
    db::DeclaredTable d{t.name, {}};
    for (const auto& c : t.columns) d.columns.emplace_back(c.name);
    tables.push_back(std::move(d));
  }
  // The view repeats the spelling of gathering's columns.
  db::DeclaredTable view{"mgathering", {}};
  for (const auto& d : tables)
    if (d.table == "gathering") view.columns = d.columns;
  tables.push_back(std::move(view));
  db::setDeclaredNames(tables);
}

std::string schemaSql(db::SqlFlavor flavor) {
  std::string out;
  for (const auto& s : schemaStatements(flavor)) {
    out += s;
    out += ";\n\n";
  }
  return out;
}

void installSchema(db::Connection& conn) {
  conn.ensureOpen();
  db::EngineSession& session = conn.session();
  session.begin();
  try {
    for (const auto& s : schemaStatements(session.flavor())) {
      try {
        session.execute(s, {});
      } catch (const db::DbError& e) {
        std::string head = s.substr(0, s.find_first_of("(\n"));
        throw db::DbError("creating the schema failed at \"" + head + "\": " + e.what());
      }
    }
    session.commit();
  } catch (...) {
    session.rollback();
    throw;
  }
}

}  // namespace qz::database
