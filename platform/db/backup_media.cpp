// Backup media files: reading, verifying and writing sets; page
// differentials. See backup_media.h for the layout.
#include "platform/db/backup_media.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "platform/db/backup_crypto.h"
#include "platform/db/connection.h"

namespace qz::db::media {
namespace {

constexpr char kMediaMagic[16] = {'Q', 'Z',  'B', 'K', 'M', 'E', 'D', 'I',
                                  'A', 0x1a, 0,   0,   0,   0,   0,   0};
constexpr char kSetMagic[8] = {'Q', 'Z', 'B', 'K', 'S', 'E', 'T', 0x1a};
constexpr size_t kMediaHeaderSize = 24;
constexpr uint32_t kVersion = 1;
constexpr uint32_t kRounds = 20000;
constexpr uint32_t kMaxHeader = 1u << 16;
constexpr const char kChecksumKey[] = "qz backup set checksum";

std::string sysText(const std::string& what, const std::string& path) {
  return what + " '" + path + "': " + std::strerror(errno);
}

std::string damaged(const std::string& path, const std::string& why) {
  return "The backup media '" + path + "' is damaged (" + why +
         "). RESTORE DATABASE is terminating abnormally.";
}

// Owns a file descriptor.
struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) ::close(fd);
  }
};

void readAt(int fd, uint64_t offset, void* buf, size_t size, const std::string& path) {
  auto* p = static_cast<uint8_t*>(buf);
  while (size) {
    const ssize_t n = ::pread(fd, p, size, static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw DbError(sysText("Cannot read the backup media", path));
    }
    if (n == 0) throw DbError(damaged(path, "the file ends inside a backup set"));
    p += n;
    offset += static_cast<uint64_t>(n);
    size -= static_cast<size_t>(n);
  }
}

void writeAll(int fd, const void* buf, size_t size, const std::string& path) {
  const auto* p = static_cast<const uint8_t*>(buf);
  while (size) {
    const ssize_t n = ::write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      throw DbError(sysText("Cannot write the backup media", path));
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
}

// Little-endian writer and reader of header fields.
struct Out {
  std::vector<uint8_t> b;
  void u8(uint8_t v) { b.push_back(v); }
  void u16(uint16_t v) {
    for (int i = 0; i < 2; ++i) b.push_back(uint8_t(v >> (8 * i)));
  }
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(v >> (8 * i)));
  }
  void u64(uint64_t v) {
    for (int i = 0; i < 8; ++i) b.push_back(uint8_t(v >> (8 * i)));
  }
  void bytes(const void* p, size_t n) {
    const auto* q = static_cast<const uint8_t*>(p);
    b.insert(b.end(), q, q + n);
  }
  void text(const std::string& s) {
    const size_t n = std::min<size_t>(s.size(), 0xffff);
    u16(static_cast<uint16_t>(n));
    bytes(s.data(), n);
  }
};

struct In {
  const uint8_t* p;
  size_t n;
  size_t at = 0;
  bool ok = true;
  bool need(size_t k) {
    if (at + k > n) ok = false;
    return ok;
  }
  uint64_t uint(int bytes) {
    if (!need(static_cast<size_t>(bytes))) return 0;
    uint64_t v = 0;
    for (int i = 0; i < bytes; ++i) v |= uint64_t(p[at + i]) << (8 * i);
    at += static_cast<size_t>(bytes);
    return v;
  }
  void bytes(void* out, size_t k) {
    if (!need(k)) return;
    std::memcpy(out, p + at, k);
    at += k;
  }
  std::string text() {
    const size_t k = static_cast<size_t>(uint(2));
    if (!need(k)) return {};
    std::string s(reinterpret_cast<const char*>(p + at), k);
    at += k;
    return s;
  }
};

struct Keys {
  uint8_t enc[32];
  uint8_t mac[32];
  crypto::Digest check;
};

Keys deriveKeys(std::string_view password, const uint8_t salt[16]) {
  Keys k{};
  const std::vector<uint8_t> d = crypto::pbkdf2Sha256(password, salt, 16, kRounds, 96);
  std::memcpy(k.enc, d.data(), 32);
  std::memcpy(k.mac, d.data() + 32, 32);
  k.check = crypto::sha256(d.data() + 64, 32);
  return k;
}

struct Header {
  SetInfo info;
  uint8_t salt[16] = {};
  uint8_t nonce[12] = {};
  crypto::Digest check{};
};

std::vector<uint8_t> encodeHeader(const Header& h) {
  Out o;
  o.u32(h.info.number);
  o.u8(static_cast<uint8_t>(h.info.kind));
  o.u8(h.info.passwordProtected ? 1 : 0);
  o.u32(h.info.baseNumber);
  o.u64(static_cast<uint64_t>(h.info.createdMs));
  o.text(h.info.database);
  o.text(h.info.device);
  o.bytes(h.salt, 16);
  o.bytes(h.nonce, 12);
  o.bytes(h.check.data(), h.check.size());
  o.u64(h.info.payloadSize);
  return o.b;
}

bool decodeHeader(const std::vector<uint8_t>& b, Header* h) {
  In in{b.data(), b.size()};
  h->info.number = static_cast<uint32_t>(in.uint(4));
  const auto kind = static_cast<uint8_t>(in.uint(1));
  const auto flags = static_cast<uint8_t>(in.uint(1));
  h->info.baseNumber = static_cast<uint32_t>(in.uint(4));
  h->info.createdMs = static_cast<int64_t>(in.uint(8));
  h->info.database = in.text();
  h->info.device = in.text();
  in.bytes(h->salt, 16);
  in.bytes(h->nonce, 12);
  in.bytes(h->check.data(), h->check.size());
  h->info.payloadSize = in.uint(8);
  if (!in.ok || in.at != b.size() || kind > 1 || (flags & ~1u)) return false;
  h->info.kind = static_cast<SetKind>(kind);
  h->info.passwordProtected = flags & 1;
  return true;
}

// Reads the header of the set at offset; returns its bytes through *raw.
Header readHeaderAt(int fd, uint64_t offset, uint64_t fileSize, const std::string& path,
                    std::vector<uint8_t>* raw) {
  if (offset + 12 > fileSize) throw DbError(damaged(path, "a backup set is cut short"));
  char magic[8];
  readAt(fd, offset, magic, 8, path);
  if (std::memcmp(magic, kSetMagic, 8) != 0)
    throw DbError(damaged(path, "no backup set where one should begin"));
  uint8_t lenBytes[4];
  readAt(fd, offset + 8, lenBytes, 4, path);
  const uint32_t len = uint32_t(lenBytes[0]) | uint32_t(lenBytes[1]) << 8 |
                       uint32_t(lenBytes[2]) << 16 | uint32_t(lenBytes[3]) << 24;
  if (len > kMaxHeader || offset + 12 + len > fileSize)
    throw DbError(damaged(path, "a backup set header is cut short"));
  raw->resize(len);
  readAt(fd, offset + 12, raw->data(), len, path);
  Header h;
  if (!decodeHeader(*raw, &h)) throw DbError(damaged(path, "a backup set header is malformed"));
  h.info.headerOffset = offset;
  h.info.payloadOffset = offset + 12 + len;
  if (h.info.payloadSize > fileSize || h.info.payloadOffset + h.info.payloadSize + 32 > fileSize)
    throw DbError(damaged(path, "a backup set is cut short"));
  return h;
}

int openForReading(const std::string& path, uint64_t* size) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT)
      throw DbError("Cannot open backup device '" + path + "'. The file does not exist.");
    throw DbError(sysText("Cannot open backup device", path));
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw DbError("Cannot open backup device '" + path + "'. It is not a regular file.");
  }
  *size = static_cast<uint64_t>(st.st_size);
  return fd;
}

bool hasMediaHeader(int fd, uint64_t size, const std::string& path) {
  if (size < kMediaHeaderSize) return false;
  char head[kMediaHeaderSize];
  readAt(fd, 0, head, kMediaHeaderSize, path);
  if (std::memcmp(head, kMediaMagic, 16) != 0) return false;
  // A version this code does not know may lay its sets out differently:
  // reading them as version 1 would restore garbage.
  In in{reinterpret_cast<const uint8_t*>(head) + 16, 8};
  const uint64_t version = in.uint(4), reserved = in.uint(4);
  if (version != kVersion || reserved != 0)
    throw DbError(damaged(path, "unknown media version " + std::to_string(version)));
  return true;
}

}  // namespace

std::vector<SetInfo> readSets(const std::string& path) {
  uint64_t size = 0;
  Fd f{openForReading(path, &size)};
  if (!hasMediaHeader(f.fd, size, path))
    throw DbError("The file '" + path +
                  "' is not a backup media (or its header is damaged). "
                  "RESTORE DATABASE is terminating abnormally.");
  std::vector<SetInfo> sets;
  uint64_t offset = kMediaHeaderSize;
  std::vector<uint8_t> raw;
  while (offset < size) {
    Header h = readHeaderAt(f.fd, offset, size, path, &raw);
    if (h.info.number != sets.size() + 1)
      throw DbError(damaged(path, "the backup sets are out of order"));
    offset = h.info.payloadOffset + h.info.payloadSize + 32;
    sets.push_back(std::move(h.info));
  }
  return sets;
}

std::vector<uint8_t> readPayload(const std::string& path, const SetInfo& set,
                                 std::string_view password) {
  uint64_t size = 0;
  Fd f{openForReading(path, &size)};
  std::vector<uint8_t> raw;
  Header h = readHeaderAt(f.fd, set.headerOffset, size, path, &raw);
  Keys keys{};
  if (h.info.passwordProtected) {
    if (password.empty())
      throw DbError("Backup set " + std::to_string(h.info.number) + " on '" + path +
                    "' is protected by a password; the password must be given to restore it.");
    keys = deriveKeys(password, h.salt);
    if (!crypto::digestsEqual(keys.check, h.check))
      throw DbError("The password given for backup set " + std::to_string(h.info.number) + " on '" +
                    path + "' is not correct.");
  } else {
    const crypto::Digest d = crypto::sha256(kChecksumKey, sizeof kChecksumKey - 1);
    std::memcpy(keys.mac, d.data(), 32);
  }
  std::vector<uint8_t> payload(h.info.payloadSize);
  readAt(f.fd, h.info.payloadOffset, payload.data(), payload.size(), path);
  crypto::Digest stored{};
  readAt(f.fd, h.info.payloadOffset + h.info.payloadSize, stored.data(), 32, path);
  crypto::HmacSha256 mac(keys.mac, 32);
  mac.update(kSetMagic, 8);
  mac.update(raw.data(), raw.size());
  mac.update(payload.data(), payload.size());
  if (!crypto::digestsEqual(mac.finish(), stored))
    throw DbError(
        damaged(path, "backup set " + std::to_string(h.info.number) + " fails its checksum"));
  if (h.info.passwordProtected)
    crypto::chacha20Xor(keys.enc, h.nonce, 1, payload.data(), payload.size());
  return payload;
}

SetInfo writeSet(const std::string& path, bool overwrite, const SetInfo& info,
                 const std::vector<uint8_t>& payload, std::string_view password) {
  uint32_t number = 1;
  bool fresh = true;
  uint64_t oldSize = 0;
  if (!overwrite) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && st.st_size > 0) {
      const std::vector<SetInfo> sets = readSets(path);  // refuses a file that is no media
      number = static_cast<uint32_t>(sets.size() + 1);
      fresh = false;
      oldSize = static_cast<uint64_t>(st.st_size);
    }
  }
  Header h;
  h.info = info;
  h.info.number = number;
  h.info.passwordProtected = !password.empty();
  h.info.payloadSize = payload.size();
  if (h.info.createdMs == 0)
    h.info.createdMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::system_clock::now().time_since_epoch())
                           .count();
  std::vector<uint8_t> body = payload;
  Keys keys{};
  if (h.info.passwordProtected) {
    crypto::randomBytes(h.salt, 16);
    crypto::randomBytes(h.nonce, 12);
    keys = deriveKeys(password, h.salt);
    h.check = keys.check;
    crypto::chacha20Xor(keys.enc, h.nonce, 1, body.data(), body.size());
  } else {
    const crypto::Digest d = crypto::sha256(kChecksumKey, sizeof kChecksumKey - 1);
    std::memcpy(keys.mac, d.data(), 32);
  }
  const std::vector<uint8_t> raw = encodeHeader(h);
  crypto::HmacSha256 mac(keys.mac, 32);
  mac.update(kSetMagic, 8);
  mac.update(raw.data(), raw.size());
  mac.update(body.data(), body.size());
  const crypto::Digest tag = mac.finish();

  // A new media is written beside the target and renamed over it, so an
  // overwrite that fails keeps the old media; an append truncates back.
  const std::string target = fresh ? path + ".writing" : path;
  Fd f;
  f.fd = fresh ? ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)
               : ::open(target.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (f.fd < 0) throw DbError(sysText("Cannot open backup device", path));
  try {
    if (fresh) {
      char head[kMediaHeaderSize] = {};
      std::memcpy(head, kMediaMagic, 16);
      head[16] = static_cast<char>(kVersion);
      writeAll(f.fd, head, sizeof head, path);
    }
    writeAll(f.fd, kSetMagic, 8, path);
    const uint32_t len = static_cast<uint32_t>(raw.size());
    const uint8_t lenBytes[4] = {uint8_t(len), uint8_t(len >> 8), uint8_t(len >> 16),
                                 uint8_t(len >> 24)};
    writeAll(f.fd, lenBytes, 4, path);
    writeAll(f.fd, raw.data(), raw.size(), path);
    writeAll(f.fd, body.data(), body.size(), path);
    writeAll(f.fd, tag.data(), tag.size(), path);
    if (::fsync(f.fd) != 0) throw DbError(sysText("Cannot write the backup media", path));
    if (fresh && ::rename(target.c_str(), path.c_str()) != 0)
      throw DbError(sysText("Cannot write the backup media", path));
  } catch (...) {
    if (fresh)
      ::unlink(target.c_str());
    else if (::ftruncate(f.fd, static_cast<off_t>(oldSize)) != 0) {
      // Nothing more can be done; the reader reports the cut set.
    }
    throw;
  }
  return h.info;
}

std::vector<uint8_t> makeDifferential(const std::vector<uint8_t>& base,
                                      const std::vector<uint8_t>& current, uint32_t pageSize) {
  Out o;
  const uint32_t pages = static_cast<uint32_t>(current.size() / pageSize);
  o.u32(pageSize);
  o.u32(pages);
  o.u32(0);
  uint32_t changed = 0;
  for (uint32_t i = 0; i < pages; ++i) {
    const size_t at = size_t(i) * pageSize;
    if (at + pageSize <= base.size() &&
        std::memcmp(base.data() + at, current.data() + at, pageSize) == 0)
      continue;
    o.u32(i + 1);
    o.bytes(current.data() + at, pageSize);
    ++changed;
  }
  for (int i = 0; i < 4; ++i) o.b[8 + i] = uint8_t(changed >> (8 * i));
  return o.b;
}

std::vector<uint8_t> applyDifferential(const std::vector<uint8_t>& base,
                                       const std::vector<uint8_t>& diff) {
  In in{diff.data(), diff.size()};
  const uint32_t pageSize = static_cast<uint32_t>(in.uint(4));
  const uint32_t pages = static_cast<uint32_t>(in.uint(4));
  const uint32_t changed = static_cast<uint32_t>(in.uint(4));
  if (!in.ok || pageSize < 512 || pageSize > 65536 || changed > pages)
    throw DbError("The differential backup set is malformed.");
  // Every page past the base's end is carried in the set, so the new image
  // is at most the base plus the pages carried: a page count beyond that
  // (damaged or forged media) must not decide how much memory is taken.
  if (uint64_t(changed) * (4 + pageSize) != diff.size() - 12 ||
      pages > base.size() / pageSize + changed)
    throw DbError("The differential backup set is malformed.");
  std::vector<uint8_t> out(base);
  out.resize(size_t(pages) * pageSize);
  for (uint32_t i = 0; i < changed; ++i) {
    const uint32_t number = static_cast<uint32_t>(in.uint(4));
    if (!in.ok || number == 0 || number > pages || !in.need(pageSize))
      throw DbError("The differential backup set is malformed.");
    in.bytes(out.data() + size_t(number - 1) * pageSize, pageSize);
  }
  if (in.at != diff.size()) throw DbError("The differential backup set is malformed.");
  return out;
}

}  // namespace qz::db::media
