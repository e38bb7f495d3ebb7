#include "FileUtils.h"
#include "Win32.h"

#include <algorithm>

bool FileExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DirectoryExists(const std::string& path)
{
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DeleteFile(const std::string& path)
{
    return DeleteFileA(path.c_str()) != FALSE;
}

bool RenameFile(const std::string& oldName, const std::string& newName)
{
    return MoveFileA(oldName.c_str(), newName.c_str()) != FALSE;
}

namespace {

bool FlushOpened(const std::string& path, DWORD flags)
{
    HANDLE handle = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool flushed = FlushFileBuffers(handle) != FALSE;
    CloseHandle(handle);
    return flushed;
}

}  // namespace

bool FlushFile(const std::string& path)
{
    return FlushOpened(path, FILE_ATTRIBUTE_NORMAL);
}

bool FlushFolder(const std::string& path)
{
    return FlushOpened(path, FILE_FLAG_BACKUP_SEMANTICS);
}

std::string NativePath(const std::string& path)
{
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}
