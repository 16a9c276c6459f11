// Class registration in <AppDir>registry.ini, whose sections are registry
// key paths ("HKEY_CLASSES_ROOT\CLSID\{...}") and whose "@" key is a key's
// default value.
//
// Registering writes, for each class of the class table, the standard
// entries (class id with description and AppID, local server, ProgID, type
// library, version, application-server category, ProgID key, AppID key, the
// interface) and the type library, then the values "Sockets"="1" and
// "Web"="1" under the class id. Removal deletes "Sockets", then "Web", then
// the standard entries; whatever is missing is no error.
//
// Thread-safety: call from one thread; the file is read at each call.
#pragma once

#include <stdexcept>
#include <string>

#include "server/class_table.h"

namespace qz::server {

class RegistrationError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "HKEY_CLASSES_ROOT\CLSID\{clsid}".
std::string classKeyPath(const ClassInfo& c);

// Writes every class and the type library. Throws RegistrationError when
// registry.ini cannot be written ("Unable to write to <file>").
void registerServer(const std::string& registryFile, const std::string& exePath);
// Removes them. Throws RegistrationError when the file cannot be written.
void unregisterServer(const std::string& registryFile);

// Whether the class may be served on the socket transport: its "Sockets"
// value is "1". Reads the file at each call.
bool socketsEnabled(const std::string& registryFile, const ClassInfo& c);
// The same for the web transport: its "Web" value.
bool webEnabled(const std::string& registryFile, const ClassInfo& c);

}  // namespace qz::server
