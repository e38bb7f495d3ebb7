// RegOpenKeyExA, RegQueryValueExA and RegCloseKey over the registry file.
// Every open reads the file afresh; an open key keeps the snapshot it saw.
#include "Registry.h"

#include "AnsiText.h"
#include "RegistryFile.h"
#include "Win32.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>
#include <unordered_set>

namespace {

// Rights that change a key; asking for any of them needs a writable file.
constexpr REGSAM kWriteRights = 0x0002 /*KEY_SET_VALUE*/ | 0x0004 /*KEY_CREATE_SUB_KEY*/
                              | 0x0020 /*KEY_CREATE_LINK*/ | 0x00010000 /*DELETE*/ | 0x00040000 /*WRITE_DAC*/
                              | 0x00080000 /*WRITE_OWNER*/ | GENERIC_WRITE | 0x10000000 /*GENERIC_ALL*/;

struct OpenKey {
    std::shared_ptr<const RegistryHive> hive;
    std::string path;  // lower case, below HKEY_LOCAL_MACHINE
};

std::mutex g_Lock;
std::unordered_set<OpenKey*> g_OpenKeys;
std::string g_LastFileError;

bool IsPredefinedKey(HKEY key)
{
    auto value = reinterpret_cast<ULONG_PTR>(key);
    return value >= 0x80000000u && value <= 0x80000006u;
}

// Reads and parses the registry file for an open with `desired` rights.
LSTATUS LoadHive(REGSAM desired, std::shared_ptr<const RegistryHive>& hive)
{
    std::string path = RegistryFilePath();
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return errno == ENOENT || errno == ENOTDIR ? ERROR_FILE_NOT_FOUND : ERROR_ACCESS_DENIED;
    if (access(path.c_str(), R_OK) != 0) return ERROR_ACCESS_DENIED;
    if ((desired & kWriteRights) && access(path.c_str(), W_OK) != 0) return ERROR_ACCESS_DENIED;

    std::string error;
    auto parsed = std::make_shared<RegistryHive>();
    if (S_ISDIR(st.st_mode)) {
        error = path + ": a folder, not a registry file";
    } else {
        std::ifstream file(path, std::ios::binary);
        if (!file.is_open()) return ERROR_ACCESS_DENIED;
        std::ostringstream text;
        text << file.rdbuf();
        ParseRegistryFile(text.str(), path, *parsed, error);
    }

    std::lock_guard lock(g_Lock);
    if (!error.empty()) {
        // Say it once: otherwise a broken file looks like a missing key.
        if (error != g_LastFileError) std::fprintf(stderr, "registry: %s\n", error.c_str());
        g_LastFileError = error;
        return ERROR_BADDB;
    }
    g_LastFileError.clear();
    hive = std::move(parsed);
    return ERROR_SUCCESS;
}

// The hive and key path behind `key` (HKEY_LOCAL_MACHINE or an open key).
LSTATUS Resolve(HKEY key, REGSAM desired, std::shared_ptr<const RegistryHive>& hive, std::string& path)
{
    if (key == HKEY_LOCAL_MACHINE) {
        path.clear();
        return LoadHive(desired, hive);
    }
    {
        std::lock_guard lock(g_Lock);
        auto it = g_OpenKeys.find(reinterpret_cast<OpenKey*>(key));
        if (it != g_OpenKeys.end()) {
            hive = (*it)->hive;
            path = (*it)->path;
            return ERROR_SUCCESS;
        }
    }
    // The other hives are not kept on this system.
    return IsPredefinedKey(key) ? ERROR_FILE_NOT_FOUND : ERROR_INVALID_HANDLE;
}

// "Software\\Quorvan\" -> "software\quorvan": doubled separators and one at
// the end are dropped (a leading one is refused before).
std::string NormalizedSubKey(const char* subKey)
{
    std::string result;
    for (const char* p = subKey; p && *p; ++p) {
        if (*p == '\\' && (result.empty() || result.back() == '\\')) continue;
        result.push_back(*p);
    }
    if (!result.empty() && result.back() == '\\') result.pop_back();
    return LowerAnsi(result);
}

}  // namespace

std::string RegistryFilePath()
{
    const char* path = std::getenv("QVUPDATE_REGISTRY");
    return path && *path ? path : kDefaultRegistryFile;
}

std::string RegistryFileError()
{
    std::lock_guard lock(g_Lock);
    return g_LastFileError;
}

LSTATUS RegOpenKeyExA(HKEY key, const char* subKey, DWORD /*options*/, REGSAM desired, HKEY* result)
{
    if (!result) return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::shared_ptr<const RegistryHive> hive;
    std::string path;
    LSTATUS status = Resolve(key, desired, hive, path);
    if (status != ERROR_SUCCESS) return status;
    if (key != HKEY_LOCAL_MACHINE) {
        // The rights of an open below an open key still follow the file.
        std::string file = RegistryFilePath();
        if (access(file.c_str(), R_OK) != 0) return ERROR_ACCESS_DENIED;
        if ((desired & kWriteRights) && access(file.c_str(), W_OK) != 0) return ERROR_ACCESS_DENIED;
    }

    // A name below a key starts with a name, not a separator, as Windows wants.
    if (subKey && *subKey == '\\') return ERROR_BAD_PATHNAME;
    std::string below = NormalizedSubKey(subKey);
    if (!below.empty()) path = path.empty() ? below : path + "\\" + below;
    if (!hive->keys.count(path)) return ERROR_FILE_NOT_FOUND;

    auto* opened = new OpenKey{std::move(hive), std::move(path)};
    std::lock_guard lock(g_Lock);
    g_OpenKeys.insert(opened);
    *result = reinterpret_cast<HKEY>(opened);
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize)
{
    if (reserved || (data && !dataSize)) return ERROR_INVALID_PARAMETER;
    std::shared_ptr<const RegistryHive> hive;
    std::string path;
    LSTATUS status = Resolve(key, KEY_QUERY_VALUE, hive, path);
    if (status != ERROR_SUCCESS) return status;

    auto found = hive->keys.find(path);
    if (found == hive->keys.end()) return ERROR_FILE_NOT_FOUND;
    auto value = found->second.values.find(LowerAnsi(valueName ? valueName : ""));
    if (value == found->second.values.end()) return ERROR_FILE_NOT_FOUND;

    if (type) *type = value->second.type;
    auto needed = static_cast<DWORD>(value->second.data.size());
    if (!data) {
        if (dataSize) *dataSize = needed;
        return ERROR_SUCCESS;
    }
    if (*dataSize < needed) {
        *dataSize = needed;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, value->second.data.data(), needed);
    *dataSize = needed;
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY key)
{
    if (IsPredefinedKey(key)) return ERROR_SUCCESS;
    OpenKey* opened = reinterpret_cast<OpenKey*>(key);
    {
        std::lock_guard lock(g_Lock);
        if (!g_OpenKeys.erase(opened)) return ERROR_INVALID_HANDLE;
    }
    delete opened;
    return ERROR_SUCCESS;
}
