// Message boxes of the window thread.
#include "admin/dialogs/error_display.h"

#include <QMessageBox>
#include <exception>

#include "admin/dialogs/app_title.h"
#include "admin/full_stop.h"
#include "admin/silent_abort.h"

namespace qz::admin {

void ShowStandardError(QWidget* parent, const std::string& message) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(),
                  QString::fromStdString(AppendFullStop(message)), QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("StandardErrorBox"));
  box.exec();
}

void ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok, parent);
  box.setObjectName(QStringLiteral("MessageBox"));
  box.exec();
}

bool RunGuarded(QWidget* parent, const std::function<void()>& fn) {
  try {
    fn();
    return true;
  } catch (const SilentAbort&) {
  } catch (const std::exception& e) {
    ShowStandardError(parent, e.what());
  } catch (...) {
    ShowStandardError(parent, "Unknown error");
  }
  return false;
}

}  // namespace qz::admin
