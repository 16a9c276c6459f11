// The date-range dialog; see select_date_form.h.
#include "admin/dialogs/select_date_form.h"

#include <QDateEdit>
#include <QFrame>
#include <QLabel>
#include <QPushButton>

#include "admin/dialogs/enter_as_tab.h"

namespace qz::admin {
namespace {

// Typed two-digit years fall in the hundred years from 1950.
class PickerEdit : public QDateEdit {
 public:
  explicit PickerEdit(QWidget* parent) : QDateEdit(parent) {
    setCalendarPopup(true);
    setDisplayFormat(QStringLiteral("yyyy'年'M'月'd'日'"));
    setMinimumDate(QDate(1753, 1, 1));
    // Unfinished text goes through fixup (below) instead of being dropped.
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
  }

 protected:
  // A year typed with one or two digits is completed when the field is
  // left: 00..49 -> 2000..2049, 50..99 -> 1950..1999.
  void fixup(QString& input) const override {
    const qsizetype mark = input.indexOf(QStringLiteral("年"));
    if (mark > 0) {
      bool ok = false;
      const int yy = input.left(mark).trimmed().toInt(&ok);
      if (ok && yy >= 0 && yy < 100 && input.left(mark).trimmed().size() <= 4)
        input = QString::number(yy < 50 ? 2000 + yy : 1900 + yy) + input.mid(mark);
    }
    QDateEdit::fixup(input);
  }
};

QDate ToQDate(const Day& d) {
  return QDate(static_cast<int>(d.year()), static_cast<int>(static_cast<unsigned>(d.month())),
               static_cast<int>(static_cast<unsigned>(d.day())));
}

Day FromQDate(const QDate& d) {
  return Day(std::chrono::year(d.year()), std::chrono::month(static_cast<unsigned>(d.month())),
             std::chrono::day(static_cast<unsigned>(d.day())));
}

}  // namespace

TselectdateForm::TselectdateForm(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("selectdateForm"));
  setWindowTitle(QStringLiteral("选择日期范围..."));
  Panel1 = new QFrame(this);
  Panel1->setFrameShape(QFrame::StyledPanel);
  Panel1->setGeometry(8, 8, 257, 80);
  auto* l1 = new QLabel(QStringLiteral("从"), Panel1);
  l1->setGeometry(16, 16, 20, 16);
  wwDBDateTimePicker1 = new PickerEdit(Panel1);
  wwDBDateTimePicker1->setObjectName(QStringLiteral("wwDBDateTimePicker1"));
  wwDBDateTimePicker1->setGeometry(40, 12, 201, 22);
  auto* l2 = new QLabel(QStringLiteral("至"), Panel1);
  l2->setGeometry(16, 48, 20, 16);
  wwDBDateTimePicker2 = new PickerEdit(Panel1);
  wwDBDateTimePicker2->setObjectName(QStringLiteral("wwDBDateTimePicker2"));
  wwDBDateTimePicker2->setGeometry(40, 44, 201, 22);
  BitBtn1 = new QPushButton(QStringLiteral("确定"), this);
  BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
  BitBtn1->setGeometry(54, 98, 75, 25);
  BitBtn2 = new QPushButton(QStringLiteral("取消"), this);
  BitBtn2->setObjectName(QStringLiteral("BitBtn2"));
  BitBtn2->setGeometry(146, 98, 75, 25);
  BitBtn1->setAutoDefault(false);
  BitBtn2->setAutoDefault(false);
  connect(BitBtn1, &QPushButton::clicked, this, &QDialog::accept);
  connect(BitBtn2, &QPushButton::clicked, this, &QDialog::reject);
  EnterAsTab::Install(this);
}

bool SelectDateRange(QWidget* owner, Day& from, Day& to) {
  TselectdateForm form(owner);
  // Width: the panel's left offset twice plus its width plus 6; height: the
  // OK button's top and height plus the panel's top plus 30.
  form.setFixedSize(2 * form.Panel1->x() + form.Panel1->width() + 6,
                    form.BitBtn1->y() + form.BitBtn1->height() + form.Panel1->y() + 30);
  form.wwDBDateTimePicker1->setDate(ToQDate(from));
  form.wwDBDateTimePicker2->setDate(ToQDate(to));
  if (form.exec() != QDialog::Accepted) return false;
  from = FromQDate(form.wwDBDateTimePicker1->date());
  to = FromQDate(form.wwDBDateTimePicker2->date());
  return true;
}

}  // namespace qz::admin
