// Helpers for the tests of Jet files: where the Jet-made sample files are,
// the two independent readers (mdbtools' command-line tools and the npm
// package mdb-reader in tests/jet_readers), and values rendered the way
// mdb-json prints them so rows can be compared.
#pragma once

#include <rapidjson/document.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/variant.h"

namespace qz::testing {

// The folder of the Jet-made sample files: $QZ_JET_SAMPLES, else
// ../shared/jet-samples beside the source tree, else /work/shared/jet-samples;
// "" when none exists.
std::string JetSamplesDir();
// Whether mdb-ver, mdb-json, mdb-count and mdb-schema can run.
bool HaveMdbTools();
// Whether node and the pinned mdb-reader package are installed.
bool HaveMdbReader();

struct CommandResult {
  int status = -1;
  std::string out;
};
// Runs a shell command; standard output is captured, standard error kept.
CommandResult RunCommand(const std::string& command);
// A file name quoted for the shell.
std::string ShellQuote(const std::string& s);

// One row as mdb-json prints it: column name to value text; null columns
// are absent. Numbers are rendered by RenderNumber.
using JsonRow = std::map<std::string, std::string>;
std::vector<JsonRow> MdbJsonRows(const std::string& file, const std::string& table);
// Our value rendered like that (dates "YYYY-MM-DD HH:MM:SS", Booleans 1/0,
// numbers through RenderNumber); nullopt for Null and, as mdbtools cannot
// tell them apart, for an empty text.
std::optional<std::string> RenderLikeMdbJson(const Variant& v);
std::string RenderNumber(double d);

// mdb-reader's view of a file (see tests/jet_readers/read.mjs).
rapidjson::Document MdbReaderRead(const std::string& file, const std::string& password);

// A fresh temporary folder (removed by the caller with RemoveTree).
std::string MakeTempDir();
void RemoveTree(const std::string& dir);

}  // namespace qz::testing
