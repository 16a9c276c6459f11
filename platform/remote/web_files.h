// Static files of the web transport: which file of the site folder a
// request's target names, and its content type.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace qz::remote {

// The file under root that target ("/", "/app.js?x=1") names: "/" and
// folders name their index.html. nullopt when the target leaves root
// ("..", backslashes, NUL, percent escapes of them) or names no regular
// file.
std::optional<std::string> WebFilePath(const std::string& root, std::string_view target);

// "text/html; charset=utf-8" and so on by the file's extension;
// "application/octet-stream" for others.
std::string WebContentType(std::string_view path);

}  // namespace qz::remote
