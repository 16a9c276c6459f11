// The background removal of old request keys.
#include "admin/request_key_sweeper.h"

#include "platform/db/connection.h"
#include "platform/db/request_keys.h"
#include "platform/log/server_log.h"

namespace qz::server {

int requestKeyDays(const SysInfoIni& sysInfo) {
  const int days =
      sysInfo.readInteger(ini::kServer, ini::kRequestKeyDays, ini::kRequestKeyDaysDefault);
  return days < 1 ? 1 : days;
}

RequestKeySweeper::RequestKeySweeper(std::function<std::string()> connectionText,
                                     std::function<int()> days, std::chrono::milliseconds interval)
    : connectionText_(std::move(connectionText)), days_(std::move(days)), interval_(interval) {}

RequestKeySweeper::~RequestKeySweeper() { stop(); }

void RequestKeySweeper::start() {
  if (thread_.joinable()) return;
  stopping_ = false;
  thread_ = std::thread([this] { run(); });
}

void RequestKeySweeper::stop() noexcept {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
}

int64_t RequestKeySweeper::sweepOnce() {
  db::Connection conn;
  conn.setConnectionString(connectionText_());
  conn.open();
  return db::removeRequestKeysOlderThan(conn, days_());
}

void RequestKeySweeper::run() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    try {
      const int64_t removed = sweepOnce();
      if (removed > 0) log::info("request keys: removed " + std::to_string(removed) + " old keys");
    } catch (const std::exception& e) {
      log::warning(std::string("request keys: removing old keys failed: ") + e.what());
    }
    lock.lock();
    wake_.wait_for(lock, interval_, [this] { return stopping_; });
  }
}

}  // namespace qz::server
