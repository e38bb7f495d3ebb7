// File helpers of the runtime over the Win32 file functions.
#pragma once

#include <string>

bool FileExists(const std::string& path);       // a directory is not a file
bool DirectoryExists(const std::string& path);  // a file is not a directory
bool DeleteFile(const std::string& path);
bool RenameFile(const std::string& oldName, const std::string& newName);  // never overwrites

// The path of this layer's Linux view of a "\"-separated path.
std::string NativePath(const std::string& path);
