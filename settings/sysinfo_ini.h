// SysInfoIni: the process-wide settings file "sysinfo.ini" beside the
// executable, with the semantics of the classic profile functions:
//   - every read goes to the file at the moment of use, every write changes
//     the file at once (nothing is cached);
//   - section and key names match without regard to case;
//   - values are trimmed and cut at 2047 characters;
//   - a missing file, section or key gives the read's default;
//   - integers are decimal or hexadecimal with 0x, 0X or $; anything else
//     reads as the default.
// A file that is not valid UTF-8 is read as GBK (written by the old system);
// writes are UTF-8. A write keeps every other section, key, comment and the
// file's line ends, and replaces the file atomically (temporary file and
// rename), so a crash never leaves half a file.
//
// Thread-safety: the object holds only its path; calls may come from any
// thread, but two writers at once are the caller's concern (all writers run
// on the window thread).
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace qz::server {

// Raised when sysinfo.ini cannot be written: "Unable to write to <file>".
class IniWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class SysInfoIni {
 public:
  explicit SysInfoIni(std::string path) : path_(std::move(path)) {}
  SysInfoIni(const SysInfoIni&) = delete;
  SysInfoIni& operator=(const SysInfoIni&) = delete;

  const std::string& fileName() const { return path_; }

  std::string readString(std::string_view section, std::string_view key,
                         std::string_view defaultValue) const;
  int readInteger(std::string_view section, std::string_view key, int defaultValue) const;
  // Throws IniWriteError on failure; the old file then stays whole.
  void writeString(std::string_view section, std::string_view key, std::string_view value);
  void writeInteger(std::string_view section, std::string_view key, int value);

 private:
  std::string path_;
};

// The catalogue of keys: sections, keys and defaults, in one place.
namespace ini {
inline constexpr std::string_view kLogin = "Login";  // user0 .. user9
inline constexpr std::string_view kConsts = "Consts";
inline constexpr std::string_view kSystemName = "systemname";
inline constexpr std::string_view kSystemNameDefault = "岚舟软件";
inline constexpr std::string_view kGatheringObj = "GatheringObj";
inline constexpr std::string_view kGatheringObjDefault = "系统管理";
inline constexpr std::string_view kBackUp = "BackUp";
inline constexpr std::string_view kBeforeDays = "BeforeDays";
inline constexpr int kBeforeDaysDefault = 60;
inline constexpr std::string_view kBackupFileName = "BackupFileName";
inline constexpr std::string_view kBackupFileNameDefault = "qz1";
inline constexpr std::string_view kDatabase = "Database";
inline constexpr std::string_view kDatabaseDefault = "qz1";
inline constexpr std::string_view kOpenTimes = "OpenTimes";
inline constexpr int kOpenTimesDefault = 3;
// How clients are admitted and the server log; see serve_settings.h.
inline constexpr std::string_view kServer = "Server";
inline constexpr std::string_view kTlsCert = "TlsCert";
inline constexpr std::string_view kTlsKey = "TlsKey";
inline constexpr std::string_view kTlsClientCa = "TlsClientCA";
inline constexpr std::string_view kAllow = "Allow";
inline constexpr std::string_view kMaxConnections = "MaxConnections";
inline constexpr std::string_view kHandshakeTimeout = "HandshakeTimeout";
inline constexpr std::string_view kLogLevel = "LogLevel";
inline constexpr std::string_view kSlowRequest = "SlowRequest";
// [Server] RequestKeyDays: how many days recorded request keys are kept.
inline constexpr std::string_view kRequestKeyDays = "RequestKeyDays";
inline constexpr int kRequestKeyDaysDefault = 7;
inline constexpr std::string_view kListenWeb = "ListenWeb";
inline constexpr std::string_view kWebOrigin = "WebOrigin";
inline constexpr std::string_view kWebRoot = "WebRoot";
// "user0" .. "user9".
std::string loginUserKey(int index);
}  // namespace ini

}  // namespace qz::server
