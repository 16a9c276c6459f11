// Static files of the web transport: target to path, content types.
#include "platform/remote/web_files.h"

#include <filesystem>
#include <system_error>

namespace qz::remote {

namespace {

bool EndsWith(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

}  // namespace

std::optional<std::string> WebFilePath(const std::string& root, std::string_view target) {
  if (root.empty() || target.empty() || target[0] != '/') return std::nullopt;
  target = target.substr(0, target.find_first_of("?#"));
  // The page's files have plain names: anything escaped, any parent step
  // or backslash is refused rather than decoded.
  if (target.find_first_of("%\\") != std::string_view::npos ||
      target.find('\0') != std::string_view::npos || target.find("..") != std::string_view::npos)
    return std::nullopt;
  std::string path = root;
  if (!path.empty() && path.back() == '/') path.pop_back();
  path.append(target);
  if (path.back() == '/') path += "index.html";
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) path += "/index.html";
  if (!std::filesystem::is_regular_file(path, ec)) return std::nullopt;
  return path;
}

std::string WebContentType(std::string_view path) {
  if (EndsWith(path, ".html")) return "text/html; charset=utf-8";
  if (EndsWith(path, ".css")) return "text/css; charset=utf-8";
  if (EndsWith(path, ".js")) return "text/javascript; charset=utf-8";
  if (EndsWith(path, ".json")) return "application/json";
  if (EndsWith(path, ".png")) return "image/png";
  if (EndsWith(path, ".svg")) return "image/svg+xml";
  if (EndsWith(path, ".ico")) return "image/x-icon";
  return "application/octet-stream";
}

}  // namespace qz::remote
