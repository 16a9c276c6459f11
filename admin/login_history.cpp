// Loading and rotating the sign-in name history.
#include "admin/login_history.h"

namespace qz::admin {

std::vector<std::string> LoadLoginHistory(const server::SysInfoIni& ini) {
  std::vector<std::string> names;
  names.reserve(kLoginHistorySize);
  for (int i = 0; i < kLoginHistorySize; ++i)
    names.push_back(ini.readString(server::ini::kLogin, server::ini::loginUserKey(i), ""));
  return names;
}

void RememberLoginName(server::SysInfoIni& ini, const std::vector<std::string>& loaded,
                       const std::string& name) {
  std::string carried = name;
  for (int i = 0; i < kLoginHistorySize; ++i) {
    ini.writeString(server::ini::kLogin, server::ini::loginUserKey(i), carried);
    // A list shorter than ten (never the case when loaded by
    // LoadLoginHistory) reads as empty entries.
    carried = static_cast<size_t>(i) < loaded.size() ? loaded[i] : std::string();
    if (carried == name) break;
  }
}

}  // namespace qz::admin
