// Collecting computer names from DNS-SD announcements and /etc/hosts.
#include "admin/computer_list.h"

#include <stdio.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace qz::admin {
namespace {

void AddUnique(std::vector<std::string>& names, std::string name) {
  if (name.empty()) return;
  if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
}

bool IsLocalName(const std::string& n) {
  return n == "localhost" || n.rfind("localhost.", 0) == 0 || n.rfind("ip6-", 0) == 0;
}

std::vector<std::string> SplitLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string cur;
  for (char c : text) {
    if (c == '\n') {
      lines.push_back(cur);
      cur.clear();
    } else if (c != '\r') {
      cur += c;
    }
  }
  if (!cur.empty()) lines.push_back(cur);
  return lines;
}

}  // namespace

std::vector<std::string> ParseHostsFile(std::string_view text) {
  std::vector<std::string> names;
  for (std::string line : SplitLines(text)) {
    if (auto hash = line.find('#'); hash != std::string::npos) line.resize(hash);
    std::istringstream in(line);
    std::string address, name;
    if (!(in >> address)) continue;
    while (in >> name)
      if (!IsLocalName(name)) AddUnique(names, name);
  }
  return names;
}

std::vector<std::string> ParseAvahiBrowse(std::string_view text) {
  // =;iface;protocol;name;type;domain;host;address;port;txt
  std::vector<std::string> names;
  for (const std::string& line : SplitLines(text)) {
    if (line.empty() || line[0] != '=') continue;
    std::vector<std::string> fields;
    std::string f;
    for (char c : line) {
      if (c == ';') {
        fields.push_back(f);
        f.clear();
      } else {
        f += c;
      }
    }
    fields.push_back(f);
    if (fields.size() < 7) continue;
    std::string host = fields[6];
    const std::string suffix = ".local";
    if (host.size() > suffix.size() &&
        host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0)
      host.resize(host.size() - suffix.size());
    AddUnique(names, host);
  }
  return names;
}

std::vector<std::string> ListNetworkComputers(const std::string& hostsPath) {
  std::vector<std::string> names;
  // "-t" ends after the first answers; "timeout" bounds a silent daemon.
  if (FILE* p = ::popen("timeout 3 avahi-browse -a -r -t -p 2>/dev/null", "r")) {
    std::string out;
    char buf[4096];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    ::pclose(p);
    for (auto& name : ParseAvahiBrowse(out)) AddUnique(names, name);
  }
  std::ifstream hosts(hostsPath, std::ios::binary);
  if (hosts) {
    std::stringstream ss;
    ss << hosts.rdbuf();
    for (auto& name : ParseHostsFile(ss.str())) AddUnique(names, name);
  }
  return names;
}

}  // namespace qz::admin
