// Lingering: a thread that has just done its work stays awake for a moment
// before it sleeps.
//
// A client posting one request after another sends the next one, and a
// module thread hands back the next answer, within a few hundred
// microseconds. Putting the waiting thread to sleep and waking it again
// costs more than many a request's own work: on a virtual machine an idle
// CPU halts, and waking a thread there is an interrupt through the host. So
// a thread that has just worked first watches for more, yielding its CPU at
// every turn: a runnable thread there is never held back (and the pause
// instruction of a plain spin would make a virtual CPU exit to the host).
// Alone on one CPU there is nothing to gain, and nothing lingers. An idle
// server does not spin: lingering follows work and ends after its time.
#pragma once

#include <sched.h>

#include <chrono>
#include <thread>

namespace qz::remote {

// How long a module thread watches for its next request after an answer.
inline constexpr std::chrono::microseconds kModuleLinger{100};
// How long an I/O thread keeps polling after its last handler: long enough
// for a module thread to compose a small answer, so that the I/O thread
// writes it (TLS) and reads the next request without sleeping in between.
inline constexpr std::chrono::microseconds kIoLinger{300};

// True when another CPU may run what a lingering thread waits for.
inline bool lingerPays() {
  static const bool many = std::thread::hardware_concurrency() > 1;
  return many;
}

// Yields the CPU until done() returns true or the time is up; returns
// done()'s last answer.
template <class Done>
bool lingerUntil(std::chrono::microseconds linger, Done done) {
  if (!lingerPays()) return done();
  const auto until = std::chrono::steady_clock::now() + linger;
  for (;;) {
    if (done()) return true;
    if (std::chrono::steady_clock::now() >= until) return false;
    sched_yield();
  }
}

// Runs io like io.run() (until it is stopped or out of work; a handler's
// exception leaves through here), except that after each handler the
// thread keeps polling for ready handlers for up to kIoLinger before it
// blocks again.
template <class IoContext>
void runLingering(IoContext& io) {
  if (!lingerPays()) {
    io.run();
    return;
  }
  while (io.run_one() != 0) {
    while (lingerUntil(kIoLinger, [&] { return io.stopped() || io.poll_one() != 0; }))
      if (io.stopped()) return;
  }
}

}  // namespace qz::remote
