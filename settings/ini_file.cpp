// Reading, changing and atomically saving an INI file.
#include "settings/ini_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/db/connection_string.h"
#include "settings/config.h"

namespace qz::server {
namespace {

std::string_view trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// "[name]" -> name; nullopt for other lines.
std::optional<std::string_view> sectionOf(std::string_view line) {
  std::string_view t = trim(line);
  if (t.size() < 2 || t.front() != '[') return std::nullopt;
  size_t close = t.find(']');
  if (close == std::string_view::npos) return std::nullopt;
  return trim(t.substr(1, close - 1));
}

// "key=value" -> key; nullopt for comments and other lines.
std::optional<std::string_view> keyOf(std::string_view line) {
  std::string_view t = trim(line);
  if (t.empty() || t.front() == ';' || t.front() == '[') return std::nullopt;
  size_t eq = t.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return trim(t.substr(0, eq));
}

std::string valueOf(std::string_view line) {
  std::string_view v = trim(line.substr(line.find('=') + 1));
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
    v = v.substr(1, v.size() - 2);
  if (v.size() > IniFile::kMaxValue) v = v.substr(0, IniFile::kMaxValue);
  return std::string(v);
}

bool writeAll(int fd, const std::string& data) {
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::write(fd, data.data() + off, data.size() - off);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    off += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

std::optional<IniFile> IniFile::load(const std::string& path) {
  IniFile ini;
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    if (errno == ENOENT) return ini;
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return ini;
    return std::nullopt;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return parse(ss.str());
}

IniFile IniFile::parse(std::string_view bytes) {
  IniFile ini;
  const std::string text = toUtf8FromLegacy(std::string(bytes));
  size_t firstLf = text.find('\n');
  ini.eol_ = (firstLf != std::string::npos && firstLf > 0 && text[firstLf - 1] == '\r') ? "\r\n"
             : firstLf != std::string::npos                                             ? "\n"
                                                                                        : "\r\n";
  size_t pos = 0;
  while (pos < text.size()) {
    size_t lf = text.find('\n', pos);
    size_t end = lf == std::string::npos ? text.size() : lf;
    std::string_view line(text.data() + pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    ini.lines_.push_back({std::string(line)});
    pos = lf == std::string::npos ? text.size() : lf + 1;
  }
  ini.finalEol_ = text.empty() || text.back() == '\n';
  return ini;
}

int IniFile::findSection(std::string_view section) const {
  for (size_t i = 0; i < lines_.size(); ++i) {
    auto s = sectionOf(lines_[i].text);
    if (s && EqualsNoCase(*s, section)) return static_cast<int>(i);
  }
  return -1;
}

size_t IniFile::sectionEnd(size_t h) const {
  size_t i = h + 1;
  while (i < lines_.size() && !sectionOf(lines_[i].text)) ++i;
  return i;
}

int IniFile::findKey(size_t header, std::string_view key) const {
  const size_t end = sectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    auto k = keyOf(lines_[i].text);
    if (k && EqualsNoCase(*k, key)) return static_cast<int>(i);
  }
  return -1;
}

std::optional<std::string> IniFile::read(std::string_view section, std::string_view key) const {
  int h = findSection(section);
  if (h < 0) return std::nullopt;
  int k = findKey(static_cast<size_t>(h), key);
  if (k < 0) return std::nullopt;
  return valueOf(lines_[static_cast<size_t>(k)].text);
}

void IniFile::write(std::string_view section, std::string_view key, std::string_view value) {
  std::string line = std::string(key) + "=" + std::string(value);
  int h = findSection(section);
  if (h < 0) {
    if (!lines_.empty() && !trim(lines_.back().text).empty()) lines_.push_back({""});
    lines_.push_back({"[" + std::string(section) + "]"});
    lines_.push_back({std::move(line)});
    return;
  }
  int k = findKey(static_cast<size_t>(h), key);
  if (k >= 0) {
    // Keep the key's own spelling.
    std::string_view old = lines_[static_cast<size_t>(k)].text;
    std::string_view oldKey = *keyOf(old);
    lines_[static_cast<size_t>(k)].text = std::string(oldKey) + "=" + std::string(value);
    return;
  }
  // After the last non-blank line of the section.
  size_t at = sectionEnd(static_cast<size_t>(h));
  while (at > static_cast<size_t>(h) + 1 && trim(lines_[at - 1].text).empty()) --at;
  lines_.insert(lines_.begin() + static_cast<long>(at), {std::move(line)});
}

bool IniFile::deleteKey(std::string_view section, std::string_view key) {
  int h = findSection(section);
  if (h < 0) return false;
  int k = findKey(static_cast<size_t>(h), key);
  if (k < 0) return false;
  lines_.erase(lines_.begin() + k);
  return true;
}

bool IniFile::deleteSection(std::string_view section) {
  int h = findSection(section);
  if (h < 0) return false;
  size_t end = sectionEnd(static_cast<size_t>(h));
  lines_.erase(lines_.begin() + h, lines_.begin() + static_cast<long>(end));
  return true;
}

std::vector<std::string> IniFile::sectionNames() const {
  std::vector<std::string> out;
  for (const auto& l : lines_)
    if (auto s = sectionOf(l.text)) out.emplace_back(*s);
  return out;
}

std::vector<std::pair<std::string, std::string>> IniFile::sectionValues(
    std::string_view section) const {
  std::vector<std::pair<std::string, std::string>> out;
  int h = findSection(section);
  if (h < 0) return out;
  size_t end = sectionEnd(static_cast<size_t>(h));
  for (size_t i = static_cast<size_t>(h) + 1; i < end; ++i)
    if (auto k = keyOf(lines_[i].text)) out.emplace_back(std::string(*k), valueOf(lines_[i].text));
  return out;
}

bool IniFile::save(const std::string& path) const {
  std::string data;
  for (size_t i = 0; i < lines_.size(); ++i) {
    data += lines_[i].text;
    if (i + 1 < lines_.size() || finalEol_) data += eol_;
  }
  // Keep the mode of the file being replaced (0600 stays 0600).
  mode_t mode = 0644;
  struct stat st;
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;
  std::string tmp = path + ".XXXXXX";
  int fd = ::mkstemp(tmp.data());
  if (fd < 0) return false;
  bool ok = ::fchmod(fd, mode) == 0 && writeAll(fd, data) && ::fsync(fd) == 0;
  int saved = errno;
  ok = (::close(fd) == 0) && ok;
  if (ok && ::rename(tmp.c_str(), path.c_str()) == 0) return true;
  if (ok) saved = errno;
  ::unlink(tmp.c_str());
  errno = saved;
  return false;
}

}  // namespace qz::server
