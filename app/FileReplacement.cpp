#include "app/FileReplacement.h"

#include "app/Globals.h"
#include "platform/FileUtils.h"

namespace {

std::string FolderOf(const std::string& path)
{
    return path.substr(0, path.find_last_of("\\/"));
}

}  // namespace

std::string TargetPathOf(const std::string& copyTo, const std::string& fileName)
{
    return InstallDir + "\\" + copyTo + fileName;
}

std::string DownloadPathOf(const std::string& target)
{
    return target + "_";
}

std::string BackupPathOf(const std::string& target)
{
    return target + ".bak";
}

void RestoreOrphanedBackup(const std::string& target)
{
    if (FileExists(BackupPathOf(target)) && !FileExists(target))
        RenameFile(BackupPathOf(target), target);
}

bool InstallDownload(const std::string& target)
{
    const std::string download = DownloadPathOf(target);
    const std::string backup = BackupPathOf(target);
    if (!FileExists(target)) {
        if (!RenameFile(download, target))
            return false;
        FlushFolder(FolderOf(target));
        return true;
    }
    if (!RenameFile(target, backup))
        return false;
    if (!RenameFile(download, target)) {
        RenameFile(backup, target);  // at once: the installed file never waits for anyone
        return false;
    }
    // Deleted only once the new names are on disk; a backup that stays is
    // removed by the next run of this file.
    if (FlushFolder(FolderOf(target)))
        DeleteFile(backup);
    return true;
}
