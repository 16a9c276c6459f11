// PgStatementCache: counting uses and naming prepared statements (see the
// header for when a text is prepared and when it is forgotten).
#include "platform/db/pg_statement_cache.h"

namespace qz::db {

PgStatementCache::Plan PgStatementCache::use(const std::string& key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) {
    // Too many texts seen once: drop the unprepared ones so a session that
    // runs endless distinct statements keeps a bounded table.
    if (entries_.size() >= kMaxTracked) {
      for (auto e = entries_.begin(); e != entries_.end();)
        e = e->second.name.empty() ? entries_.erase(e) : std::next(e);
      if (entries_.size() >= kMaxTracked) return {};
    }
    entries_.emplace(key, Entry{1, {}});
    return {};
  }
  Entry& e = it->second;
  if (!e.name.empty()) return {Plan::kPrepared, e.name};
  ++e.uses;
  if (prepared_ >= kMaxPrepared) return {};
  return {Plan::kPrepare, "qz_" + std::to_string(nextName_++)};
}

void PgStatementCache::prepared(const std::string& key, const std::string& name) {
  auto it = entries_.find(key);
  if (it == entries_.end() || !it->second.name.empty()) return;
  it->second.name = name;
  ++prepared_;
}

void PgStatementCache::forget(const std::string& key) {
  auto it = entries_.find(key);
  if (it == entries_.end()) return;
  if (!it->second.name.empty()) {
    --prepared_;
    ++forgotten_;
  }
  entries_.erase(it);
}

void PgStatementCache::forgetAll() {
  entries_.clear();
  prepared_ = 0;
  forgotten_ = 0;
}

}  // namespace qz::db
