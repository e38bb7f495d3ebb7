// The Win32 file functions over POSIX: "\"-separated paths, share modes as
// flock locks, renames that never overwrite, Windows error numbers.
#include "FileUtils.h"
#include "PosixFile.h"
#include "Win32.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <memory>
#include <unordered_map>

namespace {

constexpr DWORD kErrorTooManyOpenFiles = 4;
constexpr DWORD kErrorNotSameDevice = 17;
constexpr DWORD kErrorGenFailure = 31;
constexpr DWORD kErrorNegativeSeek = 131;
constexpr DWORD kErrorFilenameTooLong = 206;

struct FileHandle {
    explicit FileHandle(int descriptor) : fd(descriptor) {}
    ~FileHandle() { close(fd); }
    const int fd;
};

// Handles given out and not yet closed, so that a stale or foreign handle
// gets ERROR_INVALID_HANDLE instead of touching freed memory; a call under
// way keeps its descriptor open even if another thread closes the handle.
std::mutex g_HandlesLock;
std::unordered_map<HANDLE, std::shared_ptr<FileHandle>> g_Handles;

std::shared_ptr<FileHandle> LookUp(HANDLE handle)
{
    std::lock_guard lock(g_HandlesLock);
    auto it = g_Handles.find(handle);
    return it == g_Handles.end() ? nullptr : it->second;
}

// A write past RLIMIT_FSIZE must fail with EFBIG like a full disk, not kill
// the process with SIGXFSZ.
void IgnoreFileSizeSignal()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction current {};
        if (sigaction(SIGXFSZ, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
            std::signal(SIGXFSZ, SIG_IGN);
    });
}

bool ParentFolderExists(const std::string& nativePath)
{
    std::string path = nativePath;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    auto slash = path.rfind('/');
    std::string parent = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    struct stat st {};
    return stat(parent.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool Fail(DWORD error)
{
    SetLastError(error);
    return false;
}

bool IsHeldOpen(const std::string& nativePath)
{
    int fd = open(nativePath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) return false;  // cannot look: leave it to the operation itself
    bool held = flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;  // any holder, shared or not
    close(fd);
    return held;
}

}  // namespace

DWORD WinErrorFromErrno(int err, const std::string& nativePath)
{
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ParentFolderExists(nativePath) ? ERROR_FILE_NOT_FOUND : ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
    case ETXTBSY: return ERROR_ACCESS_DENIED;
    case EEXIST:
    case ENOTEMPTY: return ERROR_ALREADY_EXISTS;
    case ENOSPC:
    case EFBIG:
    case EDQUOT: return ERROR_DISK_FULL;
    case EWOULDBLOCK: return ERROR_SHARING_VIOLATION;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENAMETOOLONG: return kErrorFilenameTooLong;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EXDEV: return kErrorNotSameDevice;
    default: return kErrorGenFailure;
    }
}

std::string WinErrorText(DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS: return "The operation completed successfully.";
    case ERROR_FILE_NOT_FOUND: return "The system cannot find the file specified.";
    case ERROR_PATH_NOT_FOUND: return "The system cannot find the path specified.";
    case kErrorTooManyOpenFiles: return "The system cannot open the file.";
    case ERROR_ACCESS_DENIED: return "Access is denied.";
    case ERROR_INVALID_HANDLE: return "The handle is invalid.";
    case ERROR_NOT_ENOUGH_MEMORY: return "Not enough memory resources are available to process this command.";
    case kErrorNotSameDevice: return "The system cannot move the file to a different disk drive.";
    case ERROR_SHARING_VIOLATION:
        return "The process cannot access the file because it is being used by another process.";
    case ERROR_FILE_EXISTS: return "The file exists.";
    case ERROR_INVALID_PARAMETER: return "The parameter is incorrect.";
    case ERROR_DISK_FULL: return "There is not enough space on the disk.";
    case kErrorNegativeSeek: return "An attempt was made to move the file pointer before the beginning of the file.";
    case ERROR_ALREADY_EXISTS: return "Cannot create a file when that file already exists.";
    case kErrorFilenameTooLong: return "The filename or extension is too long.";
    default: return "System error " + std::to_string(error) + ".";
    }
}

int OpenSharedFile(const std::string& nativePath, DWORD desiredAccess, DWORD shareMode,
                   DWORD creationDisposition, DWORD& error, bool& existed)
{
    existed = false;
    const bool reading = desiredAccess & GENERIC_READ;
    const bool writing = desiredAccess & GENERIC_WRITE;
    int flags = O_CLOEXEC | O_NOCTTY;
    flags |= reading && writing ? O_RDWR : writing ? O_WRONLY : O_RDONLY;
    if (writing) IgnoreFileSizeSignal();

    bool mayCreate = false;
    bool truncate = false;
    switch (creationDisposition) {
    case CREATE_NEW: break;
    case CREATE_ALWAYS: mayCreate = true; truncate = true; break;
    case OPEN_EXISTING: break;
    case OPEN_ALWAYS: mayCreate = true; break;
    case TRUNCATE_EXISTING:
        if (!writing) { error = ERROR_INVALID_PARAMETER; return -1; }
        truncate = true;
        break;
    default: error = ERROR_INVALID_PARAMETER; return -1;
    }
    if (nativePath.empty()) { error = ERROR_PATH_NOT_FOUND; return -1; }

    int fd = -1;
    if (creationDisposition == CREATE_NEW) {
        fd = open(nativePath.c_str(), flags | O_CREAT | O_EXCL, 0666);
        if (fd < 0 && errno == EEXIST) { error = ERROR_FILE_EXISTS; return -1; }
    } else {
        // Open first and create only when missing, to know whether it existed.
        for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
            fd = open(nativePath.c_str(), flags);
            if (fd >= 0) { existed = true; break; }
            if (errno != ENOENT || !mayCreate) break;
            fd = open(nativePath.c_str(), flags | O_CREAT | O_EXCL, 0666);
            if (fd < 0 && errno != EEXIST) break;
        }
    }
    if (fd < 0) { error = WinErrorFromErrno(errno, nativePath); return -1; }

    struct stat st {};
    if (fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
        close(fd);
        error = ERROR_ACCESS_DENIED;
        return -1;
    }
    if (flock(fd, (shareMode == 0 ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
        int err = errno;
        close(fd);
        error = err == EWOULDBLOCK ? ERROR_SHARING_VIOLATION : WinErrorFromErrno(err, nativePath);
        return -1;
    }
    if (truncate && st.st_size != 0 && ftruncate(fd, 0) != 0) {
        int err = errno;
        close(fd);
        error = err == EINVAL || err == EBADF ? ERROR_ACCESS_DENIED : WinErrorFromErrno(err, nativePath);
        return -1;
    }
    error = ERROR_SUCCESS;
    return fd;
}

DWORD GetFileAttributesA(const char* path)
{
    if (!path) { SetLastError(ERROR_INVALID_PARAMETER); return INVALID_FILE_ATTRIBUTES; }
    std::string native = NativePath(path);
    struct stat st {};
    if (native.empty() || stat(native.c_str(), &st) != 0) {
        SetLastError(native.empty() ? ERROR_PATH_NOT_FOUND : WinErrorFromErrno(errno, native));
        return INVALID_FILE_ATTRIBUTES;
    }
    if (S_ISDIR(st.st_mode)) return FILE_ATTRIBUTE_DIRECTORY;
    return (st.st_mode & 0222) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
}

HANDLE CreateFileA(const char* path, DWORD desiredAccess, DWORD shareMode, void* /*security*/,
                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE /*templateFile*/)
{
    if (!path) { SetLastError(ERROR_INVALID_PARAMETER); return INVALID_HANDLE_VALUE; }
    std::string native = NativePath(path);
    DWORD error = ERROR_SUCCESS;
    bool existed = false;
    int fd = -1;
    if ((flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) && creationDisposition == OPEN_EXISTING &&
        GetFileAttributesA(path) == FILE_ATTRIBUTE_DIRECTORY) {
        // A folder, for FlushFileBuffers: read-only here, as POSIX opens folders.
        fd = open(native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        error = fd < 0 ? WinErrorFromErrno(errno, native) : ERROR_SUCCESS;
        existed = true;
    } else {
        fd = OpenSharedFile(native, desiredAccess, shareMode, creationDisposition, error, existed);
    }
    if (fd < 0) { SetLastError(error); return INVALID_HANDLE_VALUE; }
    auto file = std::make_shared<FileHandle>(fd);
    {
        std::lock_guard lock(g_HandlesLock);
        g_Handles.emplace(file.get(), file);
    }
    // Windows reports an existing file on CREATE_ALWAYS and OPEN_ALWAYS.
    bool reportExisting = existed && (creationDisposition == CREATE_ALWAYS || creationDisposition == OPEN_ALWAYS);
    SetLastError(reportExisting ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return file.get();
}

BOOL ReadFile(HANDLE handle, void* buffer, DWORD toRead, DWORD* read, void* /*overlapped*/)
{
    if (read) *read = 0;
    std::shared_ptr<FileHandle> file = LookUp(handle);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (!buffer && toRead > 0) return Fail(ERROR_INVALID_PARAMETER);
    DWORD done = 0;
    auto* bytes = static_cast<char*>(buffer);
    while (done < toRead) {
        ssize_t n = ::read(file->fd, bytes + done, toRead - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            if (read) *read = done;
            return Fail(errno == EBADF ? ERROR_ACCESS_DENIED : WinErrorFromErrno(errno, {}));  // not opened for reading
        }
        if (n == 0) break;
        done += static_cast<DWORD>(n);
    }
    if (read) *read = done;
    return TRUE;
}

BOOL WriteFile(HANDLE handle, const void* buffer, DWORD toWrite, DWORD* written, void* /*overlapped*/)
{
    if (written) *written = 0;
    std::shared_ptr<FileHandle> file = LookUp(handle);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (!buffer && toWrite > 0) return Fail(ERROR_INVALID_PARAMETER);
    DWORD done = 0;
    const auto* bytes = static_cast<const char*>(buffer);
    while (done < toWrite) {
        ssize_t n = ::write(file->fd, bytes + done, toWrite - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (written) *written = done;
            if (n == 0) return Fail(ERROR_DISK_FULL);
            return Fail(errno == EBADF ? ERROR_ACCESS_DENIED : WinErrorFromErrno(errno, {}));  // not opened for writing
        }
        done += static_cast<DWORD>(n);
    }
    if (written) *written = done;
    return TRUE;
}

DWORD SetFilePointer(HANDLE handle, LONG distance, LONG* distanceHigh, DWORD moveMethod)
{
    constexpr DWORD kInvalid = 0xFFFFFFFFu;
    std::shared_ptr<FileHandle> file = LookUp(handle);
    if (!file) { SetLastError(ERROR_INVALID_HANDLE); return kInvalid; }
    std::int64_t offset = distanceHigh
        ? static_cast<std::int64_t>((static_cast<std::uint64_t>(static_cast<std::uint32_t>(*distanceHigh)) << 32)
                                    | static_cast<std::uint32_t>(distance))
        : static_cast<std::int64_t>(distance);
    std::int64_t base = 0;
    if (moveMethod == FILE_CURRENT) {
        base = lseek(file->fd, 0, SEEK_CUR);
    } else if (moveMethod == FILE_END) {
        struct stat st {};
        base = fstat(file->fd, &st) == 0 ? st.st_size : -1;
    } else if (moveMethod != FILE_BEGIN) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kInvalid;
    }
    if (base < 0) { SetLastError(WinErrorFromErrno(errno, {})); return kInvalid; }
    std::int64_t target = base + offset;
    if (target < 0) { SetLastError(kErrorNegativeSeek); return kInvalid; }
    // Without a high part the result must fit the low 32 bits.
    if (!distanceHigh && target >= static_cast<std::int64_t>(kInvalid)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return kInvalid;
    }
    if (lseek(file->fd, target, SEEK_SET) < 0) { SetLastError(WinErrorFromErrno(errno, {})); return kInvalid; }
    if (distanceHigh) *distanceHigh = static_cast<LONG>(static_cast<std::uint64_t>(target) >> 32);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(target & 0xFFFFFFFF);
}

BOOL FlushFileBuffers(HANDLE handle)
{
    std::shared_ptr<FileHandle> file = LookUp(handle);
    if (!file) return Fail(ERROR_INVALID_HANDLE);
    if (fsync(file->fd) != 0) return Fail(WinErrorFromErrno(errno, {}));
    return TRUE;
}

BOOL CloseHandle(HANDLE handle)
{
    std::lock_guard lock(g_HandlesLock);
    if (!g_Handles.erase(handle)) return Fail(ERROR_INVALID_HANDLE);
    return TRUE;
}

BOOL DeleteFileA(const char* path)
{
    if (!path) return Fail(ERROR_INVALID_PARAMETER);
    std::string native = NativePath(path);
    struct stat st {};
    if (native.empty()) return Fail(ERROR_PATH_NOT_FOUND);
    if (lstat(native.c_str(), &st) != 0) return Fail(WinErrorFromErrno(errno, native));
    if (S_ISDIR(st.st_mode)) return Fail(ERROR_ACCESS_DENIED);
    // Windows keeps a file that someone holds open (we never share delete access).
    if (S_ISREG(st.st_mode) && IsHeldOpen(native)) return Fail(ERROR_SHARING_VIOLATION);
    if (unlink(native.c_str()) != 0) return Fail(WinErrorFromErrno(errno, native));
    return TRUE;
}

BOOL MoveFileA(const char* existingName, const char* newName)
{
    if (!existingName || !newName) return Fail(ERROR_INVALID_PARAMETER);
    std::string from = NativePath(existingName);
    std::string to = NativePath(newName);
    struct stat st {};
    if (from.empty() || lstat(from.c_str(), &st) != 0)
        return Fail(from.empty() ? ERROR_PATH_NOT_FOUND : WinErrorFromErrno(errno, from));
    if (to.empty()) return Fail(ERROR_PATH_NOT_FOUND);
    if (S_ISREG(st.st_mode) && IsHeldOpen(from)) return Fail(ERROR_SHARING_VIOLATION);

    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return TRUE;
    if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP) return Fail(WinErrorFromErrno(errno, to));

    // The file system lacks RENAME_NOREPLACE: a hard link refuses an existing
    // name atomically; folders (and file systems without links) get a check.
    if (!S_ISDIR(st.st_mode)) {
        if (link(from.c_str(), to.c_str()) == 0) {
            unlink(from.c_str());
            return TRUE;
        }
        if (errno != EPERM && errno != EOPNOTSUPP) return Fail(WinErrorFromErrno(errno, to));
    }
    struct stat target {};
    if (lstat(to.c_str(), &target) == 0) return Fail(ERROR_ALREADY_EXISTS);
    if (rename(from.c_str(), to.c_str()) != 0) return Fail(WinErrorFromErrno(errno, to));
    return TRUE;
}
