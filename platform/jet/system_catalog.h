// The system tables every Jet 4 database holds (MSysObjects, MSysACEs,
// MSysQueries, MSysRelationships), written for a new file the way the Jet
// engine lays them out, and the catalog rows of a new user table.
//
// The owner and access-control user ids of the rows are bytes taken from a
// Jet-made file together with its creation date (see NOTICE): they are
// masked per file in a way no public document explains, so a new file
// carries that file's date and ids.
//
// Thread-safety: as Database.
#pragma once

#include <cstdint>
#include <string>

#include "platform/core/variant.h"

namespace qz::jet {

class Database;

inline constexpr uint32_t kMSysObjectsPage = 2;

// Writes pages 0-15 of a new database into db's empty file.
void WriteSystemTables(Database& db, const std::string& password);
// Adds the MSysObjects row and the MSysACEs rows of a new user table.
void AddCatalogRows(Database& db, const std::string& name, uint32_t tdefPage, DateTime created);

}  // namespace qz::jet
