// The export to an Access file: file preparation, the five steps, and the
// connection of the export file.
#include "admin/access_export.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "database/export_template.h"
#include "platform/db/connection_string.h"
#include "platform/db/sql_quote.h"
#include "platform/jet/database.h"
#include "platform/jet/jet_error.h"

namespace qz::admin {
namespace {

// The platform's file error, with the path and the system's reason.
[[noreturn]] void FileError(const std::string& what, const std::string& path) {
  throw std::runtime_error(what + " \"" + path + "\": " + std::strerror(errno));
}

// Copies the template's bytes into the (already created, empty) target.
void CopyFile(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) FileError("Cannot open file", from);
  const int out = ::open(to.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
  if (out < 0) {
    const int e = errno;
    ::close(in);
    errno = e;
    FileError("Cannot open file", to);
  }
  char buf[1 << 16];
  for (;;) {
    const ssize_t n = ::read(in, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    bool failed = n < 0;
    for (ssize_t done = 0; !failed && done < n;) {
      const ssize_t w = ::write(out, buf + done, size_t(n - done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0)
        failed = true;
      else
        done += w;
    }
    if (failed) {
      const int e = errno;
      ::close(in);
      ::close(out);
      ::unlink(to.c_str());  // no half-copied file
      errno = e;
      FileError("Cannot write file", to);
    }
    if (n == 0) break;
  }
  ::close(in);
  if (::close(out) != 0) {
    ::unlink(to.c_str());
    FileError("Cannot write file", to);
  }
}

// Refuses a template whose tables the export cannot fill: a table missing,
// or one that carries an index the Jet file library does not maintain.
void CheckTemplate(const std::string& path) {
  std::unique_ptr<jet::Database> db;
  try {
    db = jet::Database::Open(path, database::kExportPassword, false);
  } catch (const jet::JetError&) {
    return;  // unreadable: the copy or the connection reports it
  }
  for (const database::ExportTable& t : database::exportTemplateTables()) {
    const jet::TableDef* def = nullptr;
    try {
      def = &db->table(t.name);
    } catch (const jet::JetError&) {
      throw std::runtime_error("The export template " + path + " has no table " + t.name + ".");
    }
    if (!def->indexes.empty())
      throw std::runtime_error(
          "The export template " + path + ": table " + t.name + " carries the index " +
          def->indexes.front().name +
          ", which this server cannot keep up to date; remove the index from the template.");
  }
}

size_t ColumnOf(const std::vector<db::FieldDef>& fields, std::string_view name) {
  for (size_t i = 0; i < fields.size(); ++i)
    if (EqualsNoCase(fields[i].name, name)) return i;
  throw db::DbError("Field '" + std::string(name) + "' not found");
}

// The value rules of the literal inserts.
enum class Rule { T, N, K, X, L };

std::string Literal(const Variant& v, Rule rule) {
  const bool null = v.isEmpty();
  const std::string text = null ? std::string() : v.toText();
  switch (rule) {
    case Rule::T:
      return null ? "null," : db::QuoteSqlText(text) + ",";
    case Rule::N:
      return null ? "null," : text + ",";
    case Rule::K:
      return db::QuoteSqlText(text) + ",";
    case Rule::X:
      return null ? "1," : text + ",";
    case Rule::L:
      return null ? "null)" : db::QuoteSqlText(text) + ")";
  }
  return {};
}

struct LiteralLine {
  const char* column;
  Rule rule;
};

const std::vector<std::string> kMaterialHead = {
    "INSERT INTO material(id, name, dw, dw1, exchange,",
    "addi, PRICE, price0, price1, INFO, cost, pym,slye,ye,",
    "TcType, TcCoefficient, rebate, sMax, sMin, mType) ", "values ("};
const std::vector<LiteralLine> kMaterialLines = {
    {"id", Rule::K},       {"name", Rule::T}, {"dw", Rule::T},     {"dw1", Rule::T},
    {"exchange", Rule::X}, {"addi", Rule::T}, {"price", Rule::N},  {"price0", Rule::N},
    {"price1", Rule::N},   {"info", Rule::T}, {"cost", Rule::T},   {"pym", Rule::T},
    {"slye", Rule::N},     {"ye", Rule::N},   {"tctype", Rule::T}, {"TcCoefficient", Rule::N},
    {"rebate", Rule::N},   {"sMax", Rule::N}, {"sMin", Rule::N},   {"mType", Rule::L}};
const std::vector<std::string> kClientHead = {"INSERT INTO client(type, id, name, addi, mailno,",
                                              "email, tel, m_tel, fax ,bank , bankID, taxid, pym)",
                                              "values ("};
// m_tel is text in the source and in the file: written as quoted text, so
// a number such as "0571-8888" is not turned into a sum.
const std::vector<LiteralLine> kClientLines = {
    {"type", Rule::T},   {"id", Rule::K},    {"name", Rule::T},   {"addi", Rule::T},
    {"mailno", Rule::T}, {"email", Rule::T}, {"tel", Rule::T},    {"m_tel", Rule::T},
    {"fax", Rule::T},    {"bank", Rule::T},  {"bankid", Rule::T}, {"taxid", Rule::T},
    {"pym", Rule::L}};

}  // namespace

std::string ExportConnectionText(const std::string& path) {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path +
         ";Persist Security Info=False;Jet OLEDB:Database Password=" + database::kExportPassword;
}

bool AccessExport::ConnectExportFile(const std::string& path) {
  ADOC2_.close();
  ADOC2_.setConnectionString(ExportConnectionText(path));
  try {
    ADOC2_.open();
  } catch (const std::exception& e) {
    ui_.message("", e.what());
  }
  return ADOC2_.isOpen();
}

void AccessExport::ConnectImportFile() {
  ExportChoices choices;
  if (!ui_.askExport(choices)) return;
  ConnectExportFile(choices.file);
}

void AccessExport::prepareFile(const std::string& path) {
  // The connection of an earlier export may still hold the file.
  ADOC2_.close();
  const std::string templatePath = appDir_ + database::kExportTemplateName;
  CheckTemplate(templatePath);
  if (path.empty()) {
    errno = ENOENT;
    FileError("Cannot create file", path);
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) FileError("Cannot create file", path);
  ::close(fd);
  CopyFile(templatePath, path);
}

Outcome AccessExport::ExportToAccess() {
  ExportChoices c;
  if (!ui_.askExport(c)) return {Outcome::Cancelled, ""};
  prepareFile(c.file);
  if (!ConnectExportFile(c.file)) {
    ui_.message("数据导出", "文件建立失败.");
    return {Outcome::Failed, "文件建立失败."};
  }
  // The file library writes rows out shortly after each statement; the
  // rest is written here, so a write failure is reported as the export's
  // failure and an interrupted export leaves its rows in the file at once.
  try {
    literalStep("正在导出物资编号数据", 2, "select * from material", true);
    literalStep("正在导出客户资料", 20, "select * from client", false);
    std::string headers = "select * from maccount";
    if (!c.all)
      headers += "\r\n where fdate>=cast('" + dayText(c.from) + "' as datetime) and fdate<cast('" +
                 dayText(addDays(c.to, 1)) + "' as datetime)";
    parameterStep(
        "正在导出主表数据", headers,
        "INSERT INTO MAccount ( num, consumption, DeptID, cltid, ndate, fdate, tdate, operator, "
        "waiter, "
        "receiver, sanctifier, checker, marck, cltname )",
        " VALUES (:num, :consumption, :DeptID, :cltid, :ndate, :fdate, :tdate, :operator, :waiter, "
        ":receiver, :sanctifier, :checker, :marck, :cltname);",
        "delete MAccount from MAccount where num=:num", "num");
    parameterStep("正在导出物资进/出数据", "select * from maccitems", "INSERT INTO maccitems ",
                  "VALUES (:bnum, :oprt, :summary, :MID, :plan_price, :plan_amount, :pye, "
                  ":pye_amount, :jf_PRICE, "
                  ":jf_amount, :df_PRICE, :xs_Price, :df_amount, :ye, :ye_amount, :marck , :inum, "
                  ":iinum, :MName, "
                  ":MSize, :dw, :dw1, :exchange);",
                  "delete maccitems from maccitems where iinum=:iinum", "iinum");
    parameterStep("正在导出收/付款数据", "select * from mgathering", "INSERT INTO Mgathering",
                  "VALUES (:inum, :bnum, :ndate, :type, :summary, :PAYMODE, :money, :worker);",
                  "delete mgathering from mgathering where inum=:inum", "inum");
  } catch (...) {
    try {
      ADOC2_.flush();
    } catch (const std::exception&) {
      // The first error is the one reported.
    }
    throw;
  }
  ADOC2_.flush();
  ui_.progress("正在...", 0, -1);
  ui_.hideProgress();
  return {Outcome::Done, ""};
}

void AccessExport::literalStep(const char* band, int position, const char* source, bool material) {
  ui_.progress(band, position, -1);
  ADOQuery1_.setSql({source});
  db::RowSet rows = db::RowSet::readAll(*ADOQuery1_.open());
  const std::vector<std::string>& head = material ? kMaterialHead : kClientHead;
  const std::vector<LiteralLine>& lines = material ? kMaterialLines : kClientLines;
  std::vector<size_t> at;
  for (const LiteralLine& l : lines) at.push_back(ColumnOf(rows.fields, l.column));
  db::Query ADOQuery2(&ADOC2_);
  std::vector<std::string> text = head;
  for (size_t i = 0; i < lines.size(); ++i) text.push_back(std::to_string(head.size() + i));
  for (const auto& row : rows.rows) {
    for (size_t i = 0; i < lines.size(); ++i)
      text[head.size() + i] = Literal(row[at[i]], lines[i].rule);
    ADOQuery2.setSql(text);
    ADOQuery2.execSql();
  }
}

void AccessExport::parameterStep(const char* band, const std::string& source,
                                 const std::string& insertHead, const std::string& insertValues,
                                 const std::string& deleteSql, const char* keyColumn) {
  ui_.progress(band, 0, -1);
  // The rows are counted first for the bar's maximum and then read one at a
  // time, so a large table is never held in memory whole.
  const int64_t total =
      db::RowSet::readAll(*ADOC1_.query("select count(*) from (" + source + ") q"))
          .rows.at(0)
          .at(0)
          .toInt64();
  maximum_ = int(total) + 10;
  int position = 10;
  ui_.progress(band, position, maximum_);
  ADOQuery1_.setSql({source});
  std::unique_ptr<db::Cursor> rows = ADOQuery1_.open();
  db::Query insert(&ADOC2_);
  insert.setSql({insertHead, insertValues});
  db::Query ADOQuery2(&ADOC2_);
  ADOQuery2.setSql({deleteSql});
  const size_t key = ColumnOf(rows->fields(), keyColumn);
  const size_t count = insert.params().size();
  if (rows->fields().size() < count)
    throw db::DbError("The source of " + insertHead +
                      " has fewer columns than the statement's parameters.");
  while (rows->next()) {
    const std::vector<Variant>& row = rows->row();
    ADOQuery2.params()[0].value = row[key];
    ADOQuery2.execSql();
    for (size_t i = 0; i < count; ++i) insert.params()[i].value = row[i];
    insert.execSql();
    // Rows added to the source since the count lengthen the bar.
    if (++position > maximum_) maximum_ = position;
    ui_.progress(band, position, maximum_);
  }
}

}  // namespace qz::admin
