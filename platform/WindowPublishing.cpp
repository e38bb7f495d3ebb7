// Top-level windows seen from other processes: each one is a file
// <class>.<pid>[.<n>] in the user's qvupdate-windows folder, locked with an
// exclusive flock for as long as the window exists. A file whose lock is
// free belongs to a process that ended without cleaning up: it is removed.
#include "AnsiText.h"
#include "WindowDirectory.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <string>
#include <unordered_map>

namespace {

struct PublishedWindow {
    int fd = -1;  // holds the lock
    std::string path;
};

std::mutex g_Lock;
std::unordered_map<HWND, PublishedWindow> g_Published;
unsigned g_TempCounter = 0;

// A folder of ours: a real folder (no link), owned by this user, closed to others.
bool PrivateFolder(const std::string& path)
{
    if (mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid()) return false;
    return (st.st_mode & 077) == 0 || chmod(path.c_str(), 0700) == 0;
}

// The folder of published windows; empty when it cannot be had safely.
std::string WindowsFolder()
{
    std::string base;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (runtime && *runtime && stat(runtime, &st) == 0 && S_ISDIR(st.st_mode)) {
        base = runtime;
    } else {
        base = "/tmp/qvupdate-" + std::to_string(getuid());
        if (!PrivateFolder(base)) return {};
    }
    std::string folder = base + "/qvupdate-windows";
    return PrivateFolder(folder) ? folder : std::string();
}

// Class names compare without regard to case; bytes that could upset a file
// name (and the "." that separates the pid) are written as %XX.
std::string FileClassName(const std::string& className)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (char c : LowerAnsi(className)) {
        auto byte = static_cast<unsigned char>(c);
        if ((byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') || byte == '_' || byte == '-') {
            encoded.push_back(c);
        } else {
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 15];
        }
    }
    return encoded;
}

// The pid in "<pid>" or "<pid>.<n>"; 0 when the text is neither.
pid_t PidOfSuffix(const std::string& suffix)
{
    std::size_t dot = suffix.find('.');
    std::string pid = suffix.substr(0, dot);
    std::string counter = dot == std::string::npos ? "1" : suffix.substr(dot + 1);
    auto digits = [](const std::string& s) {
        return !s.empty() && s.size() < 10 && s.find_first_not_of("0123456789") == std::string::npos;
    };
    return digits(pid) && digits(counter) ? static_cast<pid_t>(std::stol(pid)) : 0;
}

bool NameInUse(const std::string& path)
{
    for (const auto& [window, published] : g_Published)
        if (published.path == path) return true;
    return false;
}

}  // namespace

void PublishTopLevelWindow(HWND window, const std::string& className)
{
    std::lock_guard lock(g_Lock);
    if (g_Published.count(window)) return;
    std::string folder = WindowsFolder();
    if (folder.empty()) {
        std::fprintf(stderr, "windows: no private runtime folder; other processes will not see window class %s\n",
                     className.c_str());
        return;
    }
    std::string pid = std::to_string(getpid());
    std::string path = folder + "/" + FileClassName(className) + "." + pid;
    for (int n = 2; NameInUse(path); ++n) path = folder + "/" + FileClassName(className) + "." + pid + "." + std::to_string(n);

    // Lock under a hidden name first, then move it into place: a finder must
    // never see the file before its lock is held.
    std::string temp = folder + "/.new." + pid + "." + std::to_string(++g_TempCounter);
    int fd = open(temp.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return;
    std::string content = pid + "\n" + className + "\n";
    bool ok = flock(fd, LOCK_EX | LOCK_NB) == 0
           && write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size())
           && rename(temp.c_str(), path.c_str()) == 0;  // replaces only a stale file of a dead namesake pid
    if (!ok) {
        unlink(temp.c_str());
        close(fd);
        return;
    }
    g_Published[window] = PublishedWindow{fd, path};
}

void UnpublishTopLevelWindow(HWND window)
{
    std::lock_guard lock(g_Lock);
    auto it = g_Published.find(window);
    if (it == g_Published.end()) return;
    unlink(it->second.path.c_str());
    close(it->second.fd);
    g_Published.erase(it);
}

bool PublishedWindowExists(const std::string& className)
{
    std::string folder = WindowsFolder();
    if (folder.empty()) return false;
    DIR* dir = opendir(folder.c_str());
    if (!dir) return false;
    std::string prefix = FileClassName(className) + ".";
    bool found = false;
    while (!found) {
        dirent* entry = readdir(dir);
        if (!entry) break;
        std::string name = entry->d_name;
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        pid_t pid = PidOfSuffix(name.substr(prefix.size()));
        if (pid <= 0 || pid == getpid()) continue;  // this process's windows are found directly

        std::string path = folder + "/" + name;
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        if (fd < 0) continue;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            found = errno == EWOULDBLOCK;
        } else {
            // Stale; remove it unless a new window took the name meanwhile.
            struct stat held {}, current {};
            if (fstat(fd, &held) == 0 && lstat(path.c_str(), &current) == 0 && held.st_ino == current.st_ino
                && held.st_dev == current.st_dev)
                unlink(path.c_str());
        }
        close(fd);
    }
    closedir(dir);
    return found;
}
