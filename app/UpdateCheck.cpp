// "&Check": fetch the chosen channel's manifest from the chosen server into
// the installation directory, read it, and delete it again.
#include "app/DownloadAttempts.h"
#include "app/Globals.h"
#include "app/ResponseRules.h"
#include "app/UUpdateQVWin.h"
#include "http/HttpProt.h"
#include "platform/FileUtils.h"
#include "platform/Streams.h"

#include <memory>

void TUpdateQVWin::ButtNextClick()
{
    const std::string& host = Server1->Checked() ? m_Server1Host : m_Server2Host;
    UpdateIniURL = "http://" + host + (UpdateEng->Checked() ? "/update/eng/update.ini" : "/update/chs/update.ini");
    RunMode = 1;
    m_CheckAborted = false;
    FilesList->Clear();
    UpdateMemo->Clear();
    UpdateMemo->Add("start to get newest version infomation ....");

    const std::string manifestPath = InstallDir + "\\update.ini";
    std::unique_ptr<TFileStream> manifest;
    try {
        CheckHttpCli->SetURL(UpdateIniURL);
        manifest = std::make_unique<TFileStream>(manifestPath, TFileStream::Mode::Create);
        CheckHttpCli->SetReceiveStream(manifest.get());
        ButtNext->SetEnabled(false);
        ButtAbort->SetEnabled(true);
        ButtExit->SetEnabled(false);
        ButtUpdate->SetEnabled(false);
        UpdateMemo->Add("Loading...");
    } catch (const std::exception&) {
        CheckHttpCli->SetReceiveStream(nullptr);
        UpdateMemo->Add("Online Update failed, please restart online update program.");
        return;
    }

    bool fetched = false;
    for (int retry = 0; !fetched && retry <= kMoreTries; ++retry) {
        try {
            // A lost connection is tried again, the manifest from its start.
            if (retry > 0) {
                if (!LostConnection(*CheckHttpCli) || m_CheckAborted ||
                    !PauseOnMainThread(RetryPauseMs(retry, m_RetryPause), [this] { return m_CheckAborted; }))
                    break;
                CheckHttpCli->SetReceiveStream(nullptr);
                manifest.reset();
                manifest = std::make_unique<TFileStream>(manifestPath, TFileStream::Mode::Create);
                CheckHttpCli->SetReceiveStream(manifest.get());
            }
            CheckHttpCli->BlockingGet();
            // A manifest cut short would list too few files, or half a name.
            fetched = ReceivedAsAnnounced(*CheckHttpCli);
            break;
        } catch (const std::exception&) {
            fetched = false;
        }
    }
    if (!fetched) {
        manifest.reset();
        CheckHttpCli->SetReceiveStream(nullptr);
        SetIdleButtons(false);
        UpdateMemo->Add("Can not get newest version infomation.");
        if (FileExists(manifestPath))
            DeleteFile(manifestPath);
        RunMode = 0;
        return;
    }
    manifest.reset();
    CheckHttpCli->SetReceiveStream(nullptr);
    if (!ManifestSigned(manifestPath)) {
        SetIdleButtons(false);
        DeleteFile(manifestPath);
        RunMode = 0;
        return;
    }

    try {
        manifest.reset();
        CheckHttpCli->SetReceiveStream(nullptr);
        const bool newer = ReadManifest(manifestPath);
        ButtUpdate->SetEnabled(newer && FilesList->RowCount() > 0);
    } catch (const std::exception&) {
        UpdateMemo->Add("Can not get the newest infomation");
        ButtUpdate->SetEnabled(false);
    }
    if (FileExists(manifestPath))
        DeleteFile(manifestPath);
    ButtNext->SetEnabled(true);
    ButtAbort->SetEnabled(false);
    ButtExit->SetEnabled(true);
}
