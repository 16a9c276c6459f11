// Serving: the three module classes offered on the socket transport. Holds
// the transport (listening sockets or the ones socket activation passed),
// the class list with each class's factory and registration check, the
// activity log that login appends to, and the background removal of old
// request keys while serving.
//
// Thread-safety: start/stop from the window thread; instanceCount from any.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/remote/remote_object.h"
#include "server/activity_log.h"
#include "server/command_line.h"
#include "server/serve_settings.h"

namespace qz::remote {
class Host;
}

namespace qz::server {

class RequestKeySweeper;

class Serving {
 public:
  Serving(const CommandLine& cl, ServeSettings settings, std::string registryFile,
          ActivityLog* log);
  ~Serving();
  Serving(const Serving&) = delete;
  Serving& operator=(const Serving&) = delete;

  // Starts accepting clients; creations and logins go through dispatcher.
  // Throws std::runtime_error when no socket can be opened or the TLS files
  // cannot be used.
  void start(remote::UiDispatcher& dispatcher);
  // Stops accepting, rolls back calls in flight, releases every instance.
  void stop();
  size_t instanceCount() const;
  // "127.0.0.1:5211, [::1]:5211" once started (actual ports), followed by
  // ", web page at http://127.0.0.1:8080/" for each web listener.
  std::string endpointsText() const;
  void setOnLastInstanceReleased(std::function<void()> fn) { onLast_ = std::move(fn); }

 private:
  const CommandLine& cl_;
  ServeSettings settings_;
  std::string registryFile_;
  ActivityLog* log_;
  std::function<void()> onLast_;
  std::unique_ptr<remote::Host> host_;
  std::unique_ptr<RequestKeySweeper> sweeper_;
};

}  // namespace qz::server
