// Statements and texts of the maintenance functions; see
// maintenance_statements.h.
#include "admin/maintenance_statements.h"

#include <cstdio>
#include <ctime>

#include "platform/core/variant.h"
#include "platform/db/connection_string.h"
#include "platform/db/sql_quote.h"

namespace qz::admin {

std::string backupStatement(const BackupChoices& c, const std::string& database) {
  return "exec QZ_backup 'disk'," + db::QuoteSqlText(c.deviceName) + "," +
         db::QuoteSqlText(c.path) + "," + db::QuoteSqlText(database) + "," +
         std::to_string(c.kind) + "," + std::to_string(c.media) + "," +
         db::QuoteSqlText(c.password);
}

std::string restoreStatement(const std::string& database, const std::string& file) {
  return "RESTORE DATABASE " + db::QuoteBracketName(database) +
         " from disk=" + db::QuoteSqlText(file);
}

std::string roomCleanStatement(const std::string& database, const std::string& archive,
                               const std::string& from, const std::string& to,
                               const std::string& backupFileName) {
  return "exec " + db::QuoteBracketName(database) + ".dbo.hpt_backup " +
         db::QuoteSqlText(database) + "," + db::QuoteSqlText(archive) + "," +
         db::QuoteSqlText(from) + "," + db::QuoteSqlText(to) + "," +
         db::QuoteSqlText(backupFileName);
}

std::string salesCleanStatement(const std::string& database, const std::string& archive,
                                const std::string& from, const std::string& to) {
  return "exec " + db::QuoteBracketName(database) + ".dbo.material_backup " +
         db::QuoteSqlText(database) + "," + db::QuoteSqlText(archive) + "," +
         db::QuoteSqlText(from) + "," + db::QuoteSqlText(to);
}

std::string ReplaceAllText(const std::string& text, const std::string& old,
                           const std::string& replacement) {
  if (old.empty()) return text;
  std::string out = text;
  size_t from = 0;
  for (size_t at; (at = out.find(old, from)) != std::string::npos;) {
    out.replace(at, old.size(), replacement);
    from = at + replacement.size();
  }
  return out;
}

std::string masterConnectionText(const std::string& text) {
  db::ConnectionString cs = db::ConnectionString::parse(text);
  cs.set("Initial Catalog", "master");
  if (cs.has("Initial File Name")) cs.set("Initial File Name", "");
  return cs.toString();
}

std::string dayText(const Day& day) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02u-%02u", static_cast<int>(day.year()),
                static_cast<unsigned>(day.month()), static_cast<unsigned>(day.day()));
  return buf;
}

bool parseDayText(const std::string& text, Day* day) {
  DateText t;
  if (!ParseDateText(text, &t) || t.hasTime) return false;
  *day = t.day;
  return true;
}

Day addDays(const Day& day, int days) {
  return Day(std::chrono::sys_days(day) + std::chrono::days(days));
}

bool CleanUpDefaultRange(const Day& today, int beforeDays, Day* from, Day* to) {
  using std::chrono::sys_days;
  if (beforeDays < 1) return false;
  // Counted in 64 bits: a day count near INT_MAX would wrap the calendar.
  const int64_t end = sys_days(today).time_since_epoch().count() - int64_t{beforeDays};
  const int64_t first = sys_days(std::chrono::year(1) / 1 / 1).time_since_epoch().count();
  if (end < first) return false;
  *from = addDays(today, -360);
  *to = Day(sys_days(std::chrono::days(end)));
  return true;
}

std::string badBeforeDaysText(int beforeDays) {
  return "sysinfo.ini [BackUp] BeforeDays=" + std::to_string(beforeDays) +
         " 不是有效的天数（应为 1 以上、结束日期在今天之前且不早于公元 1 年），未清理任何数据。";
}

std::string badArchiveNameText(const std::string& archive) {
  return "sysinfo.ini [BackUp] Database=" + archive +
         " 不是有效的数据库名（不能含 ; = ' \" [ ] . / \\ 或控制字符），未清理任何数据。";
}

Day localToday() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  return Day(std::chrono::year(tm.tm_year + 1900), std::chrono::month(tm.tm_mon + 1),
             std::chrono::day(tm.tm_mday));
}

std::string roomCleanQuestion(const Day& from, const Day& to) {
  return "是否确定删除" + dayText(from) + "至" + dayText(to) + "的客房结算数据吗？";
}

std::string salesCleanQuestion(const Day& from, const Day& to) {
  return "是否确定删除" + dayText(from) + "至" + dayText(to) + "的商品销售结算数据吗？";
}

}  // namespace qz::admin
