// The updater's one window, as its logic: language and server choice, the
// commands, the log and the list of the release's files. It drives a view
// (UpdateView.h) and knows no toolkit.
#pragma once

#include "app/DownloadAttempts.h"
#include "app/ReleaseSignature.h"
#include "app/UpdateView.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class THttpCli;

class TUpdateQVWin {
public:
    // Gives the view's controls their captions and states and takes its
    // events; the view must outlive the window. The update hosts ("host" or
    // "host:port") are the build's.
    explicit TUpdateQVWin(TUpdateView& view);
    TUpdateQVWin(TUpdateView& view, const std::string& server1, const std::string& server2);
    ~TUpdateQVWin();
    TUpdateQVWin(const TUpdateQVWin&) = delete;
    TUpdateQVWin& operator=(const TUpdateQVWin&) = delete;

    TUpdateView& View() const { return m_View; }

    // Components: the view's controls, in the order they are declared.
    TViewButton* const ButtNext;
    TViewButton* const ButtExit;
    std::unique_ptr<THttpCli> CheckHttpCli;  // the update check's client
    TViewLabel* const DownPrecent;
    TViewButton* const ButtAbort;
    TViewButton* const ButtUpdate;
    TViewMemo* const UpdateMemo;
    TViewLabel* const LabelOnlineUpdate;
    TViewFileList* const FilesList;
    TViewRadioButton* const UpdateEng;
    TViewRadioButton* const UpdateChs;
    TViewRadioButton* const Server1;
    TViewRadioButton* const Server2;
    TViewButton* const Button1;
    TViewMemo* const Memo2;

    // Handlers.
    void FormShow();
    bool FormCloseQuery();
    void UpdateEngClick();
    void UpdateChsClick();
    void ButtExitClick();
    void Button1Click();
    void ButtNextClick();    // the update check (UpdateCheck.cpp)
    void ButtUpdateClick();  // starts an update run (UpdateRun.cpp)
    void ButtAbortClick();   // ends a check or an update run (UpdateRun.cpp)

    void SwitchLanguage(bool chinese);

    // Reads the stored manifest at `fileName` into the log and the file
    // list and sets NewestVersion; true when its release is newer than
    // this one. Raises EManifestError or EStreamError when the file cannot
    // be read or line 1 is not a number. (Manifest.cpp)
    bool ReadManifest(const std::string& fileName);

    const std::string& Server1Host() const { return m_Server1Host; }
    const std::string& Server2Host() const { return m_Server2Host; }
    // Seconds without an answer after which a download fails.
    std::int32_t DownloadTimeout() const { return m_DownloadTimeout; }
    void SetDownloadTimeout(std::int32_t seconds) { m_DownloadTimeout = seconds; }
    // Milliseconds before the first retry of a lost check or download.
    std::int32_t RetryPause() const { return m_RetryPause; }
    void SetRetryPause(std::int32_t ms) { m_RetryPause = ms; }

    // The public key releases must be signed with (the base64 line of the
    // publisher's minisign.pub); empty: nothing is checked. The build's by
    // default; raises std::invalid_argument for a text that is no key.
    const std::optional<TMinisignPublicKey>& UpdateKey() const { return m_UpdateKey; }
    void SetUpdateKey(const std::string& line);

    // "&Check", "&Exit" and "&Abort" as when nothing runs; "Online &Update" as given.
    void SetIdleButtons(bool updateEnabled);

private:
    // The controls as the window is designed, before any click.
    void InitComponents();
    void ConnectEvents();
    void CreateCheckClient();
    // With a key: fetches and checks the stored manifest's signature and
    // logs the outcome; false when the manifest must not be read.
    // (ManifestSignature.cpp)
    bool ManifestSigned(const std::string& manifestPath);
    // Ends every worker of the latest run and empties its slots.
    void DisposeWorkers(bool abort);

    TUpdateView& m_View;
    std::string m_Server1Host;
    std::string m_Server2Host;
    std::int32_t m_DownloadTimeout = 60;
    std::int32_t m_RetryPause = kFirstRetryPauseMs;
    bool m_CheckAborted = false;  // "&Abort" during the running check
    std::optional<TMinisignPublicKey> m_UpdateKey;
};

// The main window, for the parts that reach it from elsewhere.
extern TUpdateQVWin* UpdateQVWin;
