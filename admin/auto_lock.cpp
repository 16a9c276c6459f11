// Reading the auto-lock period.
#include "admin/auto_lock.h"

#include <climits>
#include <cstdint>

namespace qz::admin {

std::optional<int> AutoLockIntervalMs(const server::SysInfoIni& ini) {
  const int minutes = ini.readInteger(server::ini::kBackUp, server::ini::kOpenTimes,
                                      server::ini::kOpenTimesDefault);
  if (minutes <= 0) return std::nullopt;
  const int64_t ms = static_cast<int64_t>(minutes) * 60 * 1000;
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

}  // namespace qz::admin
