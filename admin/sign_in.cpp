// Sign-in check and password change with bound parameters.
#include "admin/sign_in.h"

#include <cctype>
#include <cstddef>
#include <string>

#include "platform/core/ascii.h"

namespace qz::admin {
namespace {

void SetText(db::Query& q, const char* name, const std::string& value) {
  db::Parameter* p = q.param(name);
  if (p == nullptr) throw db::DbError(std::string("parameter missing: ") + name);
  p->type = db::FieldType::String;
  p->value = Variant(value);
}

size_t FieldIndex(const db::RowSet& rows, const char* name) {
  for (size_t i = 0; i < rows.fields.size(); ++i) {
    const std::string& f = rows.fields[i].name;
    if (f.size() == std::char_traits<char>::length(name)) {
      bool same = true;
      for (size_t k = 0; k < f.size() && same; ++k) same = AsciiLowerChar(f[k]) == name[k];
      if (same) return i;
    }
  }
  throw db::DbError(std::string("Field '") + name + "' not found");
}

}  // namespace

bool CheckAdminSignIn(db::Connection& conn, db::Query& query, const std::string& name,
                      const std::string& password, const std::string& mark) {
  conn.ensureOpen();
  query.clear();
  query.add("select * from users where id=:id and psw=:psw and mark=:mark");
  SetText(query, "id", name);
  SetText(query, "psw", password);
  SetText(query, "mark", mark);
  auto cursor = query.open();
  db::RowSet rows = db::RowSet::readAll(*cursor);
  // The field is looked up before the row count, as reading it from an
  // empty result would: a table without popedom is a database error.
  const size_t popedom = FieldIndex(rows, "popedom");
  if (rows.rows.empty()) return false;
  const Variant& v = rows.rows.front()[popedom];
  if (v.isEmpty()) return false;
  const std::string text = v.toText();
  return !text.empty() && text[0] == '1';
}

void ChangeAdminPassword(db::Connection& conn, db::Query& query, const std::string& newPassword,
                         const std::string& name, const std::string& mark) {
  conn.ensureOpen();
  query.clear();
  query.add("update users set psw=:psw where id=:id and mark=:mark");
  SetText(query, "psw", newPassword);
  SetText(query, "id", name);
  SetText(query, "mark", mark);
  query.execSql();
}

}  // namespace qz::admin
