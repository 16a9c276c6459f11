// The maintenance subcommands of qzserver (backup, restore, cleanup rooms|
// sales, empty-database): the administrator functions of the window, run
// from the command line for cron and hosts without a display. They send the
// same statements on a main SQL connection of their own and print the same
// answers on standard output; what the window would ask comes from the
// options.
#pragma once

#include "server/command_line.h"

namespace qz::server {

// Runs cl.maintenance. REQUIRES: AppDir and the data folder are set and the
// embedded engine's maintenance procedures are registered. Returns the exit
// status: 0 done, 1 failed (the reason on standard error, or for the
// clean-ups the database's answer on standard output), 2 bad options.
int runMaintenance(const CommandLine& cl);

}  // namespace qz::server
