// Fuzz target: backup media files as a restore reads them (its sets, then
// each set's payload checked against its checksum), and differential
// payloads applied to a base image, which a damaged or forged file can hand
// over only past the checksum, so they are fuzzed directly too. A
// differential made between two images must take the one to the other.
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "platform/db/backup_media.h"
#include "platform/db/connection.h"

using namespace qz;

namespace {

class MemoryFile {
 public:
  MemoryFile() : fd_(::memfd_create("media-fuzz", MFD_CLOEXEC)) {
    fuzz::Check(fd_ >= 0, "memfd_create");
    path_ = "/proc/self/fd/" + std::to_string(fd_);
  }
  void Set(const uint8_t* data, size_t size) {
    fuzz::Check(::ftruncate(fd_, 0) == 0, "ftruncate");
    fuzz::Check(::pwrite(fd_, data, size, 0) == static_cast<ssize_t>(size), "pwrite");
  }
  const std::string& path() const { return path_; }

 private:
  int fd_;
  std::string path_;
};

constexpr uint32_t kPageSize = 512;

std::vector<uint8_t> BaseImage() {
  std::vector<uint8_t> image(3 * kPageSize);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7 + i / kPageSize);
  return image;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static MemoryFile file;
  static const std::vector<uint8_t> base = BaseImage();

  file.Set(data, size);
  try {
    std::vector<db::media::SetInfo> sets = db::media::readSets(file.path());
    std::vector<uint8_t> full;
    for (const db::media::SetInfo& set : sets) {
      fuzz::Check(set.payloadOffset + set.payloadSize <= size, "a set lies inside the file");
      // Only an empty password: a real one costs a key derivation per set.
      try {
        std::vector<uint8_t> payload = db::media::readPayload(file.path(), set, "");
        if (set.kind == db::media::SetKind::Full)
          full = std::move(payload);
        else
          db::media::applyDifferential(full, payload);
      } catch (const db::DbError&) {
      }
    }
  } catch (const db::DbError&) {
  }

  const std::vector<uint8_t> bytes(data, data + size);
  try {
    db::media::applyDifferential(base, bytes);
  } catch (const db::DbError&) {
  }

  // The input, padded to whole pages, as a new image of the base.
  std::vector<uint8_t> current = bytes;
  current.resize((current.size() + kPageSize - 1) / kPageSize * kPageSize);
  const std::vector<uint8_t> diff = db::media::makeDifferential(base, current, kPageSize);
  fuzz::Check(db::media::applyDifferential(base, diff) == current,
              "a differential takes the base to the new image");
  return 0;
}
