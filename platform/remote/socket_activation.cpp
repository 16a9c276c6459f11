// Reading LISTEN_PID / LISTEN_FDS; see socket_activation.h.
#include "platform/remote/socket_activation.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdlib>
#include <cstring>

namespace qz::remote {

namespace {

bool parseNumber(const char* text, long long* value) {
  const char* end = text + std::strlen(text);
  auto [p, ec] = std::from_chars(text, end, *value);
  return ec == std::errc() && p == end && p != text;
}

}  // namespace

std::optional<std::vector<int>> parseListenFds(const char* listenPid, const char* listenFds,
                                               pid_t self, std::string* error) {
  std::vector<int> fds;
  if (listenPid == nullptr || listenFds == nullptr) return fds;
  long long pid = 0;
  long long count = 0;
  if (!parseNumber(listenPid, &pid) || pid <= 0) {
    if (error) *error = std::string("LISTEN_PID is not a process id: ") + listenPid;
    return std::nullopt;
  }
  if (!parseNumber(listenFds, &count) || count < 0 || count > 1024) {
    if (error) *error = std::string("LISTEN_FDS is not a descriptor count: ") + listenFds;
    return std::nullopt;
  }
  if (pid != self) return fds;
  for (long long i = 0; i < count; ++i) fds.push_back(kListenFdsStart + static_cast<int>(i));
  return fds;
}

std::optional<std::vector<int>> listenFdsFromEnvironment(bool unsetEnvironment,
                                                         std::string* error) {
  auto fds = parseListenFds(std::getenv("LISTEN_PID"), std::getenv("LISTEN_FDS"), getpid(), error);
  if (unsetEnvironment) {
    unsetenv("LISTEN_PID");
    unsetenv("LISTEN_FDS");
    unsetenv("LISTEN_FDNAMES");
  }
  if (fds) {
    for (int fd : *fds) {
      int flags = fcntl(fd, F_GETFD);
      if (flags >= 0) fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
    }
  }
  return fds;
}

}  // namespace qz::remote
