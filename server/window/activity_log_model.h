// The rows of the activity log list (ListView1) as a Qt table model with
// the four columns "登陆时间", "操作员", "工作站", "操作内容".
//
// The model keeps its own copy of the rows: append() adds a row at the end
// and, when the list then holds 128 rows or more, removes the first one,
// so a finished append leaves at most 127 rows, as the log itself does.
//
// Thread-safety: window thread only.
#pragma once

#include <QAbstractTableModel>
#include <deque>

#include "server/activity_log.h"

namespace qz::server {

class ActivityLogModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  static constexpr int kColumnCount = 4;
  static constexpr int kRemoveAt = 128;

  // Starts with the rows the log already holds.
  explicit ActivityLogModel(const ActivityLog& log, QObject* parent = nullptr);

  // Appends entry; drops the oldest row when the list reaches 128 rows.
  void append(const ActivityEntry& entry);
  const std::deque<ActivityEntry>& rows() const { return rows_; }

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation o, int role) const override;

 private:
  std::deque<ActivityEntry> rows_;
};

}  // namespace qz::server
