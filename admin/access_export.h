// The export to an Access file behind the hidden "数据导出" entry
// (ToolButton7Click -> ExportToAccess) and the "数据导入" entry
// (ToolButton6Click -> ConnectImportFile), and `qzserver export`.
//
// ExportToAccess, in order:
//  1. asks TexpressForm (MaintenanceUi::askExport); Cancel ends it;
//  2. closes the Jet connection ADOC2, checks the template "qz.dat" in the
//     app folder (each of the five tables present and without an index
//     the Jet file library does not maintain: else it refuses before
//     writing anything), creates the chosen file empty and copies the
//     template into it (a copy that fails half-way is removed; a target
//     created before the template failed to open stays empty);
//  3. ConnectExportFile; when that fails, "文件建立失败." and the end;
//  4. the five steps, each reading its source table through ADOQuery1:
//     materials and clients by literal inserts, account headers (within the
//     period, its last day whole, unless "所有"), account items and
//     receipts/payments by parameterised inserts, each row's earlier copy
//     in the file deleted first (headers by num, items by iinum,
//     receipts/payments by inum);
//  5. hides the progress band. No message at the end.
// Errors of steps 2 and 4 propagate to the caller (the window's standard
// error display; the command line's exit status) and the rows written so
// far stay in the file: every statement on it takes effect on its own.
//
// Text values of the literal inserts are written with their quotes doubled,
// so a name holding ' is exported as it is.
//
// Thread-safety: window thread only (or the command line's one thread).
#pragma once

#include <string>

#include "admin/maintenance_functions.h"
#include "platform/db/connection.h"

namespace qz::admin {

// The export file's connection text for path.
std::string ExportConnectionText(const std::string& path);

class AccessExport {
 public:
  // Borrows everything; all must outlive this object. appDir ends in '/'.
  AccessExport(db::Connection& ADOC1, db::Query& ADOQuery1, db::Connection& ADOC2,
               std::string appDir, MaintenanceUi& ui)
      : ADOC1_(ADOC1), ADOQuery1_(ADOQuery1), ADOC2_(ADOC2), appDir_(std::move(appDir)), ui_(ui) {}

  // Returns Cancelled (dialog cancelled), Failed (the file could not be
  // connected: the message was shown) or Done. Throws on other errors.
  Outcome ExportToAccess();
  // Points ADOC2 at path and opens it; an error's text is shown in a box
  // with the application title. Returns whether ADOC2 is open.
  bool ConnectExportFile(const std::string& path);
  // Asks TexpressForm and, on OK, connects the chosen file. Nothing else.
  void ConnectImportFile();

 private:
  void prepareFile(const std::string& path);
  void literalStep(const char* band, int position, const char* source, bool material);
  void parameterStep(const char* band, const std::string& source, const std::string& insertHead,
                     const std::string& insertValues, const std::string& deleteSql,
                     const char* keyColumn);

  db::Connection& ADOC1_;
  db::Query& ADOQuery1_;
  db::Connection& ADOC2_;
  std::string appDir_;
  MaintenanceUi& ui_;
  int maximum_ = 100;
};

}  // namespace qz::admin
