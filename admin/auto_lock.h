// The auto-lock's period: BackUp/OpenTimes minutes from sysinfo.ini.
#pragma once

#include <optional>

#include "settings/sysinfo_ini.h"

namespace qz::admin {

inline constexpr const char* kAutoLockStartCaption = "开启";
inline constexpr const char* kAutoLockStopCaption = "停止";

// The timer interval in milliseconds (OpenTimes x 60000; a value that is
// not an integer counts as 3), or nullopt when the timer must never fire:
// 0 or a negative number of minutes. A period beyond the timer's range
// (about 24 days) is cut to that range.
std::optional<int> AutoLockIntervalMs(const server::SysInfoIni& ini);

}  // namespace qz::admin
