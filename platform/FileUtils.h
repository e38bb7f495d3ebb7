// File helpers of the runtime over the Win32 file functions.
#pragma once

// On Windows DeleteFile is a macro of windows.h: every user sees it, so that
// the definition and the calls name the same function.
#include "platform/Win32.h"

#include <string>

bool FileExists(const std::string& path);       // a directory is not a file
bool DirectoryExists(const std::string& path);  // a file is not a directory
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& oldName, const std::string& newName);  // never overwrites
// Until the disk holds the file's bytes, or the folder's names as they are now.
bool FlushFile(const std::string& path);
bool FlushFolder(const std::string& path);

// The path of this layer's Linux view of a "\"-separated path.
std::string NativePath(const std::string& path);
