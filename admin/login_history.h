// The history of the last ten sign-in names, kept in sysinfo.ini as
// Login/user0 (most recent) .. Login/user9.
//
// Thread-safety: window thread only (sysinfo.ini has one writer).
#pragma once

#include <string>
#include <vector>

#include "settings/sysinfo_ini.h"

namespace qz::admin {

inline constexpr int kLoginHistorySize = 10;

// The ten values user0 .. user9 in key order, each empty when missing.
std::vector<std::string> LoadLoginHistory(const server::SysInfoIni& ini);

// Moves name to user0 without duplicates. loaded is the list as it was read
// when the dialog was shown: the carried value is written to slot i, then
// loaded[i] is carried on, until loaded[i] equals name (exact comparison) or
// slot 9 is written. So a name at position k lands in user0 while positions
// 0..k-1 move down one and later slots keep their values; a new name pushes
// all ten down and the oldest drops out. Throws server::IniWriteError.
void RememberLoginName(server::SysInfoIni& ini, const std::vector<std::string>& loaded,
                       const std::string& name);

}  // namespace qz::admin
