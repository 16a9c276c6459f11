// Line I/O over a TCP socket for protocol transcripts.
#include "tests/e2e/wire_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

namespace qz::testing {

WireClient::WireClient(int port) {
  fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ADD_FAILURE() << "cannot connect to port " << port;
    ::close(fd_);
    fd_ = -1;
  }
}

WireClient::~WireClient() { close(); }

void WireClient::close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool WireClient::send(const std::string& text, bool raw) {
  std::string data = raw ? text : text + "\n";
  size_t off = 0;
  while (off < data.size()) {
    ssize_t n = ::send(fd_, data.data() + off, data.size() - off, MSG_NOSIGNAL);
    if (n <= 0) return false;
    off += static_cast<size_t>(n);
  }
  return true;
}

std::string WireClient::readLine(int timeoutMs, bool* closed) {
  if (closed) *closed = false;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  for (;;) {
    size_t lf = buf_.find('\n');
    if (lf != std::string::npos) {
      std::string line = buf_.substr(0, lf);
      buf_.erase(0, lf + 1);
      return line;
    }
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0 || fd_ < 0) return "";
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return "";
    char chunk[65536];
    ssize_t n = ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) {
      if (closed) *closed = true;
      return "";
    }
    buf_.append(chunk, static_cast<size_t>(n));
  }
}

}  // namespace qz::testing
