// The classes this server offers and the type library they belong to: the
// one table of names and identifiers that registration, the wire's "create"
// and the login error reply all read.
#pragma once

#include <array>
#include <string_view>

namespace qz::server {

struct ClassInfo {
  std::string_view name;           // "top_dm2"
  std::string_view moduleClass;    // "Ttop_dm2"
  std::string_view clsid;          // "{A6F60FA4-...}"
  std::string_view progId;         // "QzServer.top_dm2"
  std::string_view description;    // "TOP_DM2 Object"
  std::string_view interfaceName;  // "Itop_dm2"
  std::string_view iid;
  std::string_view interfaceDescription;
  int loginDispId;
};

struct TypeLibraryInfo {
  std::string_view name;  // "QzServer"
  std::string_view libid;
  int majorVersion;
  int minorVersion;
  int lcid;
  std::string_view helpString;
};

inline constexpr TypeLibraryInfo kTypeLibrary{
    "QzServer", "{E9B74A40-4907-41B5-94CB-E658BAF7AD7B}", 1, 0, 1033, "Project1 Library"};

inline constexpr std::array<ClassInfo, 3> kClasses{{
    {"top_dm1", "Ttop_dm1", "{6D2E1BC3-A48F-44B1-B3A9-2A012D585391}", "QzServer.top_dm1",
     "TOP_DM1 Object", "Itop_dm1", "{E721E0AF-DEC0-4891-ADA9-585C79DD106D}",
     "Dispatch interface for top_dm1 Object", 1},
    {"top_dm2", "Ttop_dm2", "{A6F60FA4-DEEC-45B2-8D4A-C3C68CD7685B}", "QzServer.top_dm2",
     "TOP_DM2 Object", "Itop_dm2", "{EA5546B8-4B97-4818-B61C-3E2C977EE8E6}",
     "Dispatch interface for top_dm2 Object", 1},
    {"GzModule", "TGzModule", "{2E7CA11B-AC20-40FC-BA9B-7017BD5369B0}", "QzServer.GzModule",
     "GzModule Object", "IGzModule", "{84A040A7-DE73-4073-B9F9-A3822A2E8A33}",
     "Dispatch interface for GzModule Object", 2},
}};

}  // namespace qz::server
