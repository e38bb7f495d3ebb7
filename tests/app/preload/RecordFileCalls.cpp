// Preloaded into the updater by the fault tests: appends every successful
// fsync, rename and unlink to the file named by QVUPDATE_FILE_CALLS, one
// line each ("main rename FROM TO"), with the thread that made it, main or
// worker. With QVUPDATE_FAIL_RENAME set, a rename whose source ends in that
// text fails as on a failing disk.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename TFunction>
TFunction Next(const char* name)
{
    return reinterpret_cast<TFunction>(dlsym(RTLD_NEXT, name));
}

void Record(const std::string& call)
{
    const char* file = std::getenv("QVUPDATE_FILE_CALLS");
    if (!file)
        return;
    const bool main = syscall(SYS_gettid) == getpid();
    const std::string line = (main ? "main " : "worker ") + call + "\n";
    const int fd = open(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    [[maybe_unused]] const ssize_t written = write(fd, line.data(), line.size());
    close(fd);
}

std::string PathOf(int fd)
{
    char path[4096];
    const ssize_t length = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : "?";
}

bool EndsWith(const char* text, const char* end)
{
    const std::size_t length = std::strlen(text);
    const std::size_t endLength = std::strlen(end);
    return endLength > 0 && length >= endLength && std::strcmp(text + length - endLength, end) == 0;
}

}  // namespace

extern "C" int fsync(int fd)
{
    static const auto next = Next<int (*)(int)>("fsync");
    const int result = next(fd);
    if (result == 0)
        Record("fsync " + PathOf(fd));
    return result;
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags)
{
    static const auto next = Next<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    const char* failing = std::getenv("QVUPDATE_FAIL_RENAME");
    if (failing && EndsWith(from, failing)) {
        errno = EIO;
        return -1;
    }
    const int result = next(fromDir, from, toDir, to, flags);
    if (result == 0)
        Record("rename " + std::string(from) + " " + to);
    return result;
}

extern "C" int unlink(const char* path)
{
    static const auto next = Next<int (*)(const char*)>("unlink");
    const int result = next(path);
    if (result == 0)
        Record("unlink " + std::string(path));
    return result;
}
