// The window's side of backup, restore and clean-up: the dialogs, message
// boxes and wait window that the maintenance functions ask through
// admin::MaintenanceUi, and the wiring of the main form's seven hooks
// ("恢复数据", "备份数据", the "清理数据" submenu's three items, and the
// hidden "数据导出"/"数据导入") to the functions on the form's main SQL
// connection and its Jet connection ADOC2.
//
// Thread-safety: window thread only.
#pragma once

#include <QPointer>
#include <QWidget>
#include <memory>

#include "admin/access_export.h"
#include "admin/maintenance_functions.h"

namespace qz::server {

class TMsgHintForm;
class TSevMainForm;

// Dialogs over owner (TBackUpForm, TrestoreForm, TselectdateForm), Yes/No
// and OK message boxes, and TMsgHintForm as the wait window.
class WindowMaintenanceUi : public admin::MaintenanceUi {
 public:
  // form (may be null) shows the export's progress band.
  explicit WindowMaintenanceUi(QWidget* owner, TSevMainForm* form = nullptr);
  ~WindowMaintenanceUi() override;
  WindowMaintenanceUi(const WindowMaintenanceUi&) = delete;
  WindowMaintenanceUi& operator=(const WindowMaintenanceUi&) = delete;

  bool askBackup(admin::BackupChoices& choices) override;
  bool askRestore(std::string& sourceFile) override;
  bool selectDateRange(admin::Day& from, admin::Day& to) override;
  bool confirm(const std::string& caption, const std::string& text) override;
  void message(const std::string& caption, const std::string& text) override;
  void showWait(const std::string& text) override;
  void closeWait() override;
  bool askExport(admin::ExportChoices& choices) override;
  void progress(const std::string& text, int position, int maximum) override;
  void hideProgress() override;

 private:
  QPointer<QWidget> owner_;
  TSevMainForm* form_ = nullptr;
  std::unique_ptr<TMsgHintForm> wait_;
};

// Sets the form's maintenance hooks; they stay valid while this lives.
// REQUIRES: form and sysInfo outlive this object.
class MaintenanceWindow {
 public:
  MaintenanceWindow(TSevMainForm& form, const SysInfoIni& sysInfo);
  ~MaintenanceWindow();
  MaintenanceWindow(const MaintenanceWindow&) = delete;
  MaintenanceWindow& operator=(const MaintenanceWindow&) = delete;

 private:
  TSevMainForm& form_;
  WindowMaintenanceUi ui_;
  admin::MaintenanceFunctions functions_;
  admin::AccessExport export_;
};

}  // namespace qz::server
