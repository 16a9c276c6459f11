// What a remote data module needs from the process that hosts it: the
// connection text to give its connection at creation, and the activity log
// that its login call appends to.
#pragma once

#include <functional>
#include <string>

namespace qz::services {

struct ModuleEnvironment {
  // Composes the connection text at each creation (system.ini is read anew,
  // so a change of the settings reaches every instance created afterwards).
  std::function<std::string()> connectionString;
  // Appends one activity entry on the window thread and waits for it.
  // Throws when the log cannot take the row.
  std::function<void(const std::string& operatorName, const std::string& station,
                     const std::string& work)>
      addActivityEntry;
};

}  // namespace qz::services
