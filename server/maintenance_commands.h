// Command-line work that runs instead of the server: creating the
// application database.
#pragma once

#include "server/command_line.h"

namespace qz::server {

// --create-database [--demo] [--demo-rows N] [--force]: writes a system.ini
// for the embedded engine (database "qz") when there is none, then creates
// the database it names. Prints what it did; returns the exit status.
int runCreateDatabase(const CommandLine& cl);

// copy-database FILE [--force]: copies the data of the database that FILE
// (a system.ini) names into the one system.ini names; prints the rows per
// table. Returns the exit status: 0, or 1 with the reason on stderr.
int runCopyDatabase(const CommandLine& cl);

}  // namespace qz::server
