// Appending to the activity log.
#include "server/activity_log.h"

#include "platform/provider/variant.h"

namespace qz::server {

void ActivityLog::append(std::string operatorName, std::string station, std::string work) {
  ActivityEntry e{DateTime::now().toSql().substr(0, 19), std::move(operatorName),
                  std::move(station), std::move(work)};
  // The new row counts before the check: with 127 rows present, the 128th
  // pushes the oldest out, so a finished append leaves at most 127.
  rows_.push_back(e);
  const bool removed = rows_.size() > kMaxRows;
  if (removed) rows_.pop_front();
  for (const auto& l : listeners_) l(removed, rows_.back());
}

}  // namespace qz::server
