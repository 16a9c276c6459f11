// LineSocket over POSIX sockets: non-blocking connect with poll for the
// timeout, then blocking I/O with poll before each read.
#include "client/line_socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <optional>
#include <stdexcept>

namespace qz::client {

namespace {

void splitHostPort(std::string_view text, std::string* host, std::string* port) {
  auto colon = text.rfind(':');
  if (colon == std::string_view::npos || colon + 1 == text.size()) {
    throw std::runtime_error("not a HOST:PORT address: " + std::string(text));
  }
  *host = std::string(text.substr(0, colon));
  *port = std::string(text.substr(colon + 1));
  if (host->size() >= 2 && host->front() == '[' && host->back() == ']') {
    *host = host->substr(1, host->size() - 2);
  }
  if (host->empty()) *host = "127.0.0.1";
}

int waitFor(int fd, short events, std::chrono::milliseconds timeout) {
  pollfd p{fd, events, 0};
  int ms = timeout.count() <= 0 ? -1 : static_cast<int>(timeout.count());
  for (;;) {
    int r = ::poll(&p, 1, ms);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

}  // namespace

LineSocket::~LineSocket() { close(); }

void LineSocket::close() {
  tls_.reset();
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffer_.clear();
  start_ = 0;
  scanned_ = 0;
  pieceEndedLine_ = false;
  inLine_ = false;
}

void LineSocket::connect(std::string_view hostPort, std::chrono::milliseconds timeout,
                         const ClientTlsOptions& tls) {
  close();
  std::string host, port;
  splitHostPort(hostPort, &host, &port);
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* list = nullptr;
  int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list);
  if (rc != 0) {
    throw std::runtime_error("cannot resolve " + std::string(hostPort) + ": " + gai_strerror(rc));
  }
  std::string lastError = "no address";
  for (addrinfo* a = list; a; a = a->ai_next) {
    int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = std::strerror(errno);
      continue;
    }
    int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int r = ::connect(fd, a->ai_addr, a->ai_addrlen);
    if (r != 0 && errno == EINPROGRESS) {
      int w = waitFor(fd, POLLOUT, timeout);
      if (w == 0) {
        lastError = "timed out";
        ::close(fd);
        continue;
      }
      int err = 0;
      socklen_t len = sizeof err;
      getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
      r = err == 0 ? 0 : -1;
      errno = err;
    }
    if (r != 0) {
      lastError = std::strerror(errno);
      ::close(fd);
      continue;
    }
    fcntl(fd, F_SETFL, flags);
    int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    fd_ = fd;
    break;
  }
  ::freeaddrinfo(list);
  if (fd_ < 0) {
    throw std::runtime_error("cannot connect to " + std::string(hostPort) + ": " + lastError);
  }
  if (tls.enabled) {
    try {
      tls_ = std::make_unique<TlsChannel>(fd_, tls, host, timeout);
    } catch (...) {
      close();
      throw;
    }
  }
}

void LineSocket::send(std::string_view bytes) {
  if (fd_ < 0) throw std::runtime_error("not connected");
  if (tls_) {
    tls_->send(bytes);
    return;
  }
  while (!bytes.empty()) {
    ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw std::runtime_error(std::string("send failed: ") + std::strerror(errno));
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

void LineSocket::shutdownWrite() {
  if (fd_ >= 0) ::shutdown(fd_, SHUT_WR);
}

std::optional<std::string> LineSocket::readLine(std::chrono::milliseconds timeout) {
  std::string line;
  if (!readLineInto(&line, timeout)) return std::nullopt;
  return line;
}

size_t LineSocket::receiveChunk(std::chrono::milliseconds timeout) {
  if (!chunk_) chunk_.reset(new char[kChunk]);
  if (tls_) return tls_->receive(chunk_.get(), kChunk, timeout);
  // Bytes already there are taken at once; the wait (with its timeout)
  // comes only when there are none.
  bool waited = false;
  for (;;) {
    if (waited) {
      int w = waitFor(fd_, POLLIN, timeout);
      if (w == 0) throw ReadTimeout();
      if (w < 0) throw std::runtime_error(std::string("poll failed: ") + std::strerror(errno));
    }
    ssize_t n = ::recv(fd_, chunk_.get(), kChunk, waited ? 0 : MSG_DONTWAIT);
    if (n >= 0) return static_cast<size_t>(n);
    if (errno == EINTR) continue;
    if ((errno == EAGAIN || errno == EWOULDBLOCK) && !waited) {
      waited = true;
      continue;
    }
    throw std::runtime_error(std::string("receive failed: ") + std::strerror(errno));
  }
}

bool LineSocket::receive(std::chrono::milliseconds timeout) {
  if (start_ > 0) {
    buffer_.erase(0, start_);
    start_ = 0;
  }
  const size_t n = receiveChunk(timeout);
  buffer_.append(chunk_.get(), n);
  return n > 0;
}

bool LineSocket::readLineInto(std::string* line, std::chrono::milliseconds timeout) {
  if (fd_ < 0) throw std::runtime_error("not connected");
  for (;;) {
    size_t nl = buffer_.find('\n', start_ + scanned_);
    if (nl != std::string::npos) {
      size_t end = nl;
      if (end > start_ && buffer_[end - 1] == '\r') --end;
      if (start_ == 0 && nl + 1 == buffer_.size()) {
        // The usual case: the buffer holds exactly one line. It is handed
        // over, and the line's old memory becomes the buffer.
        line->swap(buffer_);
        line->resize(end);
        buffer_.clear();
      } else {
        line->assign(buffer_, start_, end - start_);
        start_ = nl + 1;
      }
      scanned_ = 0;
      return true;
    }
    scanned_ = buffer_.size() - start_;
    if (!receive(timeout)) return false;
  }
}

bool LineSocket::nextLinePiece(const char** begin, const char** end,
                               std::chrono::milliseconds timeout) {
  if (fd_ < 0) throw std::runtime_error("not connected");
  if (pieceEndedLine_) {
    pieceEndedLine_ = false;
    return false;
  }
  // The answer for a piece of len bytes at p: true (a piece of the line),
  // false (the line has ended), or none (nothing yet: receive more).
  auto handOut = [&](const char* p, size_t len, bool endsLine) -> std::optional<bool> {
    if (len > 0) {
      pieceEndedLine_ = endsLine;
      inLine_ = !endsLine;
      *begin = p;
      *end = p + len;
      return true;
    }
    if (endsLine) {
      inLine_ = false;
      return false;
    }
    return std::nullopt;
  };
  for (;;) {
    if (start_ < buffer_.size()) {
      const char* p = buffer_.data() + start_;
      const size_t avail = buffer_.size() - start_;
      const void* nl = std::memchr(p, '\n', avail);
      const size_t len = nl ? static_cast<size_t>(static_cast<const char*>(nl) - p) : avail;
      start_ += nl ? len + 1 : len;
      scanned_ = 0;
      if (auto answer = handOut(p, len, nl != nullptr)) return *answer;
    }
    // Nothing buffered: the bytes received are handed out from where they
    // were received, and only what follows the line is kept.
    buffer_.clear();
    start_ = 0;
    const size_t n = receiveChunk(timeout);
    if (n == 0) {
      throw std::runtime_error(inLine_ ? "the server closed the connection in the middle of a line"
                                       : "the server closed the connection");
    }
    const char* p = chunk_.get();
    const void* nl = std::memchr(p, '\n', n);
    const size_t len = nl ? static_cast<size_t>(static_cast<const char*>(nl) - p) : n;
    if (nl) buffer_.assign(p + len + 1, n - len - 1);
    if (auto answer = handOut(p, len, nl != nullptr)) return *answer;
  }
}

}  // namespace qz::client
