// Inside the platform layer only: the parsed form of a registry export file.
#pragma once

#include "Win32.h"

#include <map>
#include <string>

struct RegistryValue {
    DWORD type = REG_NONE;
    std::string data;  // as RegQueryValueExA hands it out: strings in ANSI with their NUL
};

struct RegistryKey {
    std::map<std::string, RegistryValue> values;  // by lower-case name; "" is the default value
};

// Keys of HKEY_LOCAL_MACHINE by lower-case path below it ("software\quorvan");
// "" is the hive's root. Every parent of a key exists.
struct RegistryHive {
    std::map<std::string, RegistryKey> keys;
};

// Parses the text of a registry export file. On failure returns false and
// sets `error` to "path:line: reason"; `hive` is then left untouched.
bool ParseRegistryFile(const std::string& text, const std::string& path, RegistryHive& hive, std::string& error);


