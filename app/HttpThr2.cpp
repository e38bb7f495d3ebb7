#include "app/HttpThr2.h"

#include "app/Globals.h"
#include "app/ManifestRules.h"
#include "app/ResponseRules.h"
#include "app/SignatureCheck.h"
#include "app/UUpdateQVWin.h"
#include "http/HttpProt.h"
#include "platform/FileUtils.h"
#include "platform/Streams.h"
#include "platform/Win32.h"

#include <cmath>
#include <limits>
#include <stdexcept>

namespace {

// Status texts, English and Chinese (GBK).
struct TStatusTexts {
    const char* Connecting;
    const char* ReplaceFailed;
    const char* Success;
    const char* Failed;
    const char* Retrying;
};

const TStatusTexts kEnglishStatus = {"Connect server ...", "Update failed", "Update Success", "Update Failed",
                                     "Connection lost, retrying ..."};

const TStatusTexts kChineseStatus = {
    "\xd5\xfd\xd4\xda\xc1\xac\xbd\xd3\xb7\xfe\xce\xf1\xc6\xf7 ...",  // 正在连接服务器 ...
    "\xc9\xfd\xbc\xb6\xca\xa7\xb0\xdc",                              // 升级失败
    "\xc9\xfd\xbc\xb6\xb3\xc9\xb9\xa6",                              // 升级成功
    "\xc9\xfd\xbc\xb6\xca\xa7\xb0\xdc",                              // 升级失败
    "\xc1\xac\xbd\xd3\xb6\xcf\xbf\xaa, \xd5\xfd\xd4\xda\xd6\xd8\xca\xd4 ...",  // 连接断开, 正在重试 ...
};

}  // namespace

THTTPThread::THTTPThread(TUpdateQVWin& window) : TThread(true), m_Window(window), m_Timeout(kHttpTimeoutSeconds) {}

THTTPThread::~THTTPThread()
{
    // The body may still wait in its request: end it before the base class
    // waits for the thread.
    AbortDownload();
    Terminate();
    try {
        WaitFor();  // on the main thread, serving the body's hand-overs
    } catch (const std::logic_error&) {
        // Never resumed: there is no body to wait for.
    }
}

std::string THTTPThread::TargetPath() const
{
    return TargetPathOf(m_CopyTo, m_FileName);
}

void THTTPThread::AbortDownload()
{
    m_AbortRequested = true;
    m_Pause.Cancel();
    std::lock_guard lock(m_CliMutex);
    if (m_HttpCli)
        m_HttpCli->AbortRequest();  // posted to the client's own thread
}

void THTTPThread::Execute()
{
    const TStatusTexts& texts = m_Language != 0 ? kChineseStatus : kEnglishStatus;
    m_FileURL = m_BaseURL + (m_Language != 0 ? "/update/chs/" : "/update/eng/") + m_FileName;
    m_ExpectedSize = 0;
    m_Succeeded = false;

    try {
        m_Succeeded = Download();
    } catch (const std::exception&) {
        m_Succeeded = false;
    }

    if (m_Succeeded) {
        SetStatus(texts.Success);
    } else {
        // A backup is never touched here: the step that made it put it back.
        KeepOrDropDownload();
        SetStatus(m_SignatureRefused ? SignatureInvalidStatus(m_Language != 0) : texts.Failed);
    }
    Synchronize([this] { FinishEntry(); });

    std::lock_guard lock(m_CliMutex);
    m_HttpCli.reset();
}

bool THTTPThread::Download()
{
    const TStatusTexts& texts = m_Language != 0 ? kChineseStatus : kEnglishStatus;
    {
        auto client = std::make_unique<THttpCli>();
        client->SetMultiThreaded(true);
        client->SetTimeout(m_Timeout);
        std::lock_guard lock(m_CliMutex);
        m_HttpCli = std::move(client);
    }
    if (m_UpdateKey && !AcceptSignature())
        return false;
    m_HttpCli->OnDocData = [this](THttpCli* sender, const void* buffer, std::int32_t len) {
        CliDocData(sender, buffer, len);
    };
    m_HttpCli->OnHeaderData = [this](THttpCli* sender) { CliHeaderData(sender); };
    m_HttpCli->OnHeaderEnd = [this](THttpCli* sender) { CliHeaderEnd(sender); };
    // A range holds only while the file is the one its bytes came from (RFC 7233 3.2).
    m_HttpCli->OnBeforeHeaderSend = [this](THttpCli*, const std::string&, std::vector<std::string>& lines) {
        if (m_RangeStart > 0 && lines.back().rfind("Range: ", 0) == 0)
            lines.push_back("If-Range: " + m_Resume.Validator);
    };

    if (FileExists(BackupPath()) && FileExists(TargetPath()))
        DeleteFile(BackupPath());  // left by an earlier run whose target is in place
    m_Resume = TakeResumeRecord(TargetPath(), m_FileURL).value_or(TResumeRecord{m_FileURL, "", -1, 0});

    SetStatus(texts.Connecting);
    m_HttpCli->SetURL(m_FileURL);
    m_HttpCli->SetProxy(m_ProxyHost);
    TTry result = TTry::Failed;
    for (int retry = 0; retry <= kMoreTries; ++retry) {
        // Kept bytes of another file are dropped and the file asked for at once.
        if (retry > 0 && result == TTry::Lost) {
            SetStatus(texts.Retrying);
            if (!m_Pause.Wait(RetryPauseMs(retry, m_RetryPause)))
                return false;
        }
        if (m_AbortRequested || Terminated())
            return false;
        result = TryOnce();
        if (result == TTry::Complete || result == TTry::Failed || m_AbortRequested)
            break;
    }
    if (result != TTry::Complete)
        return false;
    // The bytes reach the disk before the file takes the target's name.
    if (!FlushFile(DownloadPath())) {
        SetStatus(texts.ReplaceFailed);
        return false;
    }
    if (m_Signature && !SignatureVerified())
        return false;
    Synchronize([this] { ReplaceFile(); });
    if (m_Succeeded)
        DeleteFile(ResumeRecordPathOf(TargetPath()));
    return m_Succeeded;
}

THTTPThread::TTry THTTPThread::TryOnce()
{
    // A folder that does not exist or cannot be written fails here.
    m_RangeStart = m_Resume.Resumable() ? m_Resume.Kept : 0;
    if (m_RangeStart > 0) {
        m_Download = std::make_unique<TFileStream>(DownloadPath(), TFileStream::Mode::OpenReadWrite);
        RestartHash();
        m_Download->Seek(m_RangeStart, TStream::Origin::Beginning);
        m_HttpCli->SetContentRangeBegin(std::to_string(m_RangeStart));
        m_HttpCli->SetContentRangeEnd("");  // else the last 206's end would be asked for again
    } else {
        m_Download = std::make_unique<TFileStream>(DownloadPath(), TFileStream::Mode::Create);
        RestartHash();
        m_Resume.Kept = 0;
    }
    m_Answer = TAnswer::Other;
    m_HttpCli->SetReceiveStream(nullptr);  // until the answer has been judged
    bool ended = true;
    try {
        m_HttpCli->BlockingGet();
    } catch (const std::exception&) {
        ended = false;
    }
    m_HttpCli->SetReceiveStream(nullptr);
    const bool written = (m_Answer == TAnswer::Append || m_Answer == TAnswer::FromZero) && m_Download;
    if (written)
        m_Resume.Kept = m_Download->Size();
    m_Hashing.reset();
    m_Download.reset();

    if (m_Answer == TAnswer::StartOver)
        return TTry::StartOver;
    if (!ended)
        return !m_AbortRequested && LostConnection(*m_HttpCli) ? TTry::Lost : TTry::Failed;
    // Only a file whose every byte is there is installed.
    const bool whole = m_Answer == TAnswer::FromZero ? ReceivedWhole(*m_HttpCli)
                                                     : CompletesFile(*m_HttpCli, m_RangeStart, m_Resume.Total);
    if (written && whole && m_Resume.Kept == m_Resume.Total)
        return TTry::Complete;
    const TStatusTexts& texts = m_Language != 0 ? kChineseStatus : kEnglishStatus;
    SetStatus(texts.ReplaceFailed);
    return TTry::Failed;
}

void THTTPThread::CliHeaderEnd(THttpCli* sender)
{
    sender->SetReceiveStream(nullptr);
    m_Answer = TAnswer::Other;
    const TAnswer answer = JudgeAnswer(*sender, m_RangeStart, m_Resume);
    if (answer == TAnswer::FromZero && m_RangeStart > 0) {
        m_Hashing.reset();
        m_Download.reset();  // held exclusively: closed before it is made again
        m_RangeStart = 0;
        m_Download = std::make_unique<TFileStream>(DownloadPath(), TFileStream::Mode::Create);
        RestartHash();
    }
    m_Answer = answer;
    if (answer == TAnswer::Append || answer == TAnswer::FromZero)
        sender->SetReceiveStream(ReceivingStream());
    // The kept bytes are not this file's: the rest is not worth receiving.
    if (m_Answer == TAnswer::StartOver && sender->RequestState() == TRequestState::rsReceivingBody)
        sender->AbortRequest();
}

void THTTPThread::KeepOrDropDownload()
{
    m_Hashing.reset();
    m_Download.reset();
    if (m_Resume.Resumable() && SaveResumeRecord(TargetPath(), m_Resume))
        return;
    DeleteFile(DownloadPath());
}

void THTTPThread::SetStatus(const std::string& text)
{
    m_StatusText = text;
    if (IsMainThread()) {
        ShowStatus();
        return;
    }
    // The window shows the same text either way; a repeat costs a hand-over.
    if (text == m_ShownText)
        return;
    m_ShownText = text;
    Synchronize([this] { ShowStatus(); });
}

void THTTPThread::ShowStatus()
{
    TViewFileList& list = *m_Window.FilesList;
    if (m_RowNo >= 1 && m_RowNo <= list.RowCount())
        list.SetCell(m_RowNo - 1, TViewFileList::kColumnStatus, m_StatusText);
}

void THTTPThread::ReplaceFile()
{
    const TStatusTexts& texts = m_Language != 0 ? kChineseStatus : kEnglishStatus;
    m_Succeeded = true;
    auto fail = [&] {
        SetStatus(texts.ReplaceFailed);
        m_Succeeded = false;
    };

    if (FindWindowA("Quorvan", nullptr) != nullptr) {
        fail();
        return;
    }
    if (!InstallDownload(TargetPath()))
        fail();
}

void THTTPThread::FinishEntry()
{
    if (m_EntryNo >= 1 && m_EntryNo <= static_cast<std::int32_t>(UpdateFiles.size()))
        UpdateFiles[m_EntryNo - 1].Running = 0;
    bool anyRunning = false;
    for (std::int32_t i = 0; i < UpdateFileCount && i < static_cast<std::int32_t>(UpdateFiles.size()); ++i)
        anyRunning = anyRunning || UpdateFiles[i].Running == 1;
    if (!anyRunning)
        m_Window.SetIdleButtons(true);
    RunMode = 0;
}

void THTTPThread::CliHeaderData(THttpCli* sender)
{
    // Only the field named Content-Length counts, as the client read it; a
    // relocation's length goes with its response.
    const auto length = sender->ContentLength();
    m_ExpectedSize = length > 0 && length <= std::numeric_limits<std::int32_t>::max()
                         ? static_cast<std::int32_t>(length) : 0;
}

void THTTPThread::CliDocData(THttpCli* sender, const void*, std::int32_t)
{
    if (m_ExpectedSize == 0)
        return;
    // A resumed file goes on from the bytes it kept.
    const double percent = static_cast<double>(m_RangeStart + sender->ReceivedCount()) /
                           static_cast<double>(m_RangeStart + static_cast<std::uint32_t>(m_ExpectedSize)) * 100.0;
    SetStatus(std::to_string(static_cast<std::int64_t>(std::trunc(percent))) + "%");
    PostMessageA(sender->WindowHandle(), 1, 0, 0);
}
