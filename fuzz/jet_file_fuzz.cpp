// Fuzz target: Access (Jet 4) files as the export's connection and the
// structural checker read them. The input, padded to whole pages, is opened
// with the password its header holds (and once with a wrong one), every
// table's definition and rows are read, and the checker runs over it. Any
// failure must be a JetError; a crash, leak, hang or undefined behaviour is
// a finding.
#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/jet/bytes.h"
#include "platform/jet/checker.h"
#include "platform/jet/database.h"
#include "platform/jet/header_page.h"
#include "platform/jet/jet_error.h"

using namespace qz;

namespace {

class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("jet-fuzz", MFD_CLOEXEC)) {
    fuzz::Check(fd_ >= 0, "memfd_create");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  void Set(const uint8_t* bytes, size_t size) {
    fuzz::Check(::ftruncate(fd_, 0) == 0, "ftruncate");
    fuzz::Check(::pwrite(fd_, bytes, size, 0) == static_cast<ssize_t>(size), "pwrite");
  }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

void ReadEverything(const std::string& path, const std::string& password) {
  std::unique_ptr<jet::Database> db = jet::Database::Open(path, password, false);
  for (const jet::CatalogEntry& e : db->tables(true)) {
    try {
      const jet::TableDef& def = db->table(e.name);
      const size_t width = def.columnsInRowOrder().size();
      db->scan(e.name, [&](const std::vector<Variant>& row) {
        fuzz::Check(row.size() == width, "a row has one value per column");
        for (const Variant& v : row) (void)v.debugString();
      });
    } catch (const jet::JetError&) {
      // A damaged table: the others are still read.
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  // Whole pages, so that inserted or removed bytes still give a file the
  // reader goes into; at most 64 pages to keep each run short.
  constexpr size_t kMaxPages = 64;
  if (size == 0 || size > kMaxPages * jet::kPageSize) return 0;
  // One buffer for every run: a fresh one of up to 256 KiB each time made
  // the sanitizer's allocator map and unmap it, most of a run's time.
  static std::vector<uint8_t> bytes(kMaxPages * jet::kPageSize);
  const size_t padded = (size + jet::kPageSize - 1) / jet::kPageSize * jet::kPageSize;
  std::memcpy(bytes.data(), data, size);
  std::memset(bytes.data() + size, 0, padded - size);
  file.Set(bytes.data(), padded);

  std::string password;
  try {
    password = jet::ReadHeaderPage(bytes.data()).password;
  } catch (const jet::JetError&) {
  }
  // A database without a password opens with any; one with a password
  // refuses every other.
  try {
    jet::Database::Open(file.path(), password + "x", false);
    fuzz::Check(password.empty(), "a wrong password is refused");
  } catch (const jet::JetError& e) {
    fuzz::Check(e.code() != jet::JetErrorCode::BadPassword ||
                    std::string(e.what()) == jet::kNotAValidPassword,
                "a wrong password gets the provider's text");
  }
  try {
    ReadEverything(file.path(), password);
  } catch (const jet::JetError&) {
  }
  (void)jet::CheckDatabaseFile(file.path(), password);
  return 0;
}
