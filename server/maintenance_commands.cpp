// Creating the application database from the command line.
#include "server/maintenance_commands.h"

#include <sys/stat.h>

#include <array>
#include <cstdio>

#include "database/create_database.h"
#include "server/config.h"

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
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qzserver: %s\n", e.what());
    return 1;
  }
}

}  // namespace qz::server
