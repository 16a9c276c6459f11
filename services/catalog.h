// The provider catalogue of the three remote data modules as data: each
// module's datasets and providers, one declaration per provider, exactly as
// clients know them (names, statement lines, parameters with their types,
// sizes and design values, details, the client-statement option).
//
// The modules build their providers from these declarations; nothing else
// in the server names a statement or a parameter of the catalogue.
#pragma once

#include <string>
#include <vector>

#include "platform/core/types.h"

namespace qz::services {

enum class DatasetKind { Query, Table, StoredProc };

struct ParamSpec {
  std::string name;
  db::FieldType type = db::FieldType::String;
  int size = 0;
  int precision = 0;
  db::ParamDirection direction = db::ParamDirection::Input;
  bool nullable = false;
  bool isSigned = false;
  Variant designValue;  // what the parameter holds until a client sets it
};

// A detail query linked to its master: its parameter takes the master's
// field of the same name for each master row.
struct DetailSpec {
  std::string dataset;             // "billitems": also the nested table's name
  std::vector<std::string> lines;  // statement lines
  ParamSpec param;                 // "num" or "go_num"
};

struct DatasetSpec {
  std::string name;  // component name of the dataset
  DatasetKind kind = DatasetKind::Query;
  std::vector<std::string> lines;  // Query: statement lines (may be none)
  std::string object;              // Table: table name; StoredProc: "name;1"
  std::vector<ParamSpec> params;
  std::vector<DetailSpec> details;
  int commandTimeout = 30;
};

struct ProviderSpec {
  std::string name;  // what clients pass as the provider name
  DatasetSpec dataset;
  bool allowCommandText = true;
};

struct ModuleCatalog {
  std::string moduleName;             // "top_dm1"
  int connectionCommandTimeout = 30;  // of the module's connection ADOC
  int connectionTimeout = 15;
  std::vector<ProviderSpec> providers;   // published, in declaration order
  std::vector<DatasetSpec> unpublished;  // used only by the module's rules
};

const ModuleCatalog& top_dm1Catalog();
const ModuleCatalog& top_dm2Catalog();
const ModuleCatalog& gzModuleCatalog();

}  // namespace qz::services
