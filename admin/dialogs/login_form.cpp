// The sign-in dialog. Geometry follows the old form: fixed positions, and
// the size computed from the name label, the name field and the sign-in
// button.
#include "admin/dialogs/login_form.h"

#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QTimer>

#include "admin/dialogs/app_title.h"
#include "admin/dialogs/chapass_form.h"
#include "admin/dialogs/enter_as_tab.h"
#include "admin/dialogs/error_display.h"
#include "admin/login_history.h"
#include "admin/sign_in.h"

namespace qz::admin {
namespace {
constexpr int kHintMs = 1200;
}

TloginForm::TloginForm(server::SysInfoIni& ini, db::Connection& conn, db::Query& query,
                       std::function<void()> unlock, QWidget* parent)
    : QDialog(parent), ini_(ini), conn_(conn), query_(query), unlock_(std::move(unlock)) {
  setObjectName(QStringLiteral("loginForm"));
  // No system menu or close box, always on top.
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowStaysOnTopHint);

  Label1 = new QLabel(QStringLiteral("登陆名称"), this);
  Label1->setGeometry(16, 20, 60, 16);
  edit1 = new QComboBox(this);
  edit1->setObjectName(QStringLiteral("edit1"));
  edit1->setEditable(true);
  edit1->setInsertPolicy(QComboBox::NoInsert);
  edit1->setGeometry(80, 16, 160, 22);
  Label2 = new QLabel(QStringLiteral("登陆口令"), this);
  Label2->setGeometry(16, 52, 60, 16);
  Edit2 = new QLineEdit(this);
  Edit2->setObjectName(QStringLiteral("Edit2"));
  Edit2->setEchoMode(QLineEdit::Password);
  Edit2->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // '*'
  Edit2->setGeometry(80, 48, 160, 22);
  CheckBox1 = new QCheckBox(QStringLiteral("修改口令"), this);
  CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox1->setGeometry(80, 78, 120, 20);
  BitBtn1 = new QPushButton(QStringLiteral("登陆"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(80, 106, 75, 25);
  BitBtn2 = new QPushButton(QStringLiteral("取消"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(165, 106, 75, 25);
  BitBtn1->setAutoDefault(false);
  BitBtn2->setAutoDefault(false);
  connect(BitBtn1, &QPushButton::clicked, this,
          [this] { RunGuarded(this, [this] { BitBtn1Click(); }); });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);

  // The shaped hint: a tooltip-coloured rounded label above everything.
  msgHint_ = new QLabel(nullptr);
  msgHint_->setObjectName(QStringLiteral("msgHint"));
  msgHint_->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
  msgHint_->setStyleSheet(
      QStringLiteral("QLabel { background: #ffffe1; color: black; border: 1px solid #808080;"
                     " border-radius: 6px; padding: 6px; }"));
  connect(this, &QObject::destroyed, msgHint_, &QObject::deleteLater);

  // 1. Size: the name label's left + the name field's left and width + 15;
  //    the label's top + the sign-in button's top and height + 26.
  setFixedSize(Label1->x() + edit1->x() + edit1->width() + 15,
               Label1->y() + BitBtn1->y() + BitBtn1->height() + 26);
  // 2. Caption and application title from the configured system name.
  const std::string name = ini_.readString(server::ini::kConsts, server::ini::kSystemName,
                                           server::ini::kSystemNameDefault);
  setWindowTitle(QStringLiteral("登陆[") + QString::fromStdString(name) + QStringLiteral("]"));
  SetApplicationTitle(QString::fromStdString(name));
  // 3. and 4. The ten names of the history, the first selected.
  loaded_ = LoadLoginHistory(ini_);
  edit1->clear();
  for (const auto& n : loaded_) edit1->addItem(QString::fromStdString(n));
  edit1->setCurrentIndex(0);
  // 5. Enter moves on like Tab.
  EnterAsTab::Install(this);
}

void TloginForm::showEvent(QShowEvent* e) {
  // Centred on the desktop.
  if (QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
  QDialog::showEvent(e);
}

bool TloginForm::hintVisible() const { return msgHint_->isVisible(); }
QString TloginForm::hintText() const { return msgHint_->text(); }

void TloginForm::ShowFailureHint() {
  msgHint_->setText(QString::fromUtf8(kSignInFailedHint));
  msgHint_->adjustSize();
  hintAnchor_ = edit1->mapToGlobal(edit1->rect().center());
  msgHint_->move(hintAnchor_ - QPoint(msgHint_->width() / 2, msgHint_->height() / 2));
  msgHint_->show();
  msgHint_->raise();
  // The hint stays while the event loop keeps running, then closes.
  QEventLoop loop;
  QTimer::singleShot(kHintMs, &loop, &QEventLoop::quit);
  loop.exec();
  msgHint_->hide();
}

void TloginForm::BitBtn1Click() {
  const std::string mark = ini_.readString(server::ini::kConsts, server::ini::kGatheringObj,
                                           server::ini::kGatheringObjDefault);
  const std::string name = edit1->currentText().toStdString();
  const std::string password = Edit2->text().toStdString();
  bool ok = false;
  try {
    ok = CheckAdminSignIn(conn_, query_, name, password, mark);
  } catch (const std::exception& e) {
    // The error is shown and the dialog closes as not signed in.
    ShowStandardError(this, e.what());
    reject();
    return;
  }
  if (!ok) {
    ShowFailureHint();
    edit1->setFocus(Qt::OtherFocusReason);
    return;
  }
  RememberLoginName(ini_, loaded_, name);
  setResult(QDialog::Accepted);
  if (unlock_) unlock_();
  if (CheckBox1->isChecked()) RunPasswordChange(name, mark);
  accept();
}

void TloginForm::RunPasswordChange(const std::string& name, const std::string& mark) {
  TchapassForm form(this);
  if (form.exec() != QDialog::Accepted) return;
  try {
    ChangeAdminPassword(conn_, query_, form.newPassword(), name, mark);
  } catch (const std::exception&) {
    // The sign-in stands; only the password stays as it was.
    ShowMessage(this, QString::fromUtf8(kPasswordNotChangedText));
  }
}

void ShowLoginDialog(QWidget* parent, server::SysInfoIni& ini, db::Connection& conn,
                     db::Query& query, const std::function<void()>& unlock) {
  TloginForm form(ini, conn, query, unlock, parent);
  form.exec();
}

}  // namespace qz::admin
