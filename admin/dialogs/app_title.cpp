// The process-wide application title.
#include "admin/dialogs/app_title.h"

namespace qz::admin {
namespace {
QString& Title() {
  static QString title = QStringLiteral("岚舟应用服务器");
  return title;
}
}  // namespace

QString ApplicationTitle() { return Title(); }
void SetApplicationTitle(const QString& title) { Title() = title; }

}  // namespace qz::admin
