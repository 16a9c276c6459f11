// The console host: the window thread without a window. Runs an event loop
// on the calling thread, prints each activity entry as one line on standard
// output (time, operator, station, work, separated by tabs), and shuts down
// cleanly on SIGTERM or SIGINT: stop accepting, finish or roll back the
// calls in flight, release every instance.
#pragma once

#include "server/host_context.h"

namespace qz::server {

// REQUIRES: SIGTERM and SIGINT are blocked in every thread of the process
// (the start blocks them before any thread exists). Returns the exit status.
int runHeadlessHost(HostContext& ctx);

}  // namespace qz::server
