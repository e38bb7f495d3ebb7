// MessageBoxA, ShellExecuteA and FindWindowA.
#include "AnsiText.h"
#include "Application.h"
#include "FileUtils.h"
#include "PosixFile.h"
#include "WindowDirectory.h"
#include "Win32.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr int kShellNoAssociation = 31;  // SE_ERR_NOASSOC
constexpr int kShellStarted = 42;        // any value above 32 means success
constexpr int kShellBadFormat = 11;      // ERROR_BAD_FORMAT: not a program the system can start

HINSTANCE ShellResult(int code)
{
    return reinterpret_cast<HINSTANCE>(static_cast<ULONG_PTR>(code));
}

// Splits a Windows command-line tail: blanks separate, double quotes group.
std::vector<std::string> SplitParameters(const char* parameters)
{
    std::vector<std::string> words;
    if (!parameters) return words;
    std::string word;
    bool quoted = false;
    bool inWord = false;
    for (const char* p = parameters; *p; ++p) {
        if (*p == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (*p == ' ' || *p == '\t')) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word.push_back(*p);
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

std::string FindInPath(const std::string& program)
{
    const char* path = std::getenv("PATH");
    std::string list = path ? path : "/usr/local/bin:/usr/bin:/bin";
    for (std::size_t start = 0; start <= list.size();) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos) end = list.size();
        std::string folder = end > start ? list.substr(start, end - start) : ".";
        std::string candidate = folder + "/" + program;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

// Starts argv[0] detached from this process: in a new session, reaped at
// once by the intermediate child, so no zombie is left. Returns 0 once the
// program runs, else the errno of the failed start.
int StartDetached(const std::vector<std::string>& args, const std::string& directory)
{
    // Everything the children need is prepared before fork: after it only
    // async-signal-safe calls are allowed.
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    const char* folder = directory.empty() ? nullptr : directory.c_str();

    int report[2];
    if (pipe2(report, O_CLOEXEC) != 0) return errno;
    pid_t child = fork();
    if (child < 0) {
        int err = errno;
        close(report[0]);
        close(report[1]);
        return err;
    }
    if (child == 0) {
        setsid();
        pid_t grandchild = fork();
        if (grandchild != 0) {
            if (grandchild < 0) {
                int err = errno;
                (void)!write(report[1], &err, sizeof err);
            }
            _exit(0);
        }
        // The program gets a clean signal state and none of our descriptors
        // (a held file lock must not live on in it).
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        signal(SIGPIPE, SIG_DFL);
        signal(SIGXFSZ, SIG_DFL);
        int devNull = open("/dev/null", O_RDONLY);
        if (devNull > 0) {
            dup2(devNull, 0);
            close(devNull);
        }
        auto reportFd = static_cast<unsigned>(report[1]);
        if (reportFd > 3) syscall(SYS_close_range, 3u, reportFd - 1, 0u);
        syscall(SYS_close_range, reportFd + 1, ~0u, 0u);
        int err = 0;
        if (folder && chdir(folder) != 0) {
            err = errno;
        } else {
            execv(argv[0], argv.data());
            err = errno;
        }
        (void)!write(report[1], &err, sizeof err);
        _exit(127);
    }
    close(report[1]);
    while (waitpid(child, nullptr, 0) < 0 && errno == EINTR) {}
    int err = 0;
    ssize_t n;
    do {
        n = read(report[0], &err, sizeof err);
    } while (n < 0 && errno == EINTR);
    close(report[0]);
    return n == sizeof err ? err : 0;
}

int StartErrorFromErrno(int err)
{
    switch (err) {
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    default: return kShellBadFormat;
    }
}

// A handle of our own for a window that lives in another process: never a
// window of this process, and never dereferenced.
char g_OtherProcessWindow;

}  // namespace

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT type)
{
    const GuiHooks* hooks = CurrentGuiHooks();
    if (hooks && hooks->MessageBox) return hooks->MessageBox(owner, text, caption, type);
    // No GUI: the message still reaches the user, on standard error.
    std::string line = AnsiToUtf8(caption ? caption : "Error") + ": " + AnsiToUtf8(text ? text : "") + "\n";
    std::fputs(line.c_str(), stderr);
    std::fflush(stderr);
    return IDOK;
}

HINSTANCE ShellExecuteA(HWND /*owner*/, const char* operation, const char* file, const char* parameters,
                        const char* directory, int /*showCmd*/)
{
    if (operation && *operation && LowerAnsi(operation) != "open") {
        SetLastError(ERROR_INVALID_PARAMETER);
        return ShellResult(kShellNoAssociation);
    }
    if (!file || !*file) {
        SetLastError(ERROR_FILE_NOT_FOUND);
        return ShellResult(ERROR_FILE_NOT_FOUND);
    }
    std::string path = NativePath(file);
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        DWORD code = WinErrorFromErrno(errno, path);
        SetLastError(code);
        // Results above 32 mean success: larger error numbers must not pass for one.
        return ShellResult(code < 32 ? static_cast<int>(code) : ERROR_FILE_NOT_FOUND);
    }
    std::string folder = directory && *directory ? NativePath(directory) : std::string();

    std::vector<std::string> args;
    if (S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0) {
        args.push_back(path);
        for (std::string& word : SplitParameters(parameters)) args.push_back(std::move(word));
    } else {
        // Documents and folders go to the desktop's opener.
        std::string opener = FindInPath("xdg-open");
        if (opener.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return ShellResult(kShellNoAssociation);
        }
        args = {opener, path};
    }
    int err = StartDetached(args, folder);
    if (err != 0) {
        int code = StartErrorFromErrno(err);
        SetLastError(static_cast<DWORD>(code));
        return ShellResult(code);
    }
    return ShellResult(kShellStarted);
}

HWND FindWindowA(const char* className, const char* windowName)
{
    if (!className) return FindLocalTopLevelWindow(nullptr, windowName);  // any class: local only
    if (HWND local = FindLocalTopLevelWindow(className, windowName)) return local;
    // Other processes publish their windows by class only.
    if (!windowName && PublishedWindowExists(className)) return reinterpret_cast<HWND>(&g_OtherProcessWindow);
    return nullptr;
}
