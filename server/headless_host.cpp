// The console host's loop, signal handling and activity lines.
#include "server/headless_host.h"

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <thread>

#include "platform/log/server_log.h"
#include "platform/remote/event_loop_dispatcher.h"

namespace qz::server {

int runHeadlessHost(HostContext& ctx) {
  remote::EventLoopDispatcher loop;
  ctx.activityLog->addListener([](bool, const ActivityEntry& e) {
    const std::string line = ActivityLine(e);
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
  });

  // A thread of its own takes SIGTERM and SIGINT (blocked everywhere else)
  // and asks the loop to end.
  std::atomic<bool> finished{false};
  std::thread signals([&] {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    int sig = 0;
    sigwait(&set, &sig);
    if (!finished.load()) {
      log::info(std::string(sig == SIGTERM ? "SIGTERM" : "SIGINT") + " received, shutting down");
      loop.quit();
    }
  });

  if (ctx.onLastInstanceReleased) ctx.onLastInstanceReleased([&loop] { loop.quit(); });
  int status = 0;
  try {
    ctx.startServing(loop);
    loop.run();
  } catch (const std::exception& e) {
    log::error(e.what());
    status = 1;
  }
  finished.store(true);
  pthread_kill(signals.native_handle(), SIGTERM);  // wakes sigwait if still waiting
  signals.join();
  if (ctx.stopServing) ctx.stopServing();
  return status;
}

}  // namespace qz::server
