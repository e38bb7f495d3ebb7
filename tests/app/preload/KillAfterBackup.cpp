// Preloaded into the updater by the fault tests: the process kills itself
// the moment a file has been renamed to its backup name, that is between
// the two renames of a replacement, as a power cut or a kill -9 would.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned int flags)
{
    using TRenameAt2 = int (*)(int, const char*, int, const char*, unsigned int);
    static const auto next = reinterpret_cast<TRenameAt2>(dlsym(RTLD_NEXT, "renameat2"));
    const int result = next(fromDir, from, toDir, to, flags);
    const std::size_t length = std::strlen(to);
    if (result == 0 && length > 4 && std::strcmp(to + length - 4, ".bak") == 0)
        kill(getpid(), SIGKILL);
    return result;
}
