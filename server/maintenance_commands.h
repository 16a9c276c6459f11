// Command-line work that runs instead of the server: creating the
// application database.
#pragma once

#include "server/command_line.h"

namespace qz::server {

// --create-database [--demo] [--demo-rows N] [--force]: writes a system.ini
// for the embedded engine (database "qz") when there is none, then creates
// the database it names. Prints what it did; returns the exit status.
int runCreateDatabase(const CommandLine& cl);

}  // namespace qz::server
