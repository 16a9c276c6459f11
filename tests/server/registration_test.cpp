// Class registration in registry.ini and its removal.
#include "server/registration.h"

#include <gtest/gtest.h>

#include "settings/ini_file.h"
#include "tests/server/temp_dir.h"

namespace qz::server {
namespace {

using qz::testing::TempDir;

TEST(RegistrationTest, RegisterWritesClassEntriesThenSocketsAndWeb) {
  TempDir d;
  const std::string file = d.file("registry.ini");
  registerServer(file, "/opt/qz/qzserver");
  auto ini = *IniFile::load(file);
  for (const ClassInfo& c : kClasses) {
    const std::string key = classKeyPath(c);
    EXPECT_EQ(ini.read(key, "@"), std::string(c.description));
    EXPECT_EQ(ini.read(key, "AppID"), std::string(c.clsid));
    EXPECT_EQ(ini.read(key + "\\LocalServer32", "@"), "/opt/qz/qzserver");
    EXPECT_EQ(ini.read(key + "\\ProgID", "@"), std::string(c.progId));
    EXPECT_EQ(ini.read(key + "\\TypeLib", "@"), "{E9B74A40-4907-41B5-94CB-E658BAF7AD7B}");
    EXPECT_EQ(ini.read("HKEY_CLASSES_ROOT\\" + std::string(c.progId) + "\\Clsid", "@"),
              std::string(c.clsid));
    // Sockets and Web come after the standard values, in this order.
    auto values = ini.sectionValues(key);
    ASSERT_GE(values.size(), 2u);
    EXPECT_EQ(values[values.size() - 2], (std::pair<std::string, std::string>{"Sockets", "1"}));
    EXPECT_EQ(values.back(), (std::pair<std::string, std::string>{"Web", "1"}));
    EXPECT_TRUE(socketsEnabled(file, c));
  }
  EXPECT_EQ(
      ini.read("HKEY_CLASSES_ROOT\\TypeLib\\{E9B74A40-4907-41B5-94CB-E658BAF7AD7B}\\1.0", "@"),
      "Project1 Library");
}

TEST(RegistrationTest, RegisteringTwiceLeavesOneSetOfEntries) {
  TempDir d;
  const std::string file = d.file("registry.ini");
  registerServer(file, "/a/qzserver");
  registerServer(file, "/b/qzserver");
  auto ini = *IniFile::load(file);
  const std::string key = classKeyPath(kClasses[1]);
  EXPECT_EQ(ini.sectionValues(key).size(), 4u);  // @, AppID, Sockets, Web
  EXPECT_EQ(ini.read(key + "\\LocalServer32", "@"), "/b/qzserver");
}

TEST(RegistrationTest, UnregisterRemovesEverythingAndKeepsOtherEntries) {
  TempDir d;
  const std::string file = d.file("registry.ini");
  d.write("registry.ini", "[HKEY_CLASSES_ROOT\\Other]\r\n@=keep me\r\n");
  registerServer(file, "/opt/qz/qzserver");
  unregisterServer(file);
  auto ini = *IniFile::load(file);
  EXPECT_EQ(ini.sectionNames(), std::vector<std::string>{"HKEY_CLASSES_ROOT\\Other"});
  for (const ClassInfo& c : kClasses) EXPECT_FALSE(socketsEnabled(file, c));
}

TEST(RegistrationTest, UnregisterWithMissingValuesIsNoError) {
  TempDir d;
  const std::string file = d.file("registry.ini");
  EXPECT_NO_THROW(unregisterServer(file));
  registerServer(file, "/x");
  auto ini = *IniFile::load(file);
  ini.deleteKey(classKeyPath(kClasses[0]), "Sockets");
  ASSERT_TRUE(ini.save(file));
  EXPECT_FALSE(socketsEnabled(file, kClasses[0]));
  EXPECT_TRUE(socketsEnabled(file, kClasses[1]));
  EXPECT_NO_THROW(unregisterServer(file));
}

}  // namespace
}  // namespace qz::server
