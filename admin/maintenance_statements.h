// The statements and texts of the backup, restore and clean-up functions:
// composed from what the operator typed and the settings, with every text
// value quoted safely (a quote in a path or password stays part of the
// value) and database names written as identifiers.
//
// Thread-safety: pure functions.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

namespace qz::admin {

// Texts of the functions.
inline constexpr const char* kDeviceQuery =
    "select top 1 * from master.dbo.sysdevices where cntrltype=2";
inline constexpr const char* kDefaultDeviceName = "qz_backup";
inline constexpr const char* kDefaultDeviceFile = "qz_backup.dat";  // in the data folder
inline constexpr const char* kDeleteAllStatement = "exec deleteall";
inline constexpr const char* kWaitText = "正在删除数据...";
inline constexpr const char* kConfirmDeleteCaption = "确定删除数据";
inline constexpr const char* kCleanAnswerCaption = "数据已成功删除!";
inline constexpr const char* kSystemHintCaption = "系统提示";
inline constexpr const char* kEmptyDatabaseQuestion = "您是否确定把该系统内的数据全部删除?";
inline constexpr const char* kEmptyDatabaseDone = "数据已成功删除!";
inline constexpr const char* kNoDatabaseName = "system.ini 第 4 行没有数据库名，无法执行。";

struct BackupChoices {
  std::string deviceName;  // "名称"
  std::string path;        // "目的"
  std::string password;    // "口令"
  int kind = 0;            // " 备份 ": 0 full, 1 differential
  int media = 0;           // " 重写 ": 0 append, 1 overwrite
};

// exec QZ_backup 'disk','name','path','database',kind,media,'password'
std::string backupStatement(const BackupChoices& c, const std::string& database);
// RESTORE DATABASE name from disk='file'
std::string restoreStatement(const std::string& database, const std::string& file);
// exec name.dbo.hpt_backup 'name','Database','from','to','BackupFileName'
std::string roomCleanStatement(const std::string& database, const std::string& archive,
                               const std::string& from, const std::string& to,
                               const std::string& backupFileName);
// exec name.dbo.material_backup 'name','Database','from','to'
std::string salesCleanStatement(const std::string& database, const std::string& archive,
                                const std::string& from, const std::string& to);

// Every occurrence of old replaced by replacement, searching on after each
// inserted text, so the search always ends (also when replacement contains
// old). An empty old leaves the text unchanged. Case-sensitive.
std::string ReplaceAllText(const std::string& text, const std::string& old,
                           const std::string& replacement);

// The connection text for the server's catalogue: the Initial Catalog value
// becomes "master" and the Initial File Name value becomes empty; every
// other key and value stays as it is.
std::string masterConnectionText(const std::string& text);

// Calendar days.
using Day = std::chrono::year_month_day;
// "2026-01-31" (the form both engines read).
std::string dayText(const Day& day);
// Parses a day as ParseDateText reads it ("2026-01-31", "2026/1/31"), without a
// time of day. Returns false for anything else.
bool parseDayText(const std::string& text, Day* day);
Day addDays(const Day& day, int days);
// The range a clean-up proposes: from 360 days before today to beforeDays
// ([BackUp] BeforeDays) before today. Returns false, leaving from and to
// untouched, when the end leaves the calendar (years 1 to 9999) or is not
// before today: such a range would move live bills out of the database.
bool CleanUpDefaultRange(const Day& today, int beforeDays, Day* from, Day* to);
// The message shown when CleanUpDefaultRange refuses beforeDays.
std::string badBeforeDaysText(int beforeDays);
// The message shown when [BackUp] Database is no plain database name.
std::string badArchiveNameText(const std::string& archive);
// Today on the host's calendar.
Day localToday();

// The confirmation of a range clean-up: "是否确定删除" from "至" to + what.
std::string roomCleanQuestion(const Day& from, const Day& to);
std::string salesCleanQuestion(const Day& from, const Day& to);

}  // namespace qz::admin
