// The seven server settings of system.ini as the settings dialog edits
// them: loading with the missing-database-file rule, the connection text
// composed from the fields, and the rewrite of system.ini.
//
// Thread-safety: window thread only (system.ini has one writer).
#pragma once

#include <array>
#include <string>

namespace qz::admin {

struct ServerSettings {
  std::string server;            // line 1, Edit1, "Data Source"
  std::string user;              // line 2, Edit2, "User ID"
  std::string password;          // line 3, Edit3, "Password"
  std::string database;          // line 4, Edit4, "Initial Catalog"
  std::string databaseFile;      // line 5, Edit5, "Initial File Name"
  std::string workstation;       // line 6, Edit6, "Workstation ID"
  bool windowsAuthOnly = false;  // line 7 "SSPI", CheckBox1
};

// The text the database file field falls back to: appDir (with its trailing
// separator) minus its last 7 characters, then "qz.mdf"; just "qz.mdf" when
// appDir has 7 characters or fewer. Characters, not bytes, are counted.
std::string DefaultDatabaseFile(const std::string& appDir);

// Lines 1..7 of appDir + "system.ini" (line 7 checks the box only when it is
// exactly "SSPI"); when no file exists at the database file path, that
// field becomes DefaultDatabaseFile(appDir) and the box is unchecked.
// Throws std::runtime_error on an I/O error of an existing system.ini.
ServerSettings LoadServerSettings(const std::string& appDir);

// "Provider=SQLOLEDB.1;[Integrated Security=SSPI;]Persist Security
// Info=False;User ID=..;...;Use Encryption for Data=False" with the values
// as they are, in the order of the text composed from system.ini.
std::string ComposeSqlConnectionString(const ServerSettings& s);

// The seven lines of system.ini for s, without line ends; the seventh is
// "SSPI" or empty.
std::array<std::string, 7> SystemIniLines(const ServerSettings& s);

// Rewrites AppDir + "system.ini" with SystemIniLines(s), each ended by
// CR LF, as UTF-8, atomically and with mode 0600 (the file holds a
// password). An existing file that is not writable (made read-only) is not
// replaced. Throws std::runtime_error ("Unable to write to <file>"); the
// old file then stays whole.
void SaveServerSettings(const ServerSettings& s);

}  // namespace qz::admin
