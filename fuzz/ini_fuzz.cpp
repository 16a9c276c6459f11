// Fuzz target: the settings files as the server reads them: sysinfo.ini
// through IniFile (UTF-8 or GBK), and the line files system.ini and
// express.ini through the line rule. A value written must read back, and
// the line rule must hand out lines without line ends.
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "settings/config.h"
#include "settings/ini_file.h"

using namespace qz;

namespace {

// A file in memory whose path the line rule can open.
class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("ini-fuzz", MFD_CLOEXEC)) {
    fuzz::Check(fd_ >= 0, "memfd_create");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  void Set(std::string_view bytes) {
    fuzz::Check(::ftruncate(fd_, 0) == 0, "ftruncate");
    fuzz::Check(::pwrite(fd_, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size()),
                "pwrite");
  }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view bytes(reinterpret_cast<const char*>(data), size);

  server::IniFile ini = server::IniFile::parse(bytes);
  for (const std::string& section : ini.sectionNames()) {
    for (const auto& [key, value] : ini.sectionValues(section)) {
      std::optional<std::string> read = ini.read(section, key);
      fuzz::Check(read.has_value(), "a listed key reads");
      fuzz::Check(read->size() <= server::IniFile::kMaxValue, "values are cut at the limit");
    }
  }
  ini.write("BackUp", "BeforeDays", "30");
  fuzz::Check(ini.read("backup", "beforedays") == "30", "a written value reads back");
  ini.write("Fuzz", "Key", "v");
  fuzz::Check(ini.read("FUZZ", "key") == "v", "a value written to a new section reads back");
  fuzz::Check(ini.deleteKey("Fuzz", "Key"), "a written key can be deleted");
  // The input may hold more sections of that name; each goes in turn.
  int sections = 0;
  while (ini.deleteSection("Fuzz")) fuzz::Check(++sections < 100000, "sections run out");
  fuzz::Check(!ini.read("Fuzz", "Key"), "a deleted section is gone");

  static MemoryFile file;
  file.Set(bytes);
  // One line per input (each read opens the file): which one, the input
  // decides, from before the first line to past the last of system.ini.
  const std::string line = server::ReadFileLine(file.path(), static_cast<int>(size % 9));
  fuzz::Check(line.find('\n') == std::string::npos, "a line holds no line feed");
  return 0;
}
