// "Online &Update" starts one download worker per checked row, up to ten;
// "&Abort" ends a running check or every worker of a running run, until the last has ended.
#include "app/FileEntryRules.h"
#include "app/FileReplacement.h"
#include "app/Globals.h"
#include "app/HttpThr2.h"
#include "app/ManifestRules.h"
#include "app/UUpdateQVWin.h"
#include "http/HttpProt.h"
#include "platform/Win32.h"

#include <algorithm>
#include <vector>

namespace {

const char* const kRunningEnglish = "Quorvan is running, please close it.";
// Quorvan正在运行, 请先关闭Quorvan
const char* const kRunningChinese =
    "Quorvan\xd5\xfd\xd4\xda\xd4\xcb\xd0\xd0, \xc7\xeb\xcf\xc8\xb9\xd8\xb1\xd5Quorvan";

const char* const kNotUpdatedEnglish = "Not updated: 10 files per run";
// 未更新: 每次最多 10 个文件
const char* const kNotUpdatedChinese =
    "\xce\xb4\xb8\xfc\xd0\xc2: \xc3\xbf\xb4\xce\xd7\xee\xb6\xe0 10 \xb8\xf6\xce\xc4\xbc\xfe";

const char* const kSameFileEnglish = "Skipped, its file is taken by an earlier entry: ";
// 已跳过, 与前面的文件冲突:
const char* const kSameFileChinese =
    "\xd2\xd1\xcc\xf8\xb9\xfd, \xd3\xeb\xc7\xb0\xc3\xe6\xb5\xc4\xce\xc4\xbc\xfe\xb3\xe5\xcd\xbb: ";

}  // namespace

void TUpdateQVWin::ButtUpdateClick()
{
    const bool english = UpdateEng->Checked();
    const std::string baseURL = "http://" + (Server1->Checked() ? m_Server1Host : m_Server2Host);

    RunMode = 2;
    if (FindWindowA("Quorvan", nullptr) != nullptr) {
        MessageBoxA(nullptr, english ? kRunningEnglish : kRunningChinese, "QVUpdate", MB_OK);
        RunMode = 0;
        return;
    }
    ButtUpdate->SetEnabled(false);
    ButtExit->SetEnabled(false);
    ButtNext->SetEnabled(false);
    ButtAbort->SetEnabled(true);

    UpdateFileCount = 0;
    UpdateFiles.clear();
    std::vector<int> rowIndexes;  // of each entry
    TClaimedFiles claimed;
    for (int rowIndex = 0; rowIndex < FilesList->RowCount(); ++rowIndex) {
        if (!FilesList->Checked(rowIndex))
            continue;
        TUpdateFileInfo entry;
        entry.FileName = FilesList->Cell(rowIndex, TViewFileList::kColumnFiles);
        entry.Running = 1;
        entry.CopyTo = TrimControls(FilesList->Cell(rowIndex, TViewFileList::kColumnCopyTo));
        if (UpdateFileCount == kMaxWorkers) {
            // Said in the row, so that nobody takes it for updated.
            FilesList->SetCell(rowIndex, TViewFileList::kColumnStatus, english ? kNotUpdatedEnglish : kNotUpdatedChinese);
            continue;
        }
        // Two workers on one file would install one's bytes under the
        // other's name, or delete what the other installed.
        if (!claimed.Claim(TargetPathOf(entry.CopyTo, entry.FileName))) {
            UpdateMemo->Add(std::string(english ? kSameFileEnglish : kSameFileChinese) + entry.FileName);
            continue;
        }
        ++UpdateFileCount;
        UpdateFiles.push_back(entry);
        rowIndexes.push_back(rowIndex);
    }

    // Before any worker exists, so that no worker ever meets another's backup.
    for (const TUpdateFileInfo& entry : UpdateFiles)
        RestoreOrphanedBackup(TargetPathOf(entry.CopyTo, entry.FileName));

    for (std::int32_t i = 0; i < UpdateFileCount; ++i) {
        auto& slot = Workers[i];
        slot.reset();  // a worker of an earlier run, ended by now
        slot = std::make_unique<THTTPThread>(*this);
        slot->Setup(0);
        slot->SetFileName(UpdateFiles[i].FileName);
        slot->SetRowNo(rowIndexes[i] + 1);
        slot->SetEntryNo(i + 1);
        slot->SetLanguage(english ? 0 : 1);
        slot->SetCopyTo(UpdateFiles[i].CopyTo);
        slot->SetBaseURL(baseURL);
        slot->SetTimeout(m_DownloadTimeout);
        slot->SetRetryPause(m_RetryPause);
        slot->SetUpdateKey(m_UpdateKey);
        slot->SetReleaseVersion(TrimControls(NewestVersion));
        slot->Resume();
    }

    // Nothing to wait for: back to idle at once.
    if (UpdateFileCount == 0) {
        SetIdleButtons(true);
        RunMode = 0;
    }
}

void TUpdateQVWin::ButtAbortClick()
{
    // Every ended file sets RunMode to 0: a run lasts while any entry runs.
    const bool updating = std::any_of(UpdateFiles.begin(), UpdateFiles.begin() + UpdateFileCount,
                                      [](const TUpdateFileInfo& entry) { return entry.Running == 1; });
    if (RunMode == 2 || updating) {
        DisposeWorkers(true);
        RunMode = 0;
    } else if (RunMode == 1) {
        m_CheckAborted = true;
        CheckHttpCli->AbortRequest();
        RunMode = 0;
    }
}

void TUpdateQVWin::DisposeWorkers(bool abort)
{
    // All requests end first, so that the workers finish side by side.
    if (abort) {
        for (std::int32_t i = 0; i < kMaxWorkers; ++i) {
            const bool running = i < UpdateFileCount && i < static_cast<std::int32_t>(UpdateFiles.size()) &&
                                 UpdateFiles[i].Running == 1;
            if (Workers[i] && running)
                Workers[i]->AbortDownload();
        }
    }
    // Destroying a worker waits for its body, serving its hand-overs.
    for (auto& worker : Workers)
        worker.reset();
}
