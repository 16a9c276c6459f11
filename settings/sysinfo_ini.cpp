// SysInfoIni: read-through and write-through access to sysinfo.ini.
#include "settings/sysinfo_ini.h"

#include <cerrno>
#include <charconv>

#include "settings/ini_file.h"

namespace qz::server {
namespace {

// Decimal, or hexadecimal after 0x, 0X or $, with an optional sign.
bool parseProfileInteger(std::string_view s, int* out) {
  bool neg = false;
  if (!s.empty() && (s.front() == '-' || s.front() == '+')) {
    neg = s.front() == '-';
    s.remove_prefix(1);
  }
  int base = 10;
  if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    base = 16;
    s.remove_prefix(2);
  } else if (s.size() > 1 && s[0] == '$') {
    base = 16;
    s.remove_prefix(1);
  }
  if (s.empty()) return false;
  long long v = 0;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v, base);
  if (ec != std::errc() || p != s.data() + s.size()) return false;
  if (neg) v = -v;
  // Hexadecimal texts up to 32 bits wrap like the platform's integer parse.
  if (base == 16 && v > INT32_MAX && v <= UINT32_MAX)
    v = static_cast<int32_t>(static_cast<uint32_t>(v));
  if (v < INT32_MIN || v > INT32_MAX) return false;
  *out = static_cast<int>(v);
  return true;
}

}  // namespace

namespace ini {
std::string loginUserKey(int index) { return "user" + std::to_string(index); }
}  // namespace ini

std::string SysInfoIni::readString(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const {
  auto file = IniFile::load(path_);
  if (!file) return std::string(defaultValue);
  auto v = file->read(section, key);
  return v ? *v : std::string(defaultValue);
}

int SysInfoIni::readInteger(std::string_view section, std::string_view key,
                            int defaultValue) const {
  std::string text = readString(section, key, "");
  int v;
  return parseProfileInteger(text, &v) ? v : defaultValue;
}

void SysInfoIni::writeString(std::string_view section, std::string_view key,
                             std::string_view value) {
  auto file = IniFile::load(path_);
  if (!file) throw IniWriteError("Unable to write to " + path_);
  file->write(section, key, value);
  if (!file->save(path_)) throw IniWriteError("Unable to write to " + path_);
}

void SysInfoIni::writeInteger(std::string_view section, std::string_view key, int value) {
  writeString(section, key, std::to_string(value));
}

}  // namespace qz::server
