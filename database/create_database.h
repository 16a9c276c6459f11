// Creating the application database: on the engine that a connection text
// names, a new database with the schema and procedures of schema.h and, when
// asked, the demo hotel of demo_data.h.
//
// Thread-safety: each call opens its own connections; calls for different
// databases may run at once.
#pragma once

#include <string>
#include <vector>

namespace qz::database {

struct CreateOptions {
  bool demo = false;   // add the demo hotel
  int demoRows = 0;    // bills of the demo hotel (0: its usual few hundred)
  bool force = false;  // replace an existing database of the same name
};

// Creates the application database named by the connection text (Initial
// Catalog) on its engine: the embedded engine's data folder, or the
// PostgreSQL server (through its maintenance database). Refuses an existing
// database unless options.force, which drops it first. When a step after the
// creation fails, the half-made database is dropped again.
// Throws std::runtime_error with a clear message (the engine's text included).
void createDatabase(const std::string& connectionText, const CreateOptions& options);

// Whether the database named by the connection text exists. Throws
// std::runtime_error when the engine cannot be reached.
bool databaseExists(const std::string& connectionText);

// The seven system.ini lines of a fresh installation: the embedded engine
// (empty server name) and the database "qz" ("qz1" stays free for the
// archive database of the clean-up).
std::vector<std::string> defaultSystemIniLines();

}  // namespace qz::database
