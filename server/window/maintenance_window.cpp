// The window's maintenance dialogs and hooks; see maintenance_window.h.
#include "server/window/maintenance_window.h"

#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>

#include "admin/dialogs/app_title.h"
#include "admin/dialogs/backup_form.h"
#include "admin/dialogs/express_form.h"
#include "admin/dialogs/file_open_edit.h"
#include "admin/dialogs/select_date_form.h"
#include "server/window/main_form.h"
#include "server/window/msg_hint_form.h"
#include "settings/config.h"

namespace qz::server {

WindowMaintenanceUi::WindowMaintenanceUi(QWidget* owner, TSevMainForm* form)
    : owner_(owner), form_(form) {}
WindowMaintenanceUi::~WindowMaintenanceUi() = default;

bool WindowMaintenanceUi::askBackup(admin::BackupChoices& choices) {
  admin::TBackUpForm form(owner_);
  form.setChoices(choices);
  if (form.exec() != QDialog::Accepted) return false;
  choices = form.choices();
  return true;
}

bool WindowMaintenanceUi::askRestore(std::string& sourceFile) {
  admin::TrestoreForm form(owner_);
  form.LMDFileOpenEdit1->setText(QString::fromStdString(sourceFile));
  if (form.exec() != QDialog::Accepted) return false;
  sourceFile = form.LMDFileOpenEdit1->text().toStdString();
  return true;
}

bool WindowMaintenanceUi::selectDateRange(admin::Day& from, admin::Day& to) {
  return admin::SelectDateRange(owner_, from, to);
}

bool WindowMaintenanceUi::confirm(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::Question, QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Yes | QMessageBox::No, owner_);
  box.setObjectName(QStringLiteral("ConfirmBox"));
  return box.exec() == QMessageBox::Yes;
}

void WindowMaintenanceUi::message(const std::string& caption, const std::string& text) {
  QMessageBox box(QMessageBox::NoIcon,
                  caption.empty() ? admin::ApplicationTitle() : QString::fromStdString(caption),
                  QString::fromStdString(text), QMessageBox::Ok, owner_);
  box.setObjectName(QStringLiteral("AnswerBox"));
  box.exec();
}

void WindowMaintenanceUi::showWait(const std::string& text) {
  wait_ = std::make_unique<TMsgHintForm>();
  wait_->setMessage(QString::fromStdString(text));
  wait_->showAndPaint();
}

void WindowMaintenanceUi::closeWait() {
  if (wait_) wait_->close();
  wait_.reset();
}

bool WindowMaintenanceUi::askExport(admin::ExportChoices& choices) {
  return admin::AskExport(owner_, choices);
}

void WindowMaintenanceUi::progress(const std::string& text, int position, int maximum) {
  if (!form_) return;
  form_->CoolBar1Band2->show();
  form_->ProgressBar1->show();
  form_->Band2Text->setText(QString::fromStdString(text));
  if (maximum >= 0) form_->ProgressBar1->setMaximum(maximum);
  form_->ProgressBar1->setValue(position);
  form_->repaint();
}

void WindowMaintenanceUi::hideProgress() {
  if (form_) form_->CoolBar1Band2->hide();
}

MaintenanceWindow::MaintenanceWindow(TSevMainForm& form, const SysInfoIni& sysInfo)
    : form_(form),
      ui_(&form, &form),
      functions_(form.ADOC1, form.ADOQuery1, sysInfo, admin::serverMaintenanceSettings(), ui_),
      export_(form.ADOC1, form.ADOQuery1, form.ADOC2, appDir(), ui_) {
  form_.onExportToAccess = [this] { export_.ExportToAccess(); };
  form_.onConnectImportFile = [this] { export_.ConnectImportFile(); };
  form_.onBackupDatabase = [this] { functions_.BackupDatabase(); };
  form_.onRestoreDatabase = [this] { functions_.RestoreDatabase(); };
  form_.onCleanRoomData = [this] { functions_.N9Click(); };
  form_.onCleanSalesData = [this] { functions_.N14Click(); };
  form_.onEmptyDatabase = [this] { functions_.N18Click(); };
}

MaintenanceWindow::~MaintenanceWindow() {
  form_.onExportToAccess = nullptr;
  form_.onConnectImportFile = nullptr;
  form_.onBackupDatabase = nullptr;
  form_.onRestoreDatabase = nullptr;
  form_.onCleanRoomData = nullptr;
  form_.onCleanSalesData = nullptr;
  form_.onEmptyDatabase = nullptr;
}

}  // namespace qz::server
