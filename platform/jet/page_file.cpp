// Page storage on a file descriptor.
#include "platform/jet/page_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/jet/jet_error.h"

namespace qz::jet {
namespace {

JetError IoError(const std::string& what, const std::string& path) {
  return JetError(JetErrorCode::Io, what + " '" + path + "': " + std::strerror(errno));
}

}  // namespace

PageFile::~PageFile() {
  if (fd_ >= 0) ::close(fd_);
}

std::unique_ptr<PageFile> PageFile::Open(const std::string& path, bool writable) {
  std::unique_ptr<PageFile> f(new PageFile);
  f->path_ = path;
  f->writable_ = writable;
  f->fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (f->fd_ < 0) throw IoError("Cannot open", path);
  struct stat st{};
  if (::fstat(f->fd_, &st) != 0) throw IoError("Cannot read", path);
  if (st.st_size == 0 || st.st_size % kPageSize != 0)
    throw JetError(JetErrorCode::NotJet4, "The file '" + path + "' is not a Jet database.");
  const size_t n = size_t(st.st_size) / kPageSize;
  f->pages_.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    auto buf = std::make_unique<uint8_t[]>(kPageSize);
    size_t got = 0;
    while (got < kPageSize) {
      const ssize_t r = ::pread(f->fd_, buf.get() + got, kPageSize - got, off_t(i * kPageSize + got));
      if (r < 0 && errno == EINTR) continue;
      if (r <= 0) throw IoError("Cannot read", path);
      got += size_t(r);
    }
    f->pages_.push_back(std::move(buf));
  }
  return f;
}

std::unique_ptr<PageFile> PageFile::Create(const std::string& path) {
  std::unique_ptr<PageFile> f(new PageFile);
  f->path_ = path;
  f->writable_ = true;
  f->fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (f->fd_ < 0) throw IoError("Cannot create", path);
  return f;
}

const uint8_t* PageFile::page(uint32_t n) const {
  if (n >= pages_.size())
    throw JetError(JetErrorCode::Corrupt, "A page number points past the end of the file.");
  return pages_[n].get();
}

uint8_t* PageFile::mutablePage(uint32_t n) {
  if (n >= pages_.size())
    throw JetError(JetErrorCode::Corrupt, "A page number points past the end of the file.");
  dirty_.insert(n);
  return pages_[n].get();
}

uint32_t PageFile::appendPage() {
  auto buf = std::make_unique<uint8_t[]>(kPageSize);
  std::memset(buf.get(), 0, kPageSize);
  pages_.push_back(std::move(buf));
  const auto n = uint32_t(pages_.size() - 1);
  dirty_.insert(n);
  return n;
}

void PageFile::flush() {
  if (!writable_) throw JetError(JetErrorCode::Io, "The file '" + path_ + "' is open read-only.");
  for (uint32_t n : dirty_) {
    size_t done = 0;
    while (done < kPageSize) {
      const ssize_t w = ::pwrite(fd_, pages_[n].get() + done, kPageSize - done, off_t(n) * kPageSize + off_t(done));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) throw IoError("Cannot write", path_);
      done += size_t(w);
    }
  }
  dirty_.clear();
}

}  // namespace qz::jet
