// Listening sockets handed over by a service manager (socket activation).
//
// The service manager opens the listening sockets, starts the process with
// them as file descriptors 3, 4, ... and describes them in the environment:
// LISTEN_PID (the process they are meant for) and LISTEN_FDS (how many).
// Descriptors meant for another process (a parent that passed its
// environment on) are not ours and are ignored.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace qz::remote {

inline constexpr int kListenFdsStart = 3;

// The descriptors that LISTEN_PID/LISTEN_FDS describe for process `self`:
// empty when either variable is missing, LISTEN_PID names another process,
// or LISTEN_FDS is 0. Returns std::nullopt with *error set when a variable
// is present but not a number.
std::optional<std::vector<int>> parseListenFds(const char* listenPid, const char* listenFds,
                                               pid_t self, std::string* error);

// parseListenFds on this process's environment. When unsetEnvironment is
// true the variables are removed, so child processes do not take the
// descriptors for theirs. Each descriptor returned gets close-on-exec.
std::optional<std::vector<int>> listenFdsFromEnvironment(bool unsetEnvironment, std::string* error);

}  // namespace qz::remote
