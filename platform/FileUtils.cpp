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

std::string NativePath(const std::string& path)
{
    std::string native = path;
    std::replace(native.begin(), native.end(), '\\', '/');
    return native;
}
