// The activity log list model.
#include "server/window/activity_log_model.h"

namespace qz::server {

ActivityLogModel::ActivityLogModel(const ActivityLog& log, QObject* parent)
    : QAbstractTableModel(parent), rows_(log.rows()) {}

void ActivityLogModel::append(const ActivityEntry& entry) {
  const int n = static_cast<int>(rows_.size());
  beginInsertRows({}, n, n);
  rows_.push_back(entry);
  endInsertRows();
  if (static_cast<int>(rows_.size()) >= kRemoveAt) {
    beginRemoveRows({}, 0, 0);
    rows_.pop_front();
    endRemoveRows();
  }
}

int ActivityLogModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ActivityLogModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumnCount;
}

QVariant ActivityLogModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid() || index.row() >= rowCount()) return {};
  const ActivityEntry& e = rows_[static_cast<size_t>(index.row())];
  switch (index.column()) {
    case 0:
      return QString::fromStdString(e.time);
    case 1:
      return QString::fromStdString(e.operatorName);
    case 2:
      return QString::fromStdString(e.station);
    case 3:
      return QString::fromStdString(e.work);
    default:
      return {};
  }
}

QVariant ActivityLogModel::headerData(int section, Qt::Orientation o, int role) const {
  if (o != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case 0:
      return QStringLiteral("登陆时间");
    case 1:
      return QStringLiteral("操作员");
    case 2:
      return QStringLiteral("工作站");
    case 3:
      return QStringLiteral("操作内容");
    default:
      return {};
  }
}

}  // namespace qz::server
