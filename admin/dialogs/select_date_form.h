// TselectdateForm ("选择日期范围..."): two date pickers, "从" and "至", in
// the long date format; the two dates are not compared. SelectDateRange
// shows it with a proposed range.
//
// Thread-safety: window thread only.
#pragma once

#include <QDialog>

#include "admin/maintenance_statements.h"

class QDateEdit;
class QFrame;
class QPushButton;

namespace qz::admin {

class TselectdateForm : public QDialog {
  Q_OBJECT
 public:
  explicit TselectdateForm(QWidget* owner);

  QDateEdit* wwDBDateTimePicker1;  // "从"
  QDateEdit* wwDBDateTimePicker2;  // "至"
  QPushButton* BitBtn1;            // OK
  QPushButton* BitBtn2;            // Cancel
  QFrame* Panel1;
};

// Shows the dialog with from and to; on OK writes the chosen dates back and
// returns true; on Cancel returns false and leaves both unchanged.
bool SelectDateRange(QWidget* owner, Day& from, Day& to);

}  // namespace qz::admin
