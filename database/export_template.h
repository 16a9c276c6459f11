// The export template "qz.dat": the Access file the export copies and then
// fills. Five empty tables whose column orders are the ones the export's
// statements address (material, client, MAccount, maccitems, Mgathering),
// with types derived from the source columns of the application database
// so every value fits without loss (texts as long as their source). The
// file is password-protected with the export's password and written the
// same way on every run: the same bytes for the same schema.
//
// Thread-safety: reentrant.
#pragma once

#include <string>
#include <vector>

#include "platform/jet/database.h"

namespace qz::database {

inline constexpr const char* kExportTemplateName = "qz.dat";
inline constexpr const char* kExportPassword = "6391";

struct ExportTable {
  std::string name;                      // as the export's statements write it
  std::vector<jet::ColumnSpec> columns;  // in the file's column order
};

// The five tables of the template.
const std::vector<ExportTable>& exportTemplateTables();

// Writes the template to path (replacing a file there). Written beside
// the target first and renamed into place, so a failure leaves no
// half-written template. Throws jet::JetError.
void writeExportTemplate(const std::string& path);

}  // namespace qz::database
