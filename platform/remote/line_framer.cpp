// LineFramer: splits on '\n', drops a trailing '\r', enforces the limit on
// the bytes of one line (the line feed and carriage return not counted).
#include "platform/remote/line_framer.h"

namespace qz::remote {

void LineFramer::emit(std::string&& line, std::vector<std::string>& out) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.empty()) return;
  out.push_back(std::move(line));
}

bool LineFramer::feed(std::string_view bytes, std::vector<std::string>& out) {
  if (overflowed_) return false;
  while (!bytes.empty()) {
    size_t nl = bytes.find('\n');
    std::string_view head = bytes.substr(0, nl);
    // A carriage return that ends up right before the line feed does not
    // count; allow one spare byte for it while the line is unfinished.
    size_t room = limit_ + 1 - partial_.size();
    if (head.size() > room) {
      overflowed_ = true;
      partial_.clear();
      partial_.shrink_to_fit();
      return false;
    }
    partial_.append(head);
    if (nl == std::string_view::npos) {
      // Unfinished: a full limit plus a byte that is not '\r' is too long.
      if (partial_.size() > limit_ && partial_.back() != '\r') {
        overflowed_ = true;
        partial_.clear();
        partial_.shrink_to_fit();
        return false;
      }
      return true;
    }
    size_t body = partial_.size();
    if (body > 0 && partial_.back() == '\r') --body;
    if (body > limit_) {
      overflowed_ = true;
      partial_.clear();
      partial_.shrink_to_fit();
      return false;
    }
    std::string line;
    line.swap(partial_);
    emit(std::move(line), out);
    bytes.remove_prefix(nl + 1);
  }
  return true;
}

}  // namespace qz::remote
