// The provider catalogue page; see catalog_page.h. The facts come from the
// catalogue declarations and the schema; only the descriptions of modules
// and posting rules are written here, next to the code that states them.
#include "services/catalog_page.h"

#include <map>
#include <sstream>

#include "database/schema.h"
#include "platform/provider/sql_names.h"
#include "services/catalog.h"

namespace qz::services {
namespace {

const char* kModulePurpose[][2] = {
    {"top_dm1", "material accounts (the material store's documents), departments and staff"},
    {"top_dm2", "bills, group orders, daily and management reports"},
    {"GzModule", "payroll"},
};

// What each provider with a posting rule needs and does. Every other
// provider writes a delta's rows itself (see docs/protocol.md, "How the
// server writes a delta"), in a transaction of its own.
const std::map<std::string, std::string>& postingRules() {
  static const std::map<std::string, std::string> rules = {
      {"billP",
       "- The request is one transaction: the first row that fails rolls back every row of the\n"
       "  request, and nothing more of it is written (`errorCount` 1, the row in `errors`).\n"
       "- A new bill is inserted by the procedure `Bills_insert`, which numbers it; its `num`\n"
       "  as sent is ignored (send 0). The procedure takes `consumption`, `roomid`, `PAmount`,\n"
       "  `cltname`, `ndate`, `fdate`, `tdate`, `operator`, `waiter`, `receiver`, `sanctifier`,\n"
       "  `checker`, `rebate`, `settle`, `comefrom`, `station` and `cltid` from the row: every "
       "one\n"
       "  of these fields must be in the delta's `fields` (`null` where not known). `memo` and\n"
       "  `gnum` of a new bill are not written.\n"
       "- `cltid` is required on a new bill: `null` fails the row with\n"
       "  \"Field 'cltid': Could not convert variant of type (Null) into type (Int64)\"; -1 means\n"
       "  no client. On every insert, and on a change of a bill, the bill's client (the new\n"
       "  `cltid`, else the old one) gets today's date in `CLIENT.neardate`.\n"
       "- A new `billitems` row whose `bnum` is 0 takes the number of the bill inserted before it\n"
       "  in the same request; a 0 with no new bill in the request fails the row. Any other "
       "`bnum`\n"
       "  is written as sent. `gathering` rows are written as sent: a payment for a new bill "
       "needs\n"
       "  the bill's number, so post it in a second request.\n"
       "- `ownerData` in: not read. Out: the number of the bill inserted last (of this request, "
       "or\n"
       "  of an earlier one when this request inserted none).\n"
       "- Deleting a bill deletes only the `bills` row: send `delete` rows for its `billitems` "
       "and\n"
       "  `gathering` rows too.\n"},
      {"GOrdersP",
       "- The request is one transaction, as with `billP`.\n"
       "- A new group order is inserted by the procedure `GOrders_insert`, which numbers it; its\n"
       "  `go_num` as sent is ignored (send 0). The procedure takes `consumption`, `cltname`,\n"
       "  `ndate`, `fdate`, `tdate`, `operator`, `checker`, `rebate`, `station` and `cltid` from\n"
       "  the row; `cltid` is required as on `billP`, and the client gets today's date likewise.\n"
       "- A new member bill (`GItems`, a row of `bills`) whose `gnum` is 0 takes the new group\n"
       "  order's number. Member bills are written as rows of `bills` directly: they do not pass\n"
       "  through `Bills_insert` (send their `num` as `null` to let the database number them).\n"
       "  `ggathering` rows are written to `gathering` as sent.\n"
       "- `ownerData` in: not read. Out: the number of the group order (or bill) inserted last.\n"
       "- Deleting a group order deletes only the `gorders` row.\n"},
      {"MAccountP",
       "- The request is one transaction: the first row that fails rolls back every row of it.\n"
       "- `ownerData` in: required, an array `[kind, clientId]`: the account kind as text\n"
       "  (`\"购进\"` purchase, `\"销售\"` sale, or another movement) and the client id (-1: "
       "none).\n"
       "  Anything else fails the call before a row is written. Out: the number of the account\n"
       "  inserted last in this request, 0 after a failed row.\n"
       "- A new `MAccount` row is inserted by the procedure `material_MAccIinsert`, which numbers\n"
       "  it; it takes `consumption`, `deptid`, `ndate`, `fdate`, `tdate`, `operator`, `waiter`,\n"
       "  `receiver`, `sanctifier`, `checker`, `cltid`, `cltname`, `item` and `dept2id` from the\n"
       "  row (all must be in the delta's `fields`).\n"
       "- A new `MAccItems` row whose `bnum` is 0 takes the new account's number (0 without a new\n"
       "  account in the request fails the row). `Mgathering` rows are written to `gathering` as\n"
       "  sent.\n"
       "- On an insert or change of the account, the client of `ownerData` gets today's date in\n"
       "  `CLIENT.neardate`.\n"
       "- For a purchase or a sale, each inserted or changed line with a material (`mid` other\n"
       "  than `---`) needs its `exchange` (null fails the row); with a `price` above 0 it "
       "carries\n"
       "  `price / exchange` over into `material.price` (purchase) or `material.price1` (sale).\n"
       "- Deleting an account deletes only the `Maccount` row.\n"},
  };
  return rules;
}

std::string joinedLines(const std::vector<std::string>& lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

std::string code(const std::string& s) { return "`" + s + "`"; }

// "num (generated)" or "bnum, inum", from the schema; "" when unknown.
std::string keyOf(const std::string& table) {
  if (table.empty()) return {};
  const database::TableDef* t = database::findTable(table);
  if (!t) return {};
  std::string out;
  for (const char* k : t->key) out += (out.empty() ? "" : ", ") + code(k);
  if (out.empty())
    for (const auto& c : t->columns)
      if (c.type == database::ColType::Serial) out = code(c.name) + " (generated by the database)";
  return out;
}

std::string designText(const Variant& v) {
  if (v.isUnassigned()) return "none";
  if (v.isNull()) return "null";
  if (v.type() == VarType::String) return code("\"" + v.toText() + "\"");
  return code(v.toText());
}

void writeParams(std::ostringstream& out, const std::vector<ParamSpec>& params) {
  if (params.empty()) return;
  out << "\n| parameter | type | direction | size | default |\n|---|---|---|---|---|\n";
  for (const ParamSpec& p : params) {
    out << "| " << code(p.name) << " | " << db::fieldTypeName(p.type) << " | "
        << db::paramDirectionName(p.direction) << " | "
        << (p.size > 0 ? std::to_string(p.size) : "") << " | " << designText(p.designValue)
        << " |\n";
  }
}

void writeProvider(std::ostringstream& out, const ProviderSpec& p) {
  const DatasetSpec& d = p.dataset;
  out << "\n### " << p.name << "\n\n";
  std::string table;
  switch (d.kind) {
    case DatasetKind::Table:
      table = d.object;
      out << "Table " << code(d.object) << " (dataset " << code(d.name) << "): every row.\n";
      break;
    case DatasetKind::StoredProc:
      out << "Stored procedure " << code(d.object.substr(0, d.object.find(';'))) << " (dataset "
          << code(d.name) << "): its rows; output parameters come back in `params`.\n";
      break;
    case DatasetKind::Query:
      if (d.lines.empty()) {
        out << "No statement of its own (dataset " << code(d.name)
            << "): a client reads and runs its own statements through `commandText`.\n";
      } else {
        table = provider::tableAfterFrom(joinedLines(d.lines));
        out << "Statement (dataset " << code(d.name) << "):\n\n```sql\n"
            << joinedLines(d.lines) << "```\n";
      }
      break;
  }
  out << "\n- Client statements (`commandText`): "
      << (p.allowCommandText ? "allowed" : "refused (\"CommandText changes are not allowed\")")
      << "\n";
  if (const std::string key = keyOf(table); !key.empty())
    out << "- Key of " << code(table) << ": " << key << "\n";
  if (!table.empty()) out << "- Deltas are written to " << code(table) << "\n";
  for (const DetailSpec& det : d.details) {
    const std::string detTable = provider::tableAfterFrom(joinedLines(det.lines));
    out << "- Detail " << code(det.dataset) << ": linked by the master field "
        << code(det.param.name) << " (its parameter `:" << det.param.name << "`), rows of "
        << code(detTable);
    if (const std::string key = keyOf(detTable); !key.empty()) out << ", key " << key;
    out << ":\n\n  ```sql\n";
    for (const auto& l : det.lines) out << "  " << l << "\n";
    out << "  ```\n";
  }
  writeParams(out, d.params);
  auto rule = postingRules().find(p.name);
  out << "\nPosting: ";
  if (rule == postingRules().end())
    out << "none of its own; the provider writes each row (one transaction, `maxErrors` "
           "applies).\n";
  else
    out << "a rule of the module.\n\n" << rule->second;
}

}  // namespace

std::string ProviderCataloguePage() {
  std::ostringstream out;
  out << "# Provider catalogue\n\n"
         "<!-- Generated from services/catalog_*.cpp and services/catalog_page.cpp; do not edit.\n"
         "     A test fails when this page and the code differ; to write it again run\n"
         "     QZ_WRITE_DOCS=1 build/tests/qz_services_tests --gtest_filter='CataloguePage*' "
         "-->\n\n"
         "Each module publishes its providers in this order (`AS_GetProviderNames`). A provider\n"
         "reads a statement, a table or a stored procedure; `count` 0 gives only its fields. The\n"
         "packets' fields, types and flags come from the database (see docs/protocol.md); their\n"
         "names are the schema's spelling on both engines. Parameters are matched by name without\n"
         "regard to case and keep their defaults until a client sends a value.\n";
  for (const ModuleCatalog* m : {&top_dm1Catalog(), &top_dm2Catalog(), &gzModuleCatalog()}) {
    out << "\n## " << m->moduleName << "\n\n";
    for (const auto& purpose : kModulePurpose)
      if (m->moduleName == purpose[0])
        out << "Class " << code(m->moduleName) << ": " << purpose[1] << ".\n";
    out << "Providers:";
    for (const ProviderSpec& p : m->providers) out << " " << code(p.name);
    out << ".\n";
    for (const ProviderSpec& p : m->providers) writeProvider(out, p);
  }
  return out.str();
}

}  // namespace qz::services
