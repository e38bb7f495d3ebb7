// Test helpers: a private folder removed afterwards, small file access, and
// a bounded wait.
#pragma once

#include "common/Environment.h"

#include <chrono>
#include <functional>
#include <string>

class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const std::string& Path() const { return m_Path; }
    // Path() + "\" + name, the way the updater writes paths.
    std::string WinPath(const std::string& name) const { return m_Path + "\\" + name; }
    std::string operator/(const std::string& name) const { return m_Path + "/" + name; }

private:
    std::string m_Path;
};

void WriteFileText(const std::string& path, const std::string& bytes);
std::string ReadFileText(const std::string& path);  // "" when missing
bool PathExists(const std::string& path);

// Polls `done` until it holds or `timeout` has passed; returns its last value.
bool WaitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Sets an environment variable for the lifetime of the object.
using ScopedEnv = TScopedEnv;
