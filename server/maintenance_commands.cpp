// Creating the application database from the command line.
#include "server/maintenance_commands.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <stdexcept>

#include "database/copy_database.h"
#include "database/create_database.h"
#include "database/export_template.h"
#include "platform/db/connection.h"
#include "settings/config.h"

namespace qz::server {

int runCreateDatabase(const CommandLine& cl) {
  try {
    const std::string systemIni = appDir() + "system.ini";
    struct stat st;
    if (::stat(systemIni.c_str(), &st) != 0) {
      // A fresh installation: the embedded engine and the database "qz".
      auto lines = database::defaultSystemIniLines();
      std::array<std::string, 7> seven;
      for (size_t i = 0; i < seven.size() && i < lines.size(); ++i) seven[i] = lines[i];
      WriteSystemIni(seven);
      std::printf("wrote %s for the embedded engine\n", systemIni.c_str());
    }
    database::CreateOptions opt;
    opt.demo = cl.demo;
    opt.demoRows = cl.demoRows;
    opt.force = cl.force;
    const std::string name = ReadSystemIniLine(4);
    database::createDatabase(BuildSqlConnectionString(), opt);
    std::printf("created database %s%s\n", name.c_str(), cl.demo ? " with demo data" : "");
    // The export needs its template in the app folder; one already there
    // is the operator's own and stays.
    const std::string templatePath = appDir() + database::kExportTemplateName;
    if (::stat(templatePath.c_str(), &st) != 0) {
      database::writeExportTemplate(templatePath);
      std::printf("wrote the export template %s\n", templatePath.c_str());
    }
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qzserver: %s\n", e.what());
    return 1;
  }
}

int runCopyDatabase(const CommandLine& cl) {
  try {
    struct stat st;
    if (::stat(cl.copyFrom.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      throw std::runtime_error("copy-database: cannot read " + cl.copyFrom);
    db::Connection from, to;
    from.setConnectionString(BuildSqlConnectionString(cl.copyFrom));
    to.setConnectionString(BuildSqlConnectionString());
    // Large tables take their time; no statement limit.
    from.setCommandTimeout(0);
    to.setCommandTimeout(0);
    int64_t total = 0;
    for (const auto& [table, rows] : database::copyDatabase(from, to, cl.force)) {
      std::printf("%s: %lld rows\n", table.c_str(), static_cast<long long>(rows));
      total += rows;
    }
    std::printf("copied %lld rows into database %s\n", static_cast<long long>(total),
                ReadSystemIniLine(4).c_str());
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qzserver: %s\n", e.what());
    return 1;
  }
}

}  // namespace qz::server
