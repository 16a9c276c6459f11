// What the process start hands to the host that runs the window thread:
// the headless console host (server/headless_host.h) or the window
// (server/window/window_host.h). The host owns the window thread, makes a
// UiDispatcher for it, starts serving with it, and returns the exit status
// when the process should end.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

#include "platform/remote/remote_object.h"
#include "server/activity_log.h"
#include "settings/sysinfo_ini.h"

namespace qz::server {

struct HostContext {
  SysInfoIni* sysInfo = nullptr;       // process-wide, lives until the process ends
  ActivityLog* activityLog = nullptr;  // owned by the window thread
  // Starts the transport; every instance creation and login then goes
  // through dispatcher onto the window thread. Throws on a listen failure.
  std::function<void(remote::UiDispatcher& dispatcher)> startServing;
  // Stops accepting, rolls back calls in flight and releases every instance.
  std::function<void()> stopServing;
  // Live instances (the close question asks only while there are any).
  std::function<size_t()> instanceCount;
  // Set by the transport when started by COM-style activation and the last
  // instance went away: the host should end its loop.
  std::function<void(std::function<void()> quit)> onLastInstanceReleased;
};

}  // namespace qz::server
