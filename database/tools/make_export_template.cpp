// Writes the export template (qz.dat) to the path given; run by the build
// to place the template beside qzserver.
#include <cstdio>
#include <exception>

#include "database/export_template.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: qz-export-template PATH\n");
    return 2;
  }
  try {
    qz::database::writeExportTemplate(argv[1]);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "qz-export-template: %s\n", e.what());
    return 1;
  }
  return 0;
}
