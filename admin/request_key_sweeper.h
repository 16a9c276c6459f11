// RequestKeySweeper: removes recorded request keys past their age
// ([Server] RequestKeyDays of sysinfo.ini, read anew at each round) from the
// application database in the background, at start and then every interval,
// so that the table of keys stays small on a server that runs for months.
//
// A round that fails (database unreachable, being restored) writes a
// warning to the server log and is tried again at the next interval.
//
// Thread-safety: start/stop from one owner thread; the rounds run on the
// sweeper's own thread with a connection of their own.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "settings/sysinfo_ini.h"

namespace qz::server {

// RequestKeyDays from sysinfo.ini (default 7; values below 1 count as 1).
int requestKeyDays(const SysInfoIni& sysInfo);

class RequestKeySweeper {
 public:
  // connectionText composes the application database's connection text;
  // days gives the age in days at each round.
  RequestKeySweeper(std::function<std::string()> connectionText, std::function<int()> days,
                    std::chrono::milliseconds interval = std::chrono::hours(1));
  // Stops the thread.
  ~RequestKeySweeper();
  RequestKeySweeper(const RequestKeySweeper&) = delete;
  RequestKeySweeper& operator=(const RequestKeySweeper&) = delete;

  void start();
  // Ends the current wait at once and joins the thread. Never throws.
  void stop() noexcept;
  // One round on the calling thread. Returns the keys removed; throws what
  // the database throws.
  int64_t sweepOnce();

 private:
  void run();

  std::function<std::string()> connectionText_;
  std::function<int()> days_;
  std::chrono::milliseconds interval_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace qz::server
