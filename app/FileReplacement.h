// Replacing an installed file by renaming, in an order that leaves the
// installed file, or its backup, on disk whatever moment a crash or a power
// cut comes: the new file is on disk before it takes the target's name, and
// the backup goes only once the folder holds the new names.
#pragma once

#include <string>

// The installed file of an entry: InstallDir + "\" + destination + name.
std::string TargetPathOf(const std::string& copyTo, const std::string& fileName);

// Where the new file is downloaded, and where the installed one waits
// while the new one takes its name.
std::string DownloadPathOf(const std::string& target);
std::string BackupPathOf(const std::string& target);

// A run that stopped between the two renames left the installed file under
// the backup's name only: it goes back. Main thread, before any worker.
void RestoreOrphanedBackup(const std::string& target);

// The download file in the target's place; false when it could not be put
// there, with the installed file back under its own name.
bool InstallDownload(const std::string& target);
