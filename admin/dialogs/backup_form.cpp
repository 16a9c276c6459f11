// The backup and restore dialogs; see backup_form.h. Geometry follows the
// old forms: a panel with the fields, the buttons below it, and the size
// computed from them when the dialog is shown.
#include "admin/dialogs/backup_form.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QVBoxLayout>

#include "admin/dialogs/enter_as_tab.h"
#include "admin/dialogs/file_open_edit.h"

namespace qz::admin {
namespace {

QPushButton* Button(QWidget* parent, const char* text, const char* name, const QRect& r) {
  auto* b = new QPushButton(QString::fromUtf8(text), parent);
  b->setObjectName(QString::fromLatin1(name));
  b->setGeometry(r);
  b->setAutoDefault(false);
  return b;
}

QGroupBox* RadioGroup(QWidget* parent, const char* caption, const char* name, const char* item0,
                      const char* item1, QButtonGroup** group, const QRect& r) {
  auto* box = new QGroupBox(QString::fromUtf8(caption), parent);
  box->setObjectName(QString::fromLatin1(name));
  box->setGeometry(r);
  auto* layout = new QVBoxLayout(box);
  *group = new QButtonGroup(box);
  int id = 0;
  for (const char* item : {item0, item1}) {
    auto* radio = new QRadioButton(QString::fromUtf8(item), box);
    radio->setObjectName(QString::fromLatin1(name) + QString::number(id));
    layout->addWidget(radio);
    (*group)->addButton(radio, id++);
  }
  (*group)->button(0)->setChecked(true);
  return box;
}

void CentreOnDesktop(QWidget* w) {
  if (QScreen* s = QGuiApplication::primaryScreen())
    w->move(s->availableGeometry().center() - w->rect().center());
}

}  // namespace

TBackUpForm::TBackUpForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("BackUpForm"));
  setWindowTitle(QStringLiteral("备份数据库"));
  panel_ = new QFrame(this);
  panel_->setFrameShape(QFrame::StyledPanel);
  panel_->setGeometry(8, 8, 329, 210);
  auto label = [this](const char* text, int y) {
    auto* l = new QLabel(QString::fromUtf8(text), panel_);
    l->setGeometry(12, y, 40, 16);
  };
  label("名称", 16);
  Edit1 = new QLineEdit(panel_);
  Edit1->setObjectName(QStringLiteral("Edit1"));
  Edit1->setGeometry(56, 12, 257, 22);
  label("目的", 46);
  LMDFileOpenEdit1 = new FileOpenEdit(panel_);
  LMDFileOpenEdit1->setObjectName(QStringLiteral("LMDFileOpenEdit1"));
  LMDFileOpenEdit1->setGeometry(56, 42, 257, 22);
  label("口令", 76);
  MaskEdit1 = new QLineEdit(panel_);
  MaskEdit1->setObjectName(QStringLiteral("MaskEdit1"));
  MaskEdit1->setGeometry(56, 72, 257, 22);
  MaskEdit1->setEchoMode(QLineEdit::Password);
  MaskEdit1->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // '*'
  RadioGroup1 = RadioGroup(panel_, " 备份 ", "RadioGroup1", "数据库-完全", "数据库-差异", &kind_,
                           QRect(12, 104, 146, 92));
  RadioGroup2 = RadioGroup(panel_, " 重写 ", "RadioGroup2", "追加到现有媒体", "重写现有媒体",
                           &media_, QRect(167, 104, 146, 92));
  BitBtn1 = Button(this, "确定", "BitBtn1", QRect(88, 228, 75, 25));
  BitBtn2 = Button(this, "取消", "BitBtn2", QRect(184, 228, 75, 25));
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  EnterAsTab::Install(this);
}

void TBackUpForm::setChoices(const BackupChoices& c) {
  Edit1->setText(QString::fromStdString(c.deviceName));
  LMDFileOpenEdit1->setText(QString::fromStdString(c.path));
  MaskEdit1->setText(QString::fromStdString(c.password));
  kind_->button(c.kind == 1 ? 1 : 0)->setChecked(true);
  media_->button(c.media == 1 ? 1 : 0)->setChecked(true);
}

BackupChoices TBackUpForm::choices() const {
  BackupChoices c;
  c.deviceName = Edit1->text().toStdString();
  c.path = LMDFileOpenEdit1->text().toStdString();
  c.password = MaskEdit1->text().toStdString();
  c.kind = kind_->checkedId() == 1 ? 1 : 0;
  c.media = media_->checkedId() == 1 ? 1 : 0;
  return c;
}

void TBackUpForm::showEvent(QShowEvent* e) {
  // FormShow: twice the panel's left plus its width plus 5; the panel's top
  // plus the OK button's top and height plus 36.
  setFixedSize(2 * panel_->x() + panel_->width() + 5,
               panel_->y() + BitBtn1->y() + BitBtn1->height() + 36);
  CentreOnDesktop(this);
  QDialog::showEvent(e);
}

void TBackUpForm::BitBtn1Click() {
  if (LMDFileOpenEdit1->text().isEmpty() || Edit1->text().isEmpty()) return;
  accept();
}

TrestoreForm::TrestoreForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("restoreForm"));
  setWindowTitle(QStringLiteral("restoreForm"));
  panel_ = new QFrame(this);
  panel_->setFrameShape(QFrame::StyledPanel);
  panel_->setGeometry(8, 8, 329, 48);
  auto* l = new QLabel(QStringLiteral("源文件"), panel_);
  l->setGeometry(12, 16, 48, 16);
  LMDFileOpenEdit1 = new FileOpenEdit(panel_);
  LMDFileOpenEdit1->setObjectName(QStringLiteral("LMDFileOpenEdit1"));
  LMDFileOpenEdit1->setGeometry(64, 12, 249, 22);
  BitBtn1 = Button(this, "确定", "BitBtn1", QRect(88, 66, 75, 25));
  BitBtn2 = Button(this, "取消", "BitBtn2", QRect(184, 66, 75, 25));
  connect(BitBtn1, &QPushButton::clicked, this, [this] { BitBtn1Click(); });
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  EnterAsTab::Install(this);
}

void TrestoreForm::showEvent(QShowEvent* e) {
  setFixedSize(2 * panel_->x() + panel_->width() + 5,
               panel_->y() + BitBtn1->y() + BitBtn1->height() + 36);
  CentreOnDesktop(this);
  QDialog::showEvent(e);
}

void TrestoreForm::BitBtn1Click() {
  if (LMDFileOpenEdit1->text().isEmpty()) return;
  accept();
}

}  // namespace qz::admin
