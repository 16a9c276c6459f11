// A structural check of a Jet 4 file, used by every test that writes one:
// the header, the global usage map, each table's usage maps against the
// pages that name the table as owner, the free-space counts of data pages,
// each table's row count against its live rows, the long-value pages, and
// every catalog row found through each catalog index (and nothing else).
//
// Thread-safety: reads the file through its own Database object.
#pragma once

#include <string>
#include <vector>

namespace qz::jet {

// The problems found, one text each; empty when the file is sound.
// A file that cannot be opened at all gives one problem (the error text).
std::vector<std::string> CheckDatabaseFile(const std::string& path, const std::string& password);

}  // namespace qz::jet
