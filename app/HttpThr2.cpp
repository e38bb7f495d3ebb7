#include "app/HttpThr2.h"

#include "app/AnsiWidgets.h"
#include "app/Globals.h"
#include "app/ManifestRules.h"
#include "app/ResponseRules.h"
#include "app/SignatureCheck.h"
#include "app/UUpdateQVWin.h"
#include "http/HttpProt.h"
#include "platform/FileUtils.h"
#include "platform/Streams.h"
#include "platform/Win32.h"

#include <QPushButton>
#include <QTreeWidget>

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
};

const TStatusTexts kEnglishStatus = {"Connect server ...", "Update failed", "Update Success", "Update Failed"};

const TStatusTexts kChineseStatus = {
    "\xd5\xfd\xd4\xda\xc1\xac\xbd\xd3\xb7\xfe\xce\xf1\xc6\xf7 ...",  // 正在连接服务器 ...
    "\xc9\xfd\xbc\xb6\xca\xa7\xb0\xdc",                              // 升级失败
    "\xc9\xfd\xbc\xb6\xb3\xc9\xb9\xa6",                              // 升级成功
    "\xc9\xfd\xbc\xb6\xca\xa7\xb0\xdc",                              // 升级失败
};

constexpr int kColumnStatus = 1;

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
        DeleteFile(DownloadPath());
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
    // A folder that does not exist or cannot be written fails here.
    auto download = std::make_unique<TFileStream>(DownloadPath(), TFileStream::Mode::Create);
    std::unique_ptr<THashingStream> hashing;
    if (m_Signature)
        hashing = std::make_unique<THashingStream>(*download, *m_Signature);
    m_HttpCli->SetReceiveStream(hashing ? static_cast<TStream*>(hashing.get()) : download.get());
    m_HttpCli->OnDocData = [this](THttpCli* sender, const void* buffer, std::int32_t len) {
        CliDocData(sender, buffer, len);
    };
    m_HttpCli->OnHeaderData = [this](THttpCli* sender) { CliHeaderData(sender); };

    if (FileExists(BackupPath()) && FileExists(TargetPath()))
        DeleteFile(BackupPath());  // left by an earlier run whose target is in place

    SetStatus(texts.Connecting);
    m_HttpCli->SetURL(m_FileURL);
    m_HttpCli->SetProxy(m_ProxyHost);
    if (m_AbortRequested || Terminated())
        return false;
    try {
        m_HttpCli->BlockingGet();
    } catch (...) {
        m_HttpCli->SetReceiveStream(nullptr);
        throw;
    }
    m_HttpCli->SetReceiveStream(nullptr);
    download.reset();

    if (m_AbortRequested || CutShort(*m_HttpCli))
        return false;
    // The bytes reach the disk before the file takes the target's name.
    if (!DownloadComplete() || !FlushFile(DownloadPath())) {
        SetStatus(texts.ReplaceFailed);
        return false;
    }
    if (m_Signature && !SignatureVerified())
        return false;
    Synchronize([this] { ReplaceFile(); });
    return m_Succeeded;
}

bool THTTPThread::DownloadComplete() const
{
    return ReceivedWhole(*m_HttpCli);
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
    if (QTreeWidgetItem* row = m_Window.FilesList->topLevelItem(m_RowNo - 1))
        SetItemText(*row, kColumnStatus, m_StatusText);
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
    const double percent =
        static_cast<double>(sender->ReceivedCount()) / static_cast<std::uint32_t>(m_ExpectedSize) * 100.0;
    SetStatus(std::to_string(static_cast<std::int64_t>(std::trunc(percent))) + "%");
    PostMessageA(sender->WindowHandle(), 1, 0, 0);
}
