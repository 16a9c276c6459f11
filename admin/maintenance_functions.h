// The administrator functions behind "备份数据", "恢复数据" and the "清理数据"
// submenu (BackupDatabase, RestoreDatabase, N9Click, N14Click, N18Click),
// on the main SQL connection ADOC1 and its query ADOQuery1.
//
// What the operator is asked and shown goes through MaintenanceUi, so the
// window (dialogs, message boxes, the wait window) and the command line
// (options, standard output) run the very same flows with the very same
// statements, and tests drive them without a screen.
//
// Errors: the backup, the restore and emptying the database do not catch
// database errors; they propagate to the caller (the window's standard
// error display; the command line's exit status). The range clean-ups catch
// every error and show its text as the answer (Outcome::Failed).
//
// Thread-safety: window thread only (or the command line's one thread).
#pragma once

#include <functional>
#include <string>

#include "admin/export_choices.h"
#include "admin/maintenance_statements.h"
#include "platform/db/connection.h"
#include "settings/sysinfo_ini.h"

namespace qz::admin {

// What the flows ask of the operator.
class MaintenanceUi {
 public:
  virtual ~MaintenanceUi() = default;
  // TBackUpForm with choices proposed; true on OK with the operator's
  // choices written back (OK is only possible with a name and a path).
  virtual bool askBackup(BackupChoices& choices) = 0;
  // TrestoreForm ("源文件") with the file proposed; true on OK.
  virtual bool askRestore(std::string& sourceFile) = 0;
  // SelectDateRange: TselectdateForm with the range proposed; true on OK.
  virtual bool selectDateRange(Day& from, Day& to) = 0;
  // A Yes/No box; true for Yes.
  virtual bool confirm(const std::string& caption, const std::string& text) = 0;
  // A box with an OK button; an empty caption means the application title.
  virtual void message(const std::string& caption, const std::string& text) = 0;
  // The wait window: shown and painted before the work; closed after it.
  virtual void showWait(const std::string& text) = 0;
  virtual void closeWait() = 0;

  // The export (see admin/access_export.h). TexpressForm with the choices
  // proposed; true on OK ("导出") with the operator's choices written back.
  virtual bool askExport(ExportChoices& choices) { return false; }
  // The progress band: shown with text and the bar at position (maximum
  // unchanged when maximum < 0), then the main window repainted.
  virtual void progress(const std::string& text, int position, int maximum) {}
  // Hides the progress band.
  virtual void hideProgress() {}
};

// How a function ended.
struct Outcome {
  enum Status { Cancelled, Done, Failed };
  Status status = Cancelled;
  std::string answer;  // the text shown to the operator ("" when nothing was)
};

// The settings the functions read, injectable for tests.
struct MaintenanceSettings {
  // The SQL connection text (BuildSqlConnectionString).
  std::function<std::string()> connectionText;
  // Line 4 of system.ini: the database name.
  std::function<std::string()> databaseName;
  // The folder proposed for a backup file when the server has no disk
  // device (the data folder), with a trailing '/'.
  std::string proposedBackupFolder;
  // Today, for the default clean-up range.
  std::function<Day()> today = localToday;
};

// The settings of the running server: system.ini and the data folder.
MaintenanceSettings serverMaintenanceSettings();

class MaintenanceFunctions {
 public:
  // Borrows everything; all must outlive this object.
  MaintenanceFunctions(db::Connection& ADOC1, db::Query& ADOQuery1,
                       const server::SysInfoIni& sysInfo, MaintenanceSettings settings,
                       MaintenanceUi& ui)
      : ADOC1_(ADOC1),
        ADOQuery1_(ADOQuery1),
        sysInfo_(sysInfo),
        settings_(std::move(settings)),
        ui_(ui) {}
  MaintenanceFunctions(const MaintenanceFunctions&) = delete;
  MaintenanceFunctions& operator=(const MaintenanceFunctions&) = delete;

  // Backup: proposes the first disk device (or qz_backup and a file in the
  // data folder), asks, runs QZ_backup and shows its answer. Opens ADOC1
  // with the normal connection text when it is closed. Throws db::DbError.
  Outcome BackupDatabase();
  // Restore: reopens ADOC1 on master, proposes the first disk device's
  // file, asks, sends RESTORE DATABASE; whatever happens, ADOC1 is closed
  // afterwards and given the normal connection text again. Throws.
  Outcome RestoreDatabase();
  // Restore with a backup set's password (the command line); the window's
  // statement carries none.
  Outcome RestoreDatabase(const std::string& password);
  // Room settlements (hpt_backup), goods-sales settlements
  // (material_backup); a clean-up that succeeds also removes the request
  // keys older than [Server] RequestKeyDays. Never throw for database errors.
  Outcome N9Click();
  Outcome N14Click();
  // Empties the database (deleteall). Throws on a database error (the wait
  // window is closed first; the success box is not shown).
  Outcome N18Click();

 private:
  // The first disk device row: name and file ("" when there is none).
  bool firstDiskDevice(std::string* name, std::string* file);
  Outcome rangeCleanUp(bool rooms);
  // First column of the first row of the statement, as text.
  std::string answerOf(const std::string& statement);

  db::Connection& ADOC1_;
  db::Query& ADOQuery1_;
  const server::SysInfoIni& sysInfo_;
  MaintenanceSettings settings_;
  MaintenanceUi& ui_;
};

}  // namespace qz::admin
