// THTTPThread: one file of an update run. Downloads the file with a client
// of its own into target + "_", then, on the main thread, replaces the
// installed file by renaming, keeping target + ".bak" until that worked.
// Everything the window shows is handed to the main thread.
#pragma once

#include "app/DownloadAttempts.h"
#include "app/FileReplacement.h"
#include "app/ResumeRecord.h"
#include "app/ReleaseSignature.h"
#include "platform/Thread.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

class TFileStream;
class TStream;
class THttpCli;
class TSignatureCheck;
class TUpdateQVWin;

class THTTPThread : public TThread {
public:
    // Created suspended: the update run configures it, then resumes it.
    explicit THTTPThread(TUpdateQVWin& window);
    ~THTTPThread() override;

    void Setup(std::int32_t slot) { m_Slot = slot; }
    std::int32_t Slot() const { return m_Slot; }

    // Set by the update run before Resume.
    const std::string& FileName() const { return m_FileName; }
    void SetFileName(const std::string& value) { m_FileName = value; }
    std::int32_t RowNo() const { return m_RowNo; }  // 1-based row of the file list
    void SetRowNo(std::int32_t value) { m_RowNo = value; }
    std::int32_t EntryNo() const { return m_EntryNo; }  // 1-based entry of UpdateFiles
    void SetEntryNo(std::int32_t value) { m_EntryNo = value; }
    std::int32_t Language() const { return m_Language; }  // 0 English, else Chinese
    void SetLanguage(std::int32_t value) { m_Language = value; }
    const std::string& CopyTo() const { return m_CopyTo; }
    void SetCopyTo(const std::string& value) { m_CopyTo = value; }
    const std::string& BaseURL() const { return m_BaseURL; }  // "http://" + host, no trailing slash
    void SetBaseURL(const std::string& value) { m_BaseURL = value; }
    // Seconds without an answer after which the download fails.
    std::int32_t Timeout() const { return m_Timeout; }
    void SetTimeout(std::int32_t value) { m_Timeout = value; }
    // Milliseconds before the first retry of a lost connection; doubled for each next one.
    std::int32_t RetryPause() const { return m_RetryPause; }
    void SetRetryPause(std::int32_t value) { m_RetryPause = value; }
    // With a key, the file is installed only if its signature is by that
    // key and names the file and ReleaseVersion (the manifest's line 1).
    const std::optional<TMinisignPublicKey>& UpdateKey() const { return m_UpdateKey; }
    void SetUpdateKey(const std::optional<TMinisignPublicKey>& value) { m_UpdateKey = value; }
    const std::string& ReleaseVersion() const { return m_ReleaseVersion; }
    void SetReleaseVersion(const std::string& value) { m_ReleaseVersion = value; }

    // Read once the worker has ended.
    const std::string& StatusText() const { return m_StatusText; }
    const std::string& FileURL() const { return m_FileURL; }
    bool Succeeded() const { return m_Succeeded; }

    std::string TargetPath() const;
    std::string DownloadPath() const { return DownloadPathOf(TargetPath()); }
    std::string BackupPath() const { return BackupPathOf(TargetPath()); }

    // Main thread: ends the download; the worker then takes its failure
    // path. The abort itself runs on the worker's thread.
    void AbortDownload();

protected:
    void Execute() override;

private:
    bool Download();
    // One request for what is missing of the file.
    enum class TTry { Complete, Lost, StartOver, Failed };
    TTry TryOnce();
    void CliHeaderEnd(THttpCli* sender);
    // A failed download stays for the next run only where it can resume.
    void KeepOrDropDownload();
    // The signature's two steps (WorkerSignature.cpp): before the download
    // and once it is complete; false when refused.
    bool AcceptSignature();
    bool SignatureVerified();
    // A try's hash starts again: over the kept bytes, read back from the
    // download file, then over what arrives (WorkerSignature.cpp).
    void RestartHash();
    TStream* ReceivingStream() const;
    void SetStatus(const std::string& text);
    void ShowStatus();
    void ReplaceFile();
    void FinishEntry();
    void CliHeaderData(THttpCli* sender);
    void CliDocData(THttpCli* sender, const void* buffer, std::int32_t len);

    TUpdateQVWin& m_Window;
    std::string m_StatusText;
    std::string m_ShownText;  // the status last handed over, to skip repeats
    std::int32_t m_ExpectedSize = 0;
    std::int32_t m_Language = 0;
    std::int32_t m_EntryNo = 0;
    std::int32_t m_RowNo = 0;
    std::string m_FileURL;
    std::string m_FileName;
    std::string m_BaseURL;
    std::string m_CopyTo;
    std::string m_ProxyHost;  // never set: downloads go straight to the server
    std::int32_t m_Slot = 0;
    std::int32_t m_Timeout = 60;
    std::int32_t m_RetryPause = kFirstRetryPauseMs;
    TResumeRecord m_Resume;
    std::int64_t m_RangeStart = 0;  // of the running request
    TAnswer m_Answer = TAnswer::Other;
    std::unique_ptr<TFileStream> m_Download;
    TRetryPause m_Pause;
    bool m_Succeeded = false;
    std::optional<TMinisignPublicKey> m_UpdateKey;
    std::string m_ReleaseVersion;
    std::unique_ptr<TSignatureCheck> m_Signature;  // with a key, from AcceptSignature on
    std::unique_ptr<TStream> m_Hashing;  // m_Download seen through m_Signature
    bool m_SignatureRefused = false;

    // The client lives on the worker's thread; the mutex lets the main
    // thread reach it for an abort while it exists.
    std::mutex m_CliMutex;
    std::unique_ptr<THttpCli> m_HttpCli;
    std::atomic<bool> m_AbortRequested{false};
};
