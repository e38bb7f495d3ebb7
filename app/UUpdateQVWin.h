// The updater's one window: language and server choice, the commands, the
// log and the list of the release's files.
#pragma once

#include "app/AnsiWidgets.h"
#include "app/DownloadAttempts.h"
#include "app/ReleaseSignature.h"

#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class QCloseEvent;
class THttpCli;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QShowEvent;
class QTreeWidget;

class TUpdateQVWin : public QWidget {
public:
    // The update hosts ("host" or "host:port") are the build's.
    explicit TUpdateQVWin(QWidget* parent = nullptr);
    TUpdateQVWin(const std::string& server1, const std::string& server2, QWidget* parent = nullptr);
    ~TUpdateQVWin() override;

    // Components, owned by the window, in the order they are declared.
    QPushButton* ButtNext = nullptr;
    QPushButton* ButtExit = nullptr;
    std::unique_ptr<THttpCli> CheckHttpCli;  // the update check's client
    QLabel* DownPrecent = nullptr;
    QPushButton* ButtAbort = nullptr;
    QPushButton* ButtUpdate = nullptr;
    TAnsiMemo* UpdateMemo = nullptr;
    QLabel* LabelOnlineUpdate = nullptr;
    QTreeWidget* FilesList = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* UpdateEng = nullptr;
    QRadioButton* UpdateChs = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QRadioButton* Server1 = nullptr;
    QRadioButton* Server2 = nullptr;
    QPushButton* Button1 = nullptr;
    QFrame* Panel1 = nullptr;
    TAnsiMemo* Memo2 = nullptr;

    // Handlers.
    void FormShow();
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

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateComponents();
    void SetTabOrder();
    void CentreOnScreen();
    void CreateCheckClient();
    // With a key: fetches and checks the stored manifest's signature and
    // logs the outcome; false when the manifest must not be read.
    // (ManifestSignature.cpp)
    bool ManifestSigned(const std::string& manifestPath);
    // Ends every worker of the latest run and empties its slots.
    void DisposeWorkers(bool abort);

    std::string m_Server1Host;
    std::string m_Server2Host;
    std::int32_t m_DownloadTimeout = 60;
    std::int32_t m_RetryPause = kFirstRetryPauseMs;
    bool m_CheckAborted = false;  // "&Abort" during the running check
    std::optional<TMinisignPublicKey> m_UpdateKey;
};

// The main window, for the parts that reach it from elsewhere.
extern TUpdateQVWin* UpdateQVWin;
