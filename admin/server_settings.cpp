// Loading, composing and writing the server settings.
#include "admin/server_settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>

#include "platform/db/connection_string.h"
#include "settings/config.h"

namespace qz::admin {
namespace {

bool FileExists(const std::string& path) {
  struct stat st;
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

}  // namespace

std::string DefaultDatabaseFile(const std::string& appDir) {
  // Walk back 7 UTF-8 characters from the end.
  size_t end = appDir.size();
  for (int n = 0; n < 7 && end > 0; ++n) {
    --end;
    while (end > 0 && (static_cast<unsigned char>(appDir[end]) & 0xC0) == 0x80) --end;
  }
  return appDir.substr(0, end) + "qz.mdf";
}

ServerSettings LoadServerSettings(const std::string& appDir) {
  ServerSettings s;
  s.server = server::ReadSystemIniLine(1);
  s.user = server::ReadSystemIniLine(2);
  s.password = server::ReadSystemIniLine(3);
  s.database = server::ReadSystemIniLine(4);
  s.databaseFile = server::ReadSystemIniLine(5);
  s.workstation = server::ReadSystemIniLine(6);
  s.windowsAuthOnly = server::ReadSystemIniLine(7) == "SSPI";
  if (!FileExists(s.databaseFile)) {
    s.databaseFile = DefaultDatabaseFile(appDir);
    s.windowsAuthOnly = false;
  }
  return s;
}

std::string ComposeSqlConnectionString(const ServerSettings& s) {
  std::string t = "Provider=SQLOLEDB.1;";
  if (s.windowsAuthOnly) t += "Integrated Security=SSPI;";
  t += "Persist Security Info=False;";
  t += "User ID=" + db::ConnectionTextValue(s.user) + ";";
  t += "Password=" + db::ConnectionTextValue(s.password) + ";";
  t += "Initial Catalog=" + db::ConnectionTextValue(s.database) + ";";
  t += "Data Source=" + db::ConnectionTextValue(s.server) + ";";
  t += "Use Procedure for Prepare=1;";
  t += "Auto Translate=True;";
  t += "Packet Size=4096;";
  t += "Workstation ID=" + db::ConnectionTextValue(s.workstation) + ";";
  t += "Initial File Name=" + db::ConnectionTextValue(s.databaseFile) + ";";
  t += "Use Encryption for Data=False";
  return t;
}

std::array<std::string, 7> SystemIniLines(const ServerSettings& s) {
  return {s.server,
          s.user,
          s.password,
          s.database,
          s.databaseFile,
          s.workstation,
          s.windowsAuthOnly ? "SSPI" : ""};
}

void SaveServerSettings(const ServerSettings& s) {
  const std::string path = server::appDir() + "system.ini";
  // A file the operator made read-only stays protected: replacing it by
  // rename would ignore its mode.
  // The mode bits are checked rather than access(), which lets root write.
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0)
    throw std::runtime_error("Unable to write to " + path + ": the file is read-only");
  server::WriteSystemIni(SystemIniLines(s));
}

}  // namespace qz::admin
