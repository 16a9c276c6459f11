// The activity log: one row per client login (time, operator, station,
// work), at most 127 rows -- the append that would make the 128th drops the
// oldest first.
//
// Thread-safety: owned by the window thread; append() and rows() must run
// there (login calls reach it through the window thread's blocking invoke).
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace qz::server {

struct ActivityEntry {
  std::string time;  // local date and time, "YYYY-MM-DD HH:MM:SS"
  std::string operatorName;
  std::string station;
  std::string work;
};

// The headless console line of e: time, operator, station and work joined
// by tabs, ending in a newline. Control characters and backslashes inside
// the texts are written escaped (\t, \n, \r, \\, \xHH), so a client's text
// can never start a line of its own or shift the columns.
std::string ActivityLine(const ActivityEntry& e);

class ActivityLog {
 public:
  static constexpr size_t kMaxRows = 127;

  // Listener calls after each append: (removedOldest, the new entry).
  using Listener = std::function<void(bool removedOldest, const ActivityEntry&)>;

  ActivityLog() = default;
  ActivityLog(const ActivityLog&) = delete;
  ActivityLog& operator=(const ActivityLog&) = delete;

  // Appends a row stamped with the current local time; drops the oldest row
  // when the log would otherwise hold 128. Listeners run after the change.
  void append(std::string operatorName, std::string station, std::string work);
  const std::deque<ActivityEntry>& rows() const { return rows_; }
  size_t size() const { return rows_.size(); }
  void addListener(Listener l) { listeners_.push_back(std::move(l)); }

 private:
  std::deque<ActivityEntry> rows_;
  std::vector<Listener> listeners_;
};

}  // namespace qz::server
