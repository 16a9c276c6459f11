// The executable's folder (AppDir), the line files system.ini and
// express.ini, and the two connection texts composed from them.
//
// Line rule: line N (from 1) of a file; a line ends at LF or CR LF, a CR not
// followed by LF is dropped, blanks stay; N < 1, a missing file or a line
// past the end gives an empty text. The file is opened, read and closed on
// every call. A file that is not valid UTF-8 is read as GBK.
#pragma once

#include <array>
#include <string>

namespace qz::server {

// Process-wide AppDir: the executable's folder with a trailing '/'. Empty
// until set at start (before any thread but the main one exists).
const std::string& appDir();
void setAppDir(std::string dir);  // adds the trailing '/' when missing
// The folder of the running executable, with a trailing '/'.
std::string executableDir();

// Where an installed package keeps its files, relative to the root the
// package was unpacked into ("/" on a real installation, a scratch folder in
// the package tests): the programs in usr/bin/, read-only files such as the
// export template in usr/share/qzserver/, the app folder in var/lib/qzserver/.
// A program run from anywhere else (a build folder, /opt) keeps everything
// in its own folder, as before.
struct InstalledLayout {
  bool installed = false;  // the executable lies in <root>usr/bin/
  std::string root;        // with a trailing '/'; empty when not installed
};
// The layout for an executable in exeDir (with a trailing '/').
InstalledLayout installedLayout(const std::string& exeDir);
// The app folder used without --app-dir: <root>var/lib/qzserver/ for an
// installed executable, else the executable's folder.
std::string defaultAppDir();
// The folder of the read-only files shipped with the program:
// <root>usr/share/qzserver/ for an installed executable, else the
// executable's folder.
std::string sharedFilesDir();

// Line N of path. Throws std::runtime_error on an I/O error of an existing file.
std::string ReadFileLine(const std::string& path, int n);
std::string ReadSystemIniLine(unsigned short n);   // AppDir + "system.ini"
std::string ReadExpressIniLine(unsigned short n);  // AppDir + "express.ini"

// "Provider=SQLOLEDB.1;...;Use Encryption for Data=False", from system.ini.
std::string BuildSqlConnectionString();
// The same text from another file of system.ini's seven lines.
std::string BuildSqlConnectionString(const std::string& systemIniPath);
// The connection text for a client's module instance: BuildSqlConnectionString,
// but a system.ini that is missing, a folder or unreadable throws
// std::runtime_error saying so and what the file holds (an empty text would
// otherwise reach some default database and fail later with a puzzling
// "no such table").
std::string ModuleConnectionString();
// "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=...", from express.ini.
std::string BuildAccessConnectionString();

// Rewrites AppDir + "system.ini" with exactly these seven lines, each ended
// by CR LF, in UTF-8. The file holds a password: it is written atomically
// (temporary file and rename) and readable by its owner only (mode 0600),
// except that a file its group may write stays readable and writable by the
// group.
// Throws std::runtime_error("Unable to write to <file>") on failure; the old
// file then stays whole.
void WriteSystemIni(const std::array<std::string, 7>& lines);

// Converts text to UTF-8: returned unchanged when valid UTF-8, else read as GBK.
std::string toUtf8FromLegacy(const std::string& bytes);

}  // namespace qz::server
