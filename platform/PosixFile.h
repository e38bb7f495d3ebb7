// Inside the platform layer only: Windows file rules on POSIX, shared by the
// Win32 file functions and TFileStream.
#pragma once

#include "Win32.h"

#include <string>

// Opens `nativePath` by CreateFileA's rules. Share mode 0 takes an exclusive
// flock, any other share mode a shared one, so an exclusive holder in any
// process refuses every other opener and is refused while others hold it.
// Truncation happens only once the lock is held. Returns the descriptor
// (close-on-exec), or -1 with `error` set to a Windows error number.
// `existed` tells whether the file was there before.
int OpenSharedFile(const std::string& nativePath, DWORD desiredAccess, DWORD shareMode,
                   DWORD creationDisposition, DWORD& error, bool& existed);

// The Windows error number for an errno of an operation on `nativePath`;
// ENOENT becomes ERROR_PATH_NOT_FOUND when the parent folder is missing.
DWORD WinErrorFromErrno(int err, const std::string& nativePath);

// The system's English text for a Windows error number of the file functions.
std::string WinErrorText(DWORD error);
