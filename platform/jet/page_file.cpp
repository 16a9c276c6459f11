// Page storage on a file descriptor.
#include "platform/jet/page_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <new>

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
  struct stat st {};
  if (::fstat(f->fd_, &st) != 0) throw IoError("Cannot read", path);
  if (st.st_size == 0 || st.st_size % kPageSize != 0)
    throw JetError(JetErrorCode::NotJet4, "The file '" + path + "' is not a Jet database.");
  const size_t n = size_t(st.st_size) / kPageSize;
  // All pages in one block, read in one pass.
  f->blocks_.push_back(NewBlock(n * kPageSize));
  uint8_t* all = f->blocks_.back().get();
  size_t got = 0;
  while (got < n * kPageSize) {
    const ssize_t r = ::pread(f->fd_, all + got, n * kPageSize - got, off_t(got));
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) throw IoError("Cannot read", path);
    got += size_t(r);
  }
  f->pages_.reserve(n);
  for (size_t i = 0; i < n; ++i) f->pages_.push_back(all + i * kPageSize);
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
  return pages_[n];
}

uint8_t* PageFile::mutablePage(uint32_t n) {
  if (n >= pages_.size())
    throw JetError(JetErrorCode::Corrupt, "A page number points past the end of the file.");
  dirty_.insert(n);
  return pages_[n];
}

PageFile::Block PageFile::NewBlock(size_t bytes) {
  // Whole huge pages for a full block; a smaller file (a template, a small
  // export opened again) gets just its pages, so opening one does not cost
  // a 2 MiB allocation.
  constexpr size_t kHuge = kBlockPages * kPageSize;
  const size_t align = bytes >= kHuge ? kHuge : kPageSize;
  const size_t size = (bytes + align - 1) / align * align;
  auto* p = static_cast<uint8_t*>(std::aligned_alloc(align, size));
  if (!p) throw std::bad_alloc();
  if (align == kHuge) ::madvise(p, size, MADV_HUGEPAGE);  // a hint; else pages fault one by one
  return Block(p);
}

uint8_t* PageFile::newPageMemory() {
  if (blockUsed_ == kBlockPages) {
    blocks_.push_back(NewBlock(kBlockPages * kPageSize));
    blockUsed_ = 0;
  }
  return blocks_.back().get() + kPageSize * blockUsed_++;
}

uint32_t PageFile::appendPage() {
  uint8_t* page = newPageMemory();
  std::memset(page, 0, kPageSize);
  pages_.push_back(page);
  const auto n = uint32_t(pages_.size() - 1);
  dirty_.insert(n);
  return n;
}

void PageFile::flush() {
  if (dirty_.empty()) return;
  if (!writable_) throw JetError(JetErrorCode::Io, "The file '" + path_ + "' is open read-only.");
  // Adjacent pages (rows filling fresh pages at the end of the file) go out
  // in one call.
  std::vector<iovec> run;
  uint32_t first = 0;
  auto writeRun = [&] {
    size_t at = 0;  // bytes of the run written so far
    const size_t total = run.size() * kPageSize;
    while (at < total) {
      std::vector<iovec> rest;
      for (size_t k = at / kPageSize; k < run.size() && rest.size() < IOV_MAX; ++k) {
        const size_t skip = k == at / kPageSize ? at % kPageSize : 0;
        rest.push_back({static_cast<uint8_t*>(run[k].iov_base) + skip, kPageSize - skip});
      }
      const ssize_t w =
          ::pwritev(fd_, rest.data(), int(rest.size()), off_t(first) * kPageSize + off_t(at));
      if (w < 0 && errno == EINTR) continue;
      if (w <= 0) throw IoError("Cannot write", path_);
      at += size_t(w);
    }
    run.clear();
  };
  for (uint32_t n : dirty_) {
    if (!run.empty() && n != first + run.size()) writeRun();
    if (run.empty()) first = n;
    run.push_back({pages_[n], kPageSize});
  }
  writeRun();
  dirty_.clear();
}

}  // namespace qz::jet
