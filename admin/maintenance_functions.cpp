// The backup, restore and clean-up flows; see maintenance_functions.h.
#include "admin/maintenance_functions.h"

#include <stdexcept>

#include "admin/request_key_sweeper.h"
#include "platform/db/connection_string.h"
#include "platform/db/request_keys.h"
#include "platform/db/sql_quote.h"
#include "settings/config.h"

namespace qz::admin {
namespace {

// Closes the wait window on every way out.
class WaitWindow {
 public:
  WaitWindow(MaintenanceUi& ui, const std::string& text) : ui_(ui) { ui_.showWait(text); }
  ~WaitWindow() { close(); }
  void close() {
    if (open_) {
      open_ = false;
      ui_.closeWait();
    }
  }
  WaitWindow(const WaitWindow&) = delete;
  WaitWindow& operator=(const WaitWindow&) = delete;

 private:
  MaintenanceUi& ui_;
  bool open_ = true;
};

std::string cellText(const Variant& v) { return v.isEmpty() ? std::string() : v.toText(); }

}  // namespace

MaintenanceSettings serverMaintenanceSettings() {
  MaintenanceSettings s;
  s.connectionText = [] { return server::BuildSqlConnectionString(); };
  s.databaseName = [] { return server::ReadSystemIniLine(4); };
  s.proposedBackupFolder =
      db::embeddedDataDir().empty() ? server::appDir() + "data/" : db::embeddedDataDir();
  return s;
}

bool MaintenanceFunctions::firstDiskDevice(std::string* name, std::string* file) {
  ADOQuery1_.setSql({kDeviceQuery});
  auto rows = ADOQuery1_.open();
  const bool found = rows->next();
  if (found) {
    const auto& row = rows->row();
    *name = row.size() > 0 ? cellText(row[0]) : std::string();
    *file = row.size() > 6 ? cellText(row[6]) : std::string();
  }
  ADOQuery1_.clear();
  return found;
}

std::string MaintenanceFunctions::answerOf(const std::string& statement) {
  ADOQuery1_.setSql({statement});
  auto rows = ADOQuery1_.open();
  std::string answer;
  if (rows->next() && !rows->row().empty()) answer = cellText(rows->row()[0]);
  rows.reset();
  ADOQuery1_.clear();
  return answer;
}

Outcome MaintenanceFunctions::BackupDatabase() {
  if (!ADOC1_.isOpen()) {
    ADOC1_.setConnectionString(settings_.connectionText());
    ADOC1_.open();
  }
  BackupChoices choices;
  if (!firstDiskDevice(&choices.deviceName, &choices.path)) {
    choices.deviceName = kDefaultDeviceName;
    choices.path = settings_.proposedBackupFolder + kDefaultDeviceFile;
  }
  if (!ui_.askBackup(choices)) return {};
  const std::string database = settings_.databaseName();
  if (database.empty()) throw std::runtime_error(kNoDatabaseName);
  Outcome out;
  out.answer = answerOf(backupStatement(choices, database));
  out.status = Outcome::Done;
  ui_.message("", out.answer);
  return out;
}

Outcome MaintenanceFunctions::RestoreDatabase() { return RestoreDatabase(std::string()); }

Outcome MaintenanceFunctions::RestoreDatabase(const std::string& password) {
  // However the restore ends, the connection is closed and carries the
  // normal text again, so the next function finds the application database.
  struct PutBack {
    MaintenanceFunctions& f;
    ~PutBack() {
      f.ADOQuery1_.clear();
      f.ADOC1_.close();
      try {
        f.ADOC1_.setConnectionString(f.settings_.connectionText());
      } catch (...) {
      }
    }
  } putBack{*this};
  ADOC1_.close();
  ADOC1_.setConnectionString(masterConnectionText(settings_.connectionText()));
  ADOC1_.open();
  std::string name, file;
  try {
    firstDiskDevice(&name, &file);
  } catch (const db::DbError&) {
    // PostgreSQL keeps the device list in the application database, which
    // its maintenance database cannot see: ask there, and propose nothing
    // when that fails too (the operator types the file).
    ADOQuery1_.clear();
    try {
      db::Connection app;
      app.setConnectionString(settings_.connectionText());
      db::Query q(&app);
      q.setSql({kDeviceQuery});
      auto rows = q.open();
      if (rows->next() && rows->row().size() > 6) file = cellText(rows->row()[6]);
    } catch (const std::exception&) {
      file.clear();
    }
  }
  if (!ui_.askRestore(file)) return {};
  const std::string database = settings_.databaseName();
  if (database.empty()) throw std::runtime_error(kNoDatabaseName);
  std::string statement = restoreStatement(database, file);
  if (!password.empty()) statement += " with password=" + db::QuoteSqlText(password);
  ADOQuery1_.setSql({statement});
  ADOQuery1_.execSql();
  return {Outcome::Done, ""};
}

Outcome MaintenanceFunctions::rangeCleanUp(bool rooms) {
  const Day today = settings_.today();
  const int beforeDays = sysInfo_.readInteger(server::ini::kBackUp, server::ini::kBeforeDays,
                                              server::ini::kBeforeDaysDefault);
  Day from, to;
  if (!CleanUpDefaultRange(today, beforeDays, &from, &to)) {
    const std::string text = badBeforeDaysText(beforeDays);
    ui_.message(kSystemHintCaption, text);
    return {Outcome::Failed, text};
  }
  const std::string backupFileName = sysInfo_.readString(
      server::ini::kBackUp, server::ini::kBackupFileName, server::ini::kBackupFileNameDefault);
  const std::string archive = sysInfo_.readString(server::ini::kBackUp, server::ini::kDatabase,
                                                  server::ini::kDatabaseDefault);
  if (!db::IsPlainDatabaseName(archive)) {
    const std::string text = badArchiveNameText(archive);
    ui_.message(kSystemHintCaption, text);
    return {Outcome::Failed, text};
  }
  if (!ui_.selectDateRange(from, to)) return {};
  if (!ui_.confirm(kConfirmDeleteCaption,
                   rooms ? roomCleanQuestion(from, to) : salesCleanQuestion(from, to)))
    return {};
  Outcome out;
  {
    WaitWindow wait(ui_, kWaitText);
    try {
      ADOQuery1_.clear();
      const std::string database = settings_.databaseName();
      if (database.empty()) throw std::runtime_error(kNoDatabaseName);
      const std::string statement =
          rooms ? roomCleanStatement(database, archive, dayText(from), dayText(to), backupFileName)
                : salesCleanStatement(database, archive, dayText(from), dayText(to));
      out.answer = answerOf(statement);
      out.status = Outcome::Done;
      // Old request keys go with the old documents. Their removal is
      // housekeeping: a failure leaves them to the server's next round
      // rather than calling the finished clean-up failed.
      try {
        db::removeRequestKeysOlderThan(ADOC1_, server::requestKeyDays(sysInfo_));
      } catch (const std::exception&) {
      }
    } catch (const std::exception& e) {
      ADOQuery1_.clear();
      out.answer = e.what();
      out.status = Outcome::Failed;
    }
  }
  ui_.message(kCleanAnswerCaption, out.answer);
  return out;
}

Outcome MaintenanceFunctions::N9Click() { return rangeCleanUp(true); }
Outcome MaintenanceFunctions::N14Click() { return rangeCleanUp(false); }

Outcome MaintenanceFunctions::N18Click() {
  if (!ui_.confirm(kSystemHintCaption, kEmptyDatabaseQuestion)) return {};
  {
    WaitWindow wait(ui_, kWaitText);
    ADOQuery1_.setSql({kDeleteAllStatement});
    try {
      ADOQuery1_.execSql();
    } catch (...) {
      ADOQuery1_.clear();
      throw;
    }
    ADOQuery1_.clear();
  }
  ui_.message(kSystemHintCaption, kEmptyDatabaseDone);
  return {Outcome::Done, kEmptyDatabaseDone};
}

}  // namespace qz::admin
