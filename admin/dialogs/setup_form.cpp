// The server settings dialog. Geometry follows the old form: a panel with
// the labelled fields, the buttons below it, the size computed from them.
#include "admin/dialogs/setup_form.h"

#include <QCheckBox>
#include <QEvent>
#include <QFileDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "admin/dialogs/computer_browser.h"
#include "admin/dialogs/error_display.h"
#include "settings/config.h"

namespace qz::admin {
namespace {

QLineEdit* Field(QWidget* panel, const char* caption, const char* name, int row) {
  auto* label = new QLabel(QString::fromUtf8(caption), panel);
  label->setGeometry(12, 14 + row * 30, 124, 16);
  auto* e = new QLineEdit(panel);
  e->setObjectName(name);
  e->setGeometry(140, 10 + row * 30, 240, 22);
  return e;
}

}  // namespace

TsetupForm::TsetupForm(db::Connection& conn, QWidget* parent) : QDialog(parent), conn_(conn) {
  setObjectName(QStringLiteral("setupForm"));
  setWindowTitle(QStringLiteral("数据库服务器设置"));
  panel_ = new QFrame(this);
  panel_->setFrameShape(QFrame::StyledPanel);
  panel_->setGeometry(8, 8, 392, 222);
  Edit1 = Field(panel_, "数据服务器名", "Edit1", 0);
  Edit2 = Field(panel_, "登陆用户", "Edit2", 1);
  Edit3 = Field(panel_, "登录口令", "Edit3", 2);
  Edit4 = Field(panel_, "附加的数据库名:", "Edit4", 3);
  Edit5 = Field(panel_, "数据库物理文件名:", "Edit5", 4);
  Edit6 = Field(panel_, "应用服务器名", "Edit6", 5);
  CheckBox1 = new QCheckBox(QStringLiteral("仅使用Windows NT 身份验证"), panel_);
  CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox1->setGeometry(140, 192, 240, 20);
  for (QLineEdit* e : {Edit1, Edit5, Edit6}) e->installEventFilter(this);

  BitBtn3 = new QPushButton(QStringLiteral("测试"), this);
  BitBtn3->setObjectName(QStringLiteral("BitBtn3"));
  BitBtn3->setGeometry(100, 240, 75, 25);
  BitBtn1 = new QPushButton(QStringLiteral("保存"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(200, 240, 75, 25);
  BitBtn2 = new QPushButton(QStringLiteral("取消"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(300, 240, 75, 25);
  BitBtn3->setAutoDefault(false);
  BitBtn2->setAutoDefault(false);
  BitBtn1->setDefault(true);  // Enter saves; Esc cancels (QDialog)
  connect(BitBtn3, &QPushButton::clicked, this,
          [this] { RunGuarded(this, [this] { BitBtn3Click(); }); });
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  connect(CheckBox1, &QCheckBox::toggled, this, [this](bool on) { ApplyBoxRule(on); });

  browseForComputer = [](QWidget* parent) { return BrowseForComputer(parent); };
  openDatabaseFile = [](QWidget* parent, QString* name) { return RunOpenDialog1(parent, name); };

  // Loading: lines 1 to 7, the missing-file rule, then the box rule (run
  // for the programmatic state as well, whether or not it changed).
  const ServerSettings s = LoadServerSettings(server::appDir());
  Edit1->setText(QString::fromStdString(s.server));
  Edit2->setText(QString::fromStdString(s.user));
  Edit3->setText(QString::fromStdString(s.password));
  Edit4->setText(QString::fromStdString(s.database));
  Edit5->setText(QString::fromStdString(s.databaseFile));
  Edit6->setText(QString::fromStdString(s.workstation));
  CheckBox1->setChecked(s.windowsAuthOnly);
  ApplyBoxRule(s.windowsAuthOnly);

  // Size: twice the panel's left plus its width plus 5; the panel's top
  // plus the save button's top and height plus 36.
  setFixedSize(2 * panel_->x() + panel_->width() + 5,
               panel_->y() + BitBtn1->y() + BitBtn1->height() + 36);
}

void TsetupForm::showEvent(QShowEvent* e) {
  if (QWidget* owner = parentWidget();
      owner != nullptr && owner->isVisible() && !owner->isMinimized())
    move(owner->frameGeometry().center() - rect().center());
  QDialog::showEvent(e);
}

void TsetupForm::ApplyBoxRule(bool checked) {
  for (QLineEdit* e : {Edit2, Edit3}) {
    e->setEnabled(!checked);
    QPalette p = e->palette();
    const QColor c = checked ? palette().color(QPalette::Button) : palette().color(QPalette::Base);
    p.setColor(QPalette::Base, c);
    p.setColor(QPalette::Disabled, QPalette::Base, c);
    e->setPalette(p);
  }
}

bool TsetupForm::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::MouseButtonDblClick) {
    if (watched == Edit1 || watched == Edit6) {
      auto* edit = static_cast<QLineEdit*>(watched);
      RunGuarded(this, [&] {
        // A cancelled browse gives an empty text, which empties the field.
        edit->setText(QString::fromStdString(browseForComputer(this)));
      });
      return true;
    }
    if (watched == Edit5) {
      RunGuarded(this, [&] {
        QString name;
        if (openDatabaseFile(this, &name)) Edit5->setText(name);
      });
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

ServerSettings TsetupForm::settings() const {
  ServerSettings s;
  s.server = Edit1->text().toStdString();
  s.user = Edit2->text().toStdString();
  s.password = Edit3->text().toStdString();
  s.database = Edit4->text().toStdString();
  s.databaseFile = Edit5->text().toStdString();
  s.workstation = Edit6->text().toStdString();
  s.windowsAuthOnly = CheckBox1->isChecked();
  return s;
}

bool TsetupForm::ConnectWithDialogSettings() {
  conn_.close();
  conn_.setConnectionString(ComposeSqlConnectionString(settings()));
  try {
    conn_.open();
  } catch (const std::exception& e) {
    ShowMessage(this, QString::fromStdString(e.what()));
  }
  return conn_.isOpen();
}

void TsetupForm::BitBtn3Click() {
  if (ConnectWithDialogSettings()) {
    ShowMessage(this, QStringLiteral("连接成功"));
    conn_.close();
  }
}

bool RunOpenDialog1(QWidget* parent, QString* fileName) {
  QFileDialog dlg(parent, QStringLiteral("选择数据库文件名"));
  dlg.setObjectName(QStringLiteral("OpenDialog1"));
  dlg.setOption(QFileDialog::DontUseNativeDialog);
  dlg.setFileMode(QFileDialog::ExistingFile);  // an existing path only
  dlg.setAcceptMode(QFileDialog::AcceptOpen);
  dlg.setNameFilters({QStringLiteral("Microsoft SQL Server 数据库 (*.MDF *.mdf)"),
                      QStringLiteral("所有文件 (*)")});
  dlg.setSizeGripEnabled(true);
  if (dlg.exec() != QDialog::Accepted || dlg.selectedFiles().isEmpty()) return false;
  *fileName = dlg.selectedFiles().front();
  return true;
}

void EditServerSettings(QWidget* parent, db::Connection& conn) {
  TsetupForm form(conn, parent);
  if (form.exec() != QDialog::Accepted) return;
  // The dialog is closed before the connection is tried.
  form.hide();
  if (form.ConnectWithDialogSettings()) SaveServerSettings(form.settings());
}

}  // namespace qz::admin
