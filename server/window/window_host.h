// The host of the window thread with a display: Qt's application object,
// the main window, the tray, and the blocking invoke onto Qt's main thread.
#pragma once

#include "server/host_context.h"

namespace qz::server {

// Creates the QApplication (title "岚舟应用服务器"), the UiDispatcher, the
// main window, starts serving through ctx.startServing, runs the event
// loop until the window closes, SIGTERM or SIGINT arrives (when the start
// blocked them), or the last instance of an activated process goes away;
// then stops serving. Returns the exit status, 0.
// Throws what ctx.startServing throws.
// REQUIRES: called on the process's main thread; a display is available.
int runWindowHost(HostContext& ctx, int argc, char** argv);

}  // namespace qz::server
