// Values the updater's parts share: where Quorvan is installed, what the
// window is doing, the release numbers and the files of the current run.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The installation directory exactly as the registry holds it; every path
// is InstallDir + "\" + the rest. Written once at start-up.
extern std::string InstallDir;

// The manifest URL of the current or last check.
extern std::string UpdateIniURL;

// 0 idle, 1 checking, 2 updating: what "&Abort" acts on.
extern std::int32_t RunMode;

// Line 1 of the last manifest read, untrimmed.
extern std::string NewestVersion;

// The release this updater belongs to.
inline constexpr double CurrentVersion = 1.14;

// One file of an update run.
struct TUpdateFileInfo {
    std::string FileName;      // the row's caption, unchanged
    std::int32_t Running = 0;  // 1 until its worker has ended
    std::string CopyTo;        // the row's destination, trimmed
};

// The files of the current update run in the order they were started;
// the first UpdateFileCount entries are valid.
extern std::vector<TUpdateFileInfo> UpdateFiles;
extern std::int32_t UpdateFileCount;

class THTTPThread;

// The download workers of the latest update run, slot i holding the
// (i+1)-th file started; ten is the most one run updates.
inline constexpr int kMaxWorkers = 10;
extern std::array<std::unique_ptr<THTTPThread>, kMaxWorkers> Workers;

// Seconds without an answer after which a check or a download fails.
inline constexpr std::int32_t kHttpTimeoutSeconds = 60;
