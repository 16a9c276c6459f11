// Who is using a database of the embedded engine, across connections and
// processes: every connection opened on a database holds a shared lock on
// the file "<database file>.use" for its lifetime; a restore takes the
// exclusive lock without waiting and is refused while anyone holds it.
//
// flock(2) locks belong to the open file, so two connections of one process
// conflict just like two processes do. The lock file is created on demand
// and left in place (it holds no data).
//
// Thread-safety: a lock object belongs to its owner; distinct objects may be
// used from any threads.
#pragma once

#include <memory>
#include <string>

namespace qz::db {

class DatabaseUseLock {
 public:
  ~DatabaseUseLock();
  DatabaseUseLock(const DatabaseUseLock&) = delete;
  DatabaseUseLock& operator=(const DatabaseUseLock&) = delete;

  // A shared lock, waiting while a restore holds the exclusive one. Returns
  // nullptr when the lock file cannot be created (the data folder is not
  // writable): use is then not tracked, which never blocks a connection.
  static std::unique_ptr<DatabaseUseLock> shared(const std::string& databaseFile);
  // The exclusive lock, or nullptr at once when another holder exists.
  // Throws DbError when the lock file cannot be created.
  static std::unique_ptr<DatabaseUseLock> tryExclusive(const std::string& databaseFile);

  // The lock file of a database file.
  static std::string lockFileOf(const std::string& databaseFile);

 private:
  explicit DatabaseUseLock(int fd) : fd_(fd) {}

  int fd_;
};

}  // namespace qz::db
