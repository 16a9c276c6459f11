// The password change dialog. Geometry follows the old form: a panel with
// the two edits, the buttons below it, and the size computed from them.
#include "admin/dialogs/chapass_form.h"

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include "admin/dialogs/app_title.h"
#include "admin/dialogs/enter_as_tab.h"
#include "admin/dialogs/gbk_validator.h"
#include "admin/sign_in.h"

namespace qz::admin {
namespace {
constexpr size_t kPasswordBytes = 10;

QLineEdit* PasswordEdit(QWidget* parent, const QRect& r, const char* name) {
  auto* e = new QLineEdit(parent);
  e->setObjectName(name);
  e->setGeometry(r);
  e->setEchoMode(QLineEdit::Password);
  e->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // '*'
  e->setValidator(new GbkLengthValidator(kPasswordBytes, e));
  return e;
}
}  // namespace

TchapassForm::TchapassForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("chapassForm"));
  setWindowTitle(QStringLiteral("密码修改"));
  // No system menu and no close box.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);

  panel_ = new QFrame(this);
  panel_->setFrameShape(QFrame::StyledPanel);
  panel_->setGeometry(8, 8, 236, 80);
  auto* l1 = new QLabel(QStringLiteral("输入新口令："), panel_);
  l1->setGeometry(12, 16, 84, 16);
  Edit1 = PasswordEdit(panel_, QRect(100, 12, 120, 22), "Edit1");
  auto* l2 = new QLabel(QStringLiteral("重输新口令："), panel_);
  l2->setGeometry(12, 48, 84, 16);
  Edit2 = PasswordEdit(panel_, QRect(100, 44, 120, 22), "Edit2");

  BitBtn1 = new QPushButton(QStringLiteral("确定"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(44, 100, 75, 25);
  BitBtn2 = new QPushButton(QStringLiteral("取消"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(134, 100, 75, 25);
  BitBtn1->setAutoDefault(false);
  BitBtn2->setAutoDefault(false);
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

  // Size rule of the form: twice the panel's left plus its width plus 6;
  // the panel's top plus the OK button's top and height plus 26.
  setFixedSize(2 * panel_->x() + panel_->width() + 6,
               panel_->y() + BitBtn1->y() + BitBtn1->height() + 26);
  EnterAsTab::Install(this);
}

void TchapassForm::showEvent(QShowEvent* e) {
  // Centred over the owner.
  if (QWidget* owner = parentWidget(); owner != nullptr && owner->isVisible())
    move(owner->frameGeometry().center() - rect().center());
  QDialog::showEvent(e);
}

std::string TchapassForm::newPassword() const { return Edit1->text().toStdString(); }

void TchapassForm::BitBtn1Click() {
  if (Edit1->text() != Edit2->text()) {
    QMessageBox box(QMessageBox::Critical, ApplicationTitle(),
                    QString::fromUtf8(kPasswordsDifferText), QMessageBox::Yes, this);
    box.setObjectName(QStringLiteral("PasswordsDifferBox"));
    box.exec();
    return;
  }
  accept();
}

}  // namespace qz::admin
