// LoadLibraryA, GetProcAddress, FreeLibrary: a Windows library name stands
// for a shared library that this project builds ("wsock32.dll" ->
// libwsock32.so), searched for in the test override, next to the program,
// and in the install folder.
#include "AnsiText.h"
#include "FileUtils.h"
#include "Win32.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

std::mutex g_Lock;
// Our own count per loaded library, to refuse handles we never gave out.
std::unordered_map<void*, int> g_Loaded;

std::string ExecutableFolder()
{
    char buffer[4096];
    ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return {};
    std::string path(buffer, static_cast<std::size_t>(n));
    auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash == 0 ? 1 : slash);
}

std::string SharedLibraryName(const std::string& name)
{
    std::string lower = LowerAnsi(name);
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".dll") == 0) lower.resize(lower.size() - 4);
    return "lib" + lower + ".so";
}

std::vector<std::string> SearchFolders()
{
    std::vector<std::string> folders;
    if (const char* override = std::getenv("QVUPDATE_MODULE_PATH")) {
        std::string list = override;
        for (std::size_t start = 0; start <= list.size();) {
            std::size_t end = list.find(':', start);
            if (end == std::string::npos) end = list.size();
            if (end > start) folders.push_back(list.substr(start, end - start));
            start = end + 1;
        }
    }
    std::string exe = ExecutableFolder();
    if (!exe.empty()) {
        folders.push_back(exe);
        folders.push_back(exe + "/../lib/qvupdate");
    }
    return folders;
}

// Why a library file that exists did not load, as Windows tells it: a file
// that is no library at all, or else a library whose dependencies are missing.
DWORD LoadFailure(const std::string& path)
{
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return ERROR_MOD_NOT_FOUND;
    char magic[4] = {};
    const ssize_t got = read(fd, magic, sizeof magic);
    close(fd);
    if (got < 0)
        return ERROR_MOD_NOT_FOUND;
    return got == 4 && std::memcmp(magic, "\x7f" "ELF", 4) == 0 ? ERROR_MOD_NOT_FOUND : ERROR_BAD_EXE_FORMAT;
}

}  // namespace

HMODULE LoadLibraryA(const char* fileName)
{
    if (!fileName || !*fileName) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::string name = fileName;
    std::string path;
    if (name.find_first_of("/\\") != std::string::npos) {
        path = NativePath(name);  // a path is used as given
    } else {
        std::string file = SharedLibraryName(name);
        for (const std::string& folder : SearchFolders()) {
            std::string candidate = folder + "/" + file;
            if (access(candidate.c_str(), F_OK) == 0) {
                path = candidate;
                break;
            }
        }
    }
    // RTLD_LOCAL: the library's exports (named like the C library's socket
    // functions) must not take the place of anything else in the process.
    void* handle = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        SetLastError(path.empty() ? ERROR_MOD_NOT_FOUND : LoadFailure(path));
        return nullptr;
    }
    std::lock_guard lock(g_Lock);
    ++g_Loaded[handle];
    return static_cast<HMODULE>(handle);
}

FARPROC GetProcAddress(HMODULE module, const char* procName)
{
    void* handle = module;
    {
        std::lock_guard lock(g_Lock);
        if (!g_Loaded.count(handle)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
    }
    // Lookup by ordinal (a number below 0x10000 in place of a name) does not exist here.
    if (reinterpret_cast<ULONG_PTR>(procName) < 0x10000) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    void* symbol = dlsym(handle, procName);
    // dlsym also searches the library's dependencies (the C library among
    // them); only the library's own exports count.
    link_map* library = nullptr;
    link_map* owner = nullptr;
    Dl_info info {};
    bool own = symbol && dlinfo(handle, RTLD_DI_LINKMAP, &library) == 0
            && dladdr1(symbol, &info, reinterpret_cast<void**>(&owner), RTLD_DL_LINKMAP) != 0 && owner == library;
    if (!own) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module)
{
    void* handle = module;
    {
        std::lock_guard lock(g_Lock);
        auto it = g_Loaded.find(handle);
        if (it == g_Loaded.end()) {
            SetLastError(ERROR_MOD_NOT_FOUND);  // as for a library no longer loaded
            return FALSE;
        }
        if (--it->second == 0) g_Loaded.erase(it);
    }
    dlclose(handle);
    return TRUE;
}
