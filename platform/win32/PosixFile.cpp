// The file rules that TFileStream shares with the file functions, on the
// real CreateFileA: a C runtime descriptor over the handle.
#include "platform/PosixFile.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>

int OpenSharedFile(const std::string& nativePath, DWORD desiredAccess, DWORD shareMode,
                   DWORD creationDisposition, DWORD& error, bool& existed)
{
    existed = GetFileAttributesA(nativePath.c_str()) != INVALID_FILE_ATTRIBUTES;
    HANDLE handle = CreateFileA(nativePath.c_str(), desiredAccess, shareMode, nullptr, creationDisposition,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = GetLastError();
        return -1;
    }
    int flags = _O_BINARY | ((desiredAccess & GENERIC_WRITE) ? _O_RDWR : _O_RDONLY);
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle), flags);
    if (fd < 0) {
        CloseHandle(handle);
        error = ERROR_TOO_MANY_OPEN_FILES;
        return -1;
    }
    error = ERROR_SUCCESS;
    return fd;
}

DWORD WinErrorFromErrno(int err, const std::string&)
{
    // The C runtime keeps the system's number of its last failure.
    DWORD native = _doserrno;
    if (native != 0)
        return native;
    switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_FILE_NOT_FOUND;
    case EACCES: return ERROR_ACCESS_DENIED;
    case EBADF: return ERROR_INVALID_HANDLE;
    case ENOSPC: return ERROR_DISK_FULL;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    default: return ERROR_GEN_FAILURE;
    }
}

std::string WinErrorText(DWORD error)
{
    char* text = nullptr;
    DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                      FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, error, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                  reinterpret_cast<char*>(&text), 0, nullptr);
    if (length == 0 || !text)
        return "System error " + std::to_string(error) + ".";
    std::string result(text, length);
    LocalFree(text);
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == ' '))
        result.pop_back();
    return result;
}
