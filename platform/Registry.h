// Where HKEY_LOCAL_MACHINE lives on this system: a text file in the registry
// export format ("Windows Registry Editor Version 5.00" or "REGEDIT4"),
// named by QVUPDATE_REGISTRY, else kDefaultRegistryFile.
#pragma once

#include <string>

inline constexpr const char* kDefaultRegistryFile = "/etc/qvupdate/registry.reg";

// The registry file in use now.
std::string RegistryFilePath();

// Why the last load of the registry file failed to parse, as
// "path:line: reason"; empty when the last load parsed.
std::string RegistryFileError();
