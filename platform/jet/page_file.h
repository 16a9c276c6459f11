// The pages of one database file, held in memory: the page cache. Changed
// pages stay marked until flush() writes them out (runs of adjacent pages
// in one call each); when they are written is the caller's choice (see
// Database).
//
// Thread-safety: one thread at a time.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/jet/bytes.h"

namespace qz::jet {

class PageFile {
 public:
  ~PageFile();
  PageFile(const PageFile&) = delete;
  PageFile& operator=(const PageFile&) = delete;

  // Opens an existing file and reads all its pages. Throws JetError(Io)
  // when it cannot be opened or read, JetError(NotJet4) when its size is
  // no whole number of pages.
  static std::unique_ptr<PageFile> Open(const std::string& path, bool writable);
  // Creates (or truncates) a file with no pages. Throws JetError(Io).
  static std::unique_ptr<PageFile> Create(const std::string& path);

  size_t pageCount() const { return pages_.size(); }
  // REQUIRES: n < pageCount(); else throws JetError(Corrupt).
  const uint8_t* page(uint32_t n) const;
  // The page, marked to be written by the next flush().
  uint8_t* mutablePage(uint32_t n);
  // Adds a zero page at the end; returns its number.
  uint32_t appendPage();
  // Writes the changed pages. Throws JetError(Io); the pages stay marked.
  void flush();
  // How many pages are changed and not yet written.
  size_t dirtyCount() const { return dirty_.size(); }
  bool writable() const { return writable_; }

 private:
  PageFile() = default;
  int fd_ = -1;
  bool writable_ = false;
  std::string path_;
  // Pages live in blocks of 2 MiB, so that a growing file costs neither one
  // allocation nor (with transparent huge pages) one page fault per page.
  static constexpr size_t kBlockPages = 512;
  struct FreeBlock {
    void operator()(uint8_t* p) const { std::free(p); }
  };
  using Block = std::unique_ptr<uint8_t[], FreeBlock>;
  static Block NewBlock(size_t bytes);
  uint8_t* newPageMemory();
  std::vector<Block> blocks_;
  size_t blockUsed_ = kBlockPages;  // pages taken from blocks_.back()
  std::vector<uint8_t*> pages_;
  std::set<uint32_t> dirty_;
};

}  // namespace qz::jet
