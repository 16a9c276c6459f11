// IniFile: one INI file as a list of lines, read and changed the way the
// classic profile functions do it, and saved atomically.
//
//   - "[name]" opens a section; "key=value" lines follow; lines starting
//     with ';' and anything unparseable are kept untouched.
//   - Section and key names match without regard to ASCII case; the first
//     matching section and the first matching key in it win.
//   - Values are trimmed of blanks, one pair of surrounding quotes is
//     dropped, and the result is cut at 2047 characters.
//   - Saving writes every line back with the file's own line ends (CR LF for
//     a new file), in UTF-8, to a temporary file that then replaces the
//     original by rename: a crash or a full disk never leaves half a file.
//
// Thread-safety: an IniFile is a value; one thread at a time.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qz::server {

class IniFile {
 public:
  static constexpr size_t kMaxValue = 2047;

  // Loads path. A missing file gives an empty document; a file that is not
  // valid UTF-8 is decoded as GBK. Returns nullopt when the file exists but
  // cannot be read.
  static std::optional<IniFile> load(const std::string& path);
  // The document held by the bytes of a file (GBK when not valid UTF-8).
  static IniFile parse(std::string_view bytes);

  std::optional<std::string> read(std::string_view section, std::string_view key) const;
  // Replaces the key's value in place, or adds the key at the end of its
  // section, or adds the section at the end of the file.
  void write(std::string_view section, std::string_view key, std::string_view value);
  // Removes the key. Returns whether it was present.
  bool deleteKey(std::string_view section, std::string_view key);
  // Removes the section with all its lines. Returns whether it was present.
  bool deleteSection(std::string_view section);
  std::vector<std::string> sectionNames() const;
  std::vector<std::pair<std::string, std::string>> sectionValues(std::string_view section) const;

  // Writes the document to path atomically. Returns false (errno set) on
  // failure; the previous file is then left as it was.
  bool save(const std::string& path) const;

 private:
  struct Line {
    std::string text;  // without its line end
  };
  // Index of the section header line, or -1.
  int findSection(std::string_view section) const;
  // End (exclusive) of the section starting at header index h.
  size_t sectionEnd(size_t h) const;
  int findKey(size_t header, std::string_view key) const;

  std::vector<Line> lines_;
  std::string eol_ = "\r\n";
  bool finalEol_ = true;
};

}  // namespace qz::server
