// Appending to the activity log.
#include "server/activity_log.h"

#include "platform/core/variant.h"

namespace qz::server {

namespace {

void appendEscaped(std::string& out, const std::string& text) {
  static constexpr char kHex[] = "0123456789abcdef";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += ch;
        }
    }
  }
}

}  // namespace

std::string ActivityLine(const ActivityEntry& e) {
  std::string line = e.time;
  for (const std::string* text : {&e.operatorName, &e.station, &e.work}) {
    line += '\t';
    appendEscaped(line, *text);
  }
  line += '\n';
  return line;
}

void ActivityLog::append(std::string operatorName, std::string station, std::string work) {
  ActivityEntry e{DateTime::now().toSql().substr(0, 19), std::move(operatorName),
                  std::move(station), std::move(work)};
  // The new row counts before the check: with 127 rows present, the 128th
  // pushes the oldest out, so a finished append leaves at most 127.
  rows_.push_back(e);
  const bool removed = rows_.size() > kMaxRows;
  if (removed) rows_.pop_front();
  for (const auto& l : listeners_) l(removed, rows_.back());
}

}  // namespace qz::server
