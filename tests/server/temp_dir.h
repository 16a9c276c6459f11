// A temporary folder for one test, removed with everything in it.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

namespace qz::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "qz-test-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
    path_ += '/';
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  // The folder with a trailing '/'.
  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + name; }
  void write(const std::string& name, const std::string& bytes) const {
    std::ofstream(file(name), std::ios::binary) << bytes;
  }
  std::string read(const std::string& name) const {
    std::ifstream in(file(name), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string path_;
};

}  // namespace qz::testing
