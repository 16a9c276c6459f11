// Writing and removing the class registration in registry.ini.
#include "server/registration.h"

#include <cstring>

#include "settings/ini_file.h"

namespace qz::server {
namespace {

constexpr const char* kRoot = "HKEY_CLASSES_ROOT\\";
// The component category under which this server lists its application
// server classes.
constexpr const char* kAppServerCategory = "{6A1C3F0E-5B2D-4E7A-9C41-3D8E2F7B9A10}";

std::string typeLibKey() {
  return std::string(kRoot) + "TypeLib\\" + std::string(kTypeLibrary.libid) + "\\" +
         std::to_string(kTypeLibrary.majorVersion) + "." +
         std::to_string(kTypeLibrary.minorVersion);
}

std::string dirOf(const std::string& path) { return path.substr(0, path.rfind('/') + 1); }

IniFile loadOrThrow(const std::string& file) {
  auto ini = IniFile::load(file);
  if (!ini) throw RegistrationError("Unable to write to " + file);
  return *ini;
}

void saveOrThrow(const IniFile& ini, const std::string& file) {
  if (!ini.save(file)) throw RegistrationError("Unable to write to " + file);
}

}  // namespace

std::string classKeyPath(const ClassInfo& c) {
  return std::string(kRoot) + "CLSID\\" + std::string(c.clsid);
}

void registerServer(const std::string& registryFile, const std::string& exePath) {
  IniFile ini = loadOrThrow(registryFile);
  const std::string ver =
      std::to_string(kTypeLibrary.majorVersion) + "." + std::to_string(kTypeLibrary.minorVersion);
  const std::string libid(kTypeLibrary.libid);
  // The type library lives in the executable.
  ini.write(typeLibKey(), "@", kTypeLibrary.helpString);
  ini.write(typeLibKey() + "\\" + std::to_string(kTypeLibrary.lcid) + "\\linux", "@", exePath);
  ini.write(typeLibKey() + "\\FLAGS", "@", "0");
  ini.write(typeLibKey() + "\\HELPDIR", "@", dirOf(exePath));
  for (const ClassInfo& c : kClasses) {
    const std::string key = classKeyPath(c);
    const std::string clsid(c.clsid);
    // Standard entries of a remote data module.
    ini.write(key, "@", c.description);
    ini.write(key, "AppID", clsid);
    ini.write(key + "\\LocalServer32", "@", exePath);
    ini.write(key + "\\ProgID", "@", c.progId);
    ini.write(key + "\\TypeLib", "@", libid);
    ini.write(key + "\\Version", "@", ver);
    ini.write(key + "\\Implemented Categories\\" + kAppServerCategory, "@", "");
    ini.write(std::string(kRoot) + std::string(c.progId), "@", c.description);
    ini.write(std::string(kRoot) + std::string(c.progId) + "\\Clsid", "@", clsid);
    ini.write(std::string(kRoot) + "AppID\\" + clsid, "@", c.description);
    const std::string ifKey = std::string(kRoot) + "Interface\\" + std::string(c.iid);
    ini.write(ifKey, "@", c.interfaceName);
    ini.write(ifKey + "\\TypeLib", "@", libid);
    ini.write(ifKey + "\\TypeLib", "Version", ver);
    // Then the transports that may serve the class.
    ini.write(key, "Sockets", "1");
    ini.write(key, "Web", "1");
  }
  saveOrThrow(ini, registryFile);
}

void unregisterServer(const std::string& registryFile) {
  IniFile ini = loadOrThrow(registryFile);
  for (const ClassInfo& c : kClasses) {
    const std::string key = classKeyPath(c);
    ini.deleteKey(key, "Sockets");
    ini.deleteKey(key, "Web");
  }
  for (const ClassInfo& c : kClasses) {
    const std::string key = classKeyPath(c);
    const std::string clsid(c.clsid);
    for (const char* sub : {"\\LocalServer32", "\\ProgID", "\\TypeLib", "\\Version"})
      ini.deleteSection(key + sub);
    ini.deleteSection(key + "\\Implemented Categories\\" + kAppServerCategory);
    ini.deleteSection(key);
    ini.deleteSection(std::string(kRoot) + std::string(c.progId) + "\\Clsid");
    ini.deleteSection(std::string(kRoot) + std::string(c.progId));
    ini.deleteSection(std::string(kRoot) + "AppID\\" + clsid);
    const std::string ifKey = std::string(kRoot) + "Interface\\" + std::string(c.iid);
    ini.deleteSection(ifKey + "\\TypeLib");
    ini.deleteSection(ifKey);
  }
  ini.deleteSection(typeLibKey() + "\\" + std::to_string(kTypeLibrary.lcid) + "\\linux");
  ini.deleteSection(typeLibKey() + "\\FLAGS");
  ini.deleteSection(typeLibKey() + "\\HELPDIR");
  ini.deleteSection(typeLibKey());
  saveOrThrow(ini, registryFile);
}

namespace {

bool flagSet(const std::string& registryFile, const ClassInfo& c, const char* name) {
  auto ini = IniFile::load(registryFile);
  if (!ini) return false;
  auto v = ini->read(classKeyPath(c), name);
  return v && *v == "1";
}

}  // namespace

bool socketsEnabled(const std::string& registryFile, const ClassInfo& c) {
  return flagSet(registryFile, c, "Sockets");
}

bool webEnabled(const std::string& registryFile, const ClassInfo& c) {
  return flagSet(registryFile, c, "Web");
}

}  // namespace qz::server
