// AppDir, the line files and the two connection texts.
#include "settings/config.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/db/connection_string.h"

namespace qz::server {
namespace {
std::string gAppDir;  // process-wide; set once at start
}

const std::string& appDir() { return gAppDir; }

void setAppDir(std::string dir) {
  if (!dir.empty() && dir.back() != '/') dir += '/';
  gAppDir = std::move(dir);
}

std::string executableDir() {
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "./";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1);
}

InstalledLayout installedLayout(const std::string& exeDir) {
  static const std::string kBin = "/usr/bin/";
  InstalledLayout l;
  if (exeDir.size() >= kBin.size() &&
      exeDir.compare(exeDir.size() - kBin.size(), kBin.size(), kBin) == 0) {
    l.installed = true;
    l.root = exeDir.substr(0, exeDir.size() - kBin.size()) + "/";
  }
  return l;
}

std::string defaultAppDir() {
  const std::string exe = executableDir();
  const InstalledLayout l = installedLayout(exe);
  return l.installed ? l.root + "var/lib/qzserver/" : exe;
}

std::string sharedFilesDir() {
  const std::string exe = executableDir();
  const InstalledLayout l = installedLayout(exe);
  return l.installed ? l.root + "usr/share/qzserver/" : exe;
}

std::string ReadFileLine(const std::string& path, int n) {
  std::string result;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return result;  // a missing file reads as empty
  if (n < 1) return result;
  std::ifstream in(path, std::ios::binary);
  if (S_ISDIR(st.st_mode)) throw std::runtime_error("Cannot read " + path + ": it is a folder");
  if (!in) throw std::runtime_error("Cannot read " + path + ": " + std::strerror(errno));
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) throw std::runtime_error("Cannot read " + path + ": " + std::strerror(errno));
  const std::string text = toUtf8FromLegacy(ss.str());
  size_t pos = 0;
  for (int line = 1; line <= n; ++line) {
    if (pos >= text.size()) return std::string();  // past the last line
    size_t lf = text.find('\n', pos);
    size_t end = lf == std::string::npos ? text.size() : lf;
    if (line == n) {
      result.clear();
      for (size_t i = pos; i < end; ++i)
        if (text[i] != '\r') result += text[i];  // CR LF and lone CRs alike
      return result;
    }
    pos = lf == std::string::npos ? text.size() : lf + 1;
  }
  return result;
}

std::string ReadSystemIniLine(unsigned short n) { return ReadFileLine(appDir() + "system.ini", n); }

std::string ReadExpressIniLine(unsigned short n) {
  return ReadFileLine(appDir() + "express.ini", n);
}

void WriteSystemIni(const std::array<std::string, 7>& lines) {
  const std::string path = appDir() + "system.ini";
  std::string data;
  for (const auto& l : lines) data += l + "\r\n";
  // Owner only, unless the file being replaced was shared with its group for
  // writing: an installed server shares its app folder with the operators'
  // group, and a rewrite by either side must leave the other its access.
  mode_t mode = 0600;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWGRP)) mode |= st.st_mode & 0060;
  std::string tmp = path + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());  // created with mode 0600
  if (fd < 0) throw std::runtime_error("Unable to write to " + path);
  size_t off = 0;
  bool ok = true;
  while (ok && off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n < 0 && errno == EINTR) continue;
    ok = n > 0;
    if (ok) off += static_cast<size_t>(n);
  }
  ok = ok && ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
    ::unlink(tmp.c_str());
    throw std::runtime_error("Unable to write to " + path);
  }
}

std::string BuildSqlConnectionString() { return BuildSqlConnectionString(appDir() + "system.ini"); }

std::string BuildSqlConnectionString(const std::string& systemIniPath) {
  auto line = [&](int n) { return ReadFileLine(systemIniPath, n); };
  std::string s = "Provider=SQLOLEDB.1;";
  if (line(7) == "SSPI") s += "Integrated Security=SSPI;";
  s += "Persist Security Info=False;";
  s += "User ID=" + db::ConnectionTextValue(line(2)) + ";";
  s += "Password=" + db::ConnectionTextValue(line(3)) + ";";
  s += "Initial Catalog=" + db::ConnectionTextValue(line(4)) + ";";
  s += "Data Source=" + db::ConnectionTextValue(line(1)) + ";";
  s += "Use Procedure for Prepare=1;";
  s += "Auto Translate=True;";
  s += "Packet Size=4096;";
  s += "Workstation ID=" + db::ConnectionTextValue(line(6)) + ";";
  s += "Initial File Name=" + db::ConnectionTextValue(line(5)) + ";";
  s += "Use Encryption for Data=False";
  return s;
}

std::string ModuleConnectionString() {
  static constexpr const char* kHolds =
      " It should hold seven lines: 1 the database server (empty for the embedded engine), "
      "2 the user, 3 the password, 4 the database name, 5 the database file (may be empty), "
      "6 the workstation, 7 SSPI for integrated security (may be empty).";
  const std::string path = appDir() + "system.ini";
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0)
    throw std::runtime_error("The server settings file " + path + " is missing (" +
                             std::strerror(errno) + ")." + kHolds);
  if (!S_ISREG(st.st_mode))
    throw std::runtime_error("The server settings file " + path + " is not a file." + kHolds);
  try {
    return BuildSqlConnectionString();
  } catch (const std::runtime_error& e) {
    throw std::runtime_error(std::string(e.what()) + "." + kHolds);
  }
}

std::string BuildAccessConnectionString() {
  return "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + ReadExpressIniLine(1) +
         ";Persist Security Info=False;Jet OLEDB:Database Password=" + ReadExpressIniLine(2);
}

}  // namespace qz::server
