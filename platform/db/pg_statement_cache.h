// PgStatementCache: which statement texts a PostgreSQL session has prepared,
// and under which names.
//
// A text is prepared the second time it runs with parameters. The system's
// own statements (procedure calls, the resolver's inserts and updates, the
// client date update) repeat with every request, so the server parses and
// plans them once per session instead of once per call; a client's one-off
// statement is not worth the extra round trip of preparing it.
//
// Prepared statements belong to the server session: they survive rollbacks
// and vanish when the connection is reset (forgetAll). A statement whose run
// failed in a way that says its plan no longer fits the tables (a column or
// table gone, a changed result type) is forgotten; the server keeps its name
// until the session next deallocates everything (wantsDeallocateAll).
//
// Thread-safety: none; owned by one session.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

namespace qz::db {

class PgStatementCache {
 public:
  // What the session should do with a statement text.
  struct Plan {
    enum Kind { kUnnamed, kPrepare, kPrepared } kind = kUnnamed;
    std::string name;  // the statement's name for kPrepare and kPrepared
  };

  PgStatementCache() = default;
  PgStatementCache(const PgStatementCache&) = delete;
  PgStatementCache& operator=(const PgStatementCache&) = delete;

  // Counts one use of `key` (the text plus anything that changes its
  // parameter types) and says how to run it.
  Plan use(const std::string& key);

  // The session prepared `key` under plan.name (after use() said kPrepare).
  void prepared(const std::string& key, const std::string& name);

  // The prepared statement of `key` failed in a way that may come from a
  // changed table: run it unnamed next time and prepare it again later.
  void forget(const std::string& key);

  // The server session is gone or deallocated everything.
  void forgetAll();

  // True when forgotten names have piled up and the session should send
  // DEALLOCATE ALL (then call forgetAll) at its next idle moment.
  bool wantsDeallocateAll() const { return forgotten_ >= kMaxForgotten; }

  size_t preparedCount() const { return prepared_; }

 private:
  static constexpr size_t kMaxPrepared = 256;  // named statements per session
  static constexpr size_t kMaxTracked = 4096;  // texts counted but not prepared
  static constexpr size_t kMaxForgotten = 32;  // leaked names before DEALLOCATE ALL

  struct Entry {
    int uses = 0;
    std::string name;  // empty: not prepared
  };

  std::unordered_map<std::string, Entry> entries_;
  size_t prepared_ = 0;
  size_t forgotten_ = 0;
  unsigned long nextName_ = 0;
};

}  // namespace qz::db
