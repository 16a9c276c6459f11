// The export dialog; see express_form.h.
#include "admin/dialogs/express_form.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

namespace qz::admin {
namespace {

QDate ToQDate(const std::chrono::year_month_day& d) {
  return QDate(static_cast<int>(d.year()), static_cast<int>(static_cast<unsigned>(d.month())),
               static_cast<int>(static_cast<unsigned>(d.day())));
}

std::chrono::year_month_day FromQDate(const QDate& d) {
  return {std::chrono::year(d.year()), std::chrono::month(static_cast<unsigned>(d.month())),
          std::chrono::day(static_cast<unsigned>(d.day()))};
}

QDateEdit* Picker(QWidget* parent, const char* name, int x) {
  auto* p = new QDateEdit(parent);
  p->setObjectName(QString::fromLatin1(name));
  p->setCalendarPopup(true);
  p->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));  // the short date format
  p->setGeometry(x, 72, 110, 22);
  return p;
}

}  // namespace

TexpressForm::TexpressForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("expressForm"));
  setWindowTitle(QStringLiteral("数据导入/导出"));
  auto* l1 = new QLabel(QStringLiteral("数据库物理文件名:"), this);
  l1->setGeometry(16, 16, 120, 16);
  LMDFileSaveEdit1 = new QLineEdit(this);
  LMDFileSaveEdit1->setObjectName(QStringLiteral("LMDFileSaveEdit1"));
  LMDFileSaveEdit1->setGeometry(16, 36, 250, 22);
  LMDFileSaveEdit1Browse = new QToolButton(this);
  LMDFileSaveEdit1Browse->setText(QStringLiteral("..."));
  LMDFileSaveEdit1Browse->setGeometry(268, 36, 22, 22);
  CheckBox1 = new QCheckBox(QStringLiteral("所有"), this);
  CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
  CheckBox1->setGeometry(16, 100, 80, 20);
  auto* l2 = new QLabel(QStringLiteral("数据数据时间段:"), this);
  l2->setGeometry(16, 56 + 2, 120, 14);
  DateTimePicker1 = Picker(this, "DateTimePicker1", 16);
  auto* dash = new QLabel(QStringLiteral("--"), this);
  dash->setGeometry(132, 76, 16, 14);
  DateTimePicker2 = Picker(this, "DateTimePicker2", 152);
  BitBtn1 = new QPushButton(QStringLiteral("导出"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(120, 130, 75, 25);
  BitBtn2 = new QPushButton(QStringLiteral("取消"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(210, 130, 75, 25);
  setFixedSize(306, 170);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  connect(CheckBox1, &QCheckBox::clicked, this, [this] { CheckBox1Click(); });
  connect(LMDFileSaveEdit1Browse, &QToolButton::clicked, this, [this] { browseClick(); });
}

void TexpressForm::CheckBox1Click() {
  const bool enabled = !CheckBox1->isChecked();
  DateTimePicker1->setEnabled(enabled);
  DateTimePicker2->setEnabled(enabled);
}

void TexpressForm::browseClick() {
  QFileDialog dialog(this, QString(), QStringLiteral("d:\\"),
                     QStringLiteral("Microsoft Access 数据库 (qz.mdb)"));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
    LMDFileSaveEdit1->setText(dialog.selectedFiles().front());
}

bool AskExport(QWidget* owner, ExportChoices& choices) {
  TexpressForm form(owner);
  form.LMDFileSaveEdit1->setText(QString::fromStdString(choices.file));
  form.CheckBox1->setChecked(choices.all);
  form.DateTimePicker1->setDate(ToQDate(choices.from));
  form.DateTimePicker2->setDate(ToQDate(choices.to));
  form.CheckBox1Click();
  // Centred on the desktop.
  if (QScreen* s = form.screen()) form.move(s->availableGeometry().center() - form.rect().center());
  if (form.exec() != QDialog::Accepted) return false;
  choices.file = form.LMDFileSaveEdit1->text().toStdString();
  choices.all = form.CheckBox1->isChecked();
  choices.from = FromQDate(form.DateTimePicker1->date());
  choices.to = FromQDate(form.DateTimePicker2->date());
  return true;
}

}  // namespace qz::admin
