// docs/providers.md is the page generated from the catalogue: the test
// fails when they differ, and writes the page again with QZ_WRITE_DOCS=1.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "services/catalog_page.h"

namespace qz::services {
namespace {

TEST(CataloguePageTest, DocsProvidersMdIsTheGeneratedPage) {
  const std::string path = std::string(QZ_SOURCE_DIR) + "/docs/providers.md";
  const std::string page = ProviderCataloguePage();
  if (std::getenv("QZ_WRITE_DOCS")) {
    std::ofstream(path, std::ios::binary) << page;
  }
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_TRUE(text.str() == page)
      << path << " differs from the catalogue; write it again with\n"
      << "  QZ_WRITE_DOCS=1 build/tests/qz_services_tests --gtest_filter='CataloguePage*'";
}

}  // namespace
}  // namespace qz::services
