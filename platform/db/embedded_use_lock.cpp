// Use locks of embedded databases; see embedded_use_lock.h.
#include "platform/db/embedded_use_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/db/connection.h"

namespace qz::db {

DatabaseUseLock::~DatabaseUseLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::string DatabaseUseLock::lockFileOf(const std::string& databaseFile) {
  return databaseFile + ".use";
}

std::unique_ptr<DatabaseUseLock> DatabaseUseLock::shared(const std::string& databaseFile) {
  const int fd = ::open(lockFileOf(databaseFile).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  while (::flock(fd, LOCK_SH) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return nullptr;
    }
  }
  return std::unique_ptr<DatabaseUseLock>(new DatabaseUseLock(fd));
}

std::unique_ptr<DatabaseUseLock> DatabaseUseLock::tryExclusive(const std::string& databaseFile) {
  const std::string path = lockFileOf(databaseFile);
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) throw DbError("Cannot create the lock file '" + path + "': " + std::strerror(errno));
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<DatabaseUseLock>(new DatabaseUseLock(fd));
}

}  // namespace qz::db
