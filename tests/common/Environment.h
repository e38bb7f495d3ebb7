// What the tests of every area need from the system, on both systems: a
// fresh folder of their own, and environment variables for a scope.
#pragma once

#include <optional>
#include <string>

// A new, empty folder under the system's temporary folder, its name
// starting with `prefix`; raises when none could be made.
std::string MakeTempFolder(const std::string& prefix);

// An environment variable set (or, with nullopt, removed) for the scope.
// Windows holds no empty values: "" removes the variable there.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const std::optional<std::string>& value);
    ~TScopedEnv();
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    std::string m_Name;
    std::optional<std::string> m_Old;
};
