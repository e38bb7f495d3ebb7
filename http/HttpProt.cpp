#include "http/HttpProt.h"

#include "platform/Application.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <mutex>
#include <utility>

namespace {

constexpr UINT_PTR kTimeoutTimerId = 1;
constexpr int kMaxRelocations = 20;
constexpr std::int32_t kErrorTimedOut = 10060;  // WSAETIMEDOUT
constexpr std::int32_t kErrorCutShort = 10053;  // WSAECONNABORTED
constexpr std::int32_t kErrorAborted = 3;
// A response header may hold this much in all; its lines are bounded by the
// receive buffer.
constexpr std::int64_t kMaxHeaderBytes = 256 * 1024;
// One receive of the body: fewer, larger pieces cost fewer calls and
// messages per byte.
constexpr std::size_t kBodyPieceSize = 256 * 1024;

std::string UpperPrefix(const std::string& text, std::size_t count)
{
    std::string prefix = text.substr(0, count);
    std::transform(prefix.begin(), prefix.end(), prefix.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return prefix;
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string ErrorTextWithNumber(int error)
{
    return SocketErrorText(error) + " (Error #" + std::to_string(error) + ")";
}

// A control byte would end the request line or start a line of its own.
bool HasControlBytes(const std::string& text)
{
    return std::any_of(text.begin(), text.end(), [](unsigned char c) { return c < 0x20 || c == 0x7F; });
}

}  // namespace

LRESULT HttpCliWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* client = reinterpret_cast<THttpCli*>(GetWindowLongPtrA(window, 0));
    if (client == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    try {
        return client->HandleWindowMessage(message, wParam, lParam);
    } catch (const std::exception&) {
        // A handler's failure must not unwind through the message loop;
        // the request itself has already ended or goes on.
        return 0;
    }
}

// ---- construction -------------------------------------------------------------

THttpCli::THttpCli()
    : m_OwnerThreadId(GetCurrentThreadId())
{
    CreateMessageWindow();
    m_CtrlSocket = std::make_unique<TWSocket>();
    // One piece per socket event: with a peer faster than the client, the
    // socket's loop would hold the thread in one event for the whole body,
    // while each piece's messages (the next FD_READ, a handler's own posts)
    // pile up in its queue. The close still delivers all that is left.
    m_CtrlSocket->SetComponentOptions({TWSocketOption::wsoNoReceiveLoop});
    WireSocketEvents();
}

THttpCli::~THttpCli()
{
    StopTimeout();
    // The socket's own close on destruction must not call back into a
    // client that is going away.
    m_CtrlSocket->OnDnsLookupDone = nullptr;
    m_CtrlSocket->OnSessionConnected = nullptr;
    m_CtrlSocket->OnDataAvailable = nullptr;
    m_CtrlSocket->OnDataSent = nullptr;
    m_CtrlSocket->OnSessionClosed = nullptr;
    m_CtrlSocket->OnError = nullptr;
    m_CtrlSocket->OnSocksConnected = nullptr;
    m_CtrlSocket->OnSocksError = nullptr;
    m_CtrlSocket.reset();
    DestroyMessageWindow();
}

void THttpCli::CreateMessageWindow()
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        WNDCLASSA windowClass{};  // the system's structure has no defaults
        windowClass.lpfnWndProc = HttpCliWindowProc;
        windowClass.cbWndExtra = sizeof(LONG_PTR);
        windowClass.lpszClassName = kHttpCliWindowClassName;
        RegisterClassA(&windowClass);
    });
    m_WindowHandle = CreateWindowExA(WS_EX_TOOLWINDOW, kHttpCliWindowClassName, "", WS_POPUP, 0, 0, 0, 0,
                                     nullptr, nullptr, nullptr, nullptr);
    if (m_WindowHandle == nullptr)
        throw EHttpException("Cannot create the HTTP client's window", 404);
    SetWindowLongPtrA(m_WindowHandle, 0, reinterpret_cast<LONG_PTR>(this));
}

void THttpCli::DestroyMessageWindow()
{
    if (m_WindowHandle == nullptr)
        return;
    SetWindowLongPtrA(m_WindowHandle, 0, 0);
    DestroyWindow(m_WindowHandle);
    m_WindowHandle = nullptr;
}

void THttpCli::WireSocketEvents()
{
    TWSocket* socket = m_CtrlSocket.get();
    socket->OnDnsLookupDone = [this](TCustomWSocket* s, WORD e) { HandleLookupDone(s, e); };
    socket->OnSessionConnected = [this](TCustomWSocket* s, WORD e) { HandleSessionConnected(s, e); };
    socket->OnDataAvailable = [this](TCustomWSocket* s, WORD e) { HandleDataAvailable(s, e); };
    socket->OnDataSent = [this](TCustomWSocket* s, WORD e) { HandleDataSent(s, e); };
    PointSessionClosedAt(&THttpCli::HandleSessionClosed);
    socket->OnError = [this](TCustomWSocket*) {
        if (OnSocketError)
            OnSocketError(this);
    };
    socket->OnSocksConnected = [this](auto&&... args) {
        if (OnSocksConnected)
            OnSocksConnected(args...);
    };
    socket->OnSocksError = [this](auto&&... args) {
        if (OnSocksError)
            OnSocksError(args...);
    };
}

void THttpCli::PointSessionClosedAt(void (THttpCli::*handler)(TCustomWSocket*, WORD))
{
    m_CtrlSocket->OnSessionClosed = [this, handler](TCustomWSocket* s, WORD e) { (this->*handler)(s, e); };
}

// A bound set after a response's range starts a range of its own: the
// other bound of that response is not asked for again.
void THttpCli::SetContentRangeBegin(const std::string& value)
{
    if (m_RangeFromResponse)
        m_ContentRangeEnd.clear();
    m_ContentRangeBegin = value;
    m_RangeFromResponse = false;
}

void THttpCli::SetContentRangeEnd(const std::string& value)
{
    if (m_RangeFromResponse)
        m_ContentRangeBegin.clear();
    m_ContentRangeEnd = value;
    m_RangeFromResponse = false;
}

void THttpCli::SetMultiThreaded(bool value)
{
    m_MultiThreaded = value;
    m_CtrlSocket->SetMultiThreaded(value);
}

// ---- starting, waiting, aborting ----------------------------------------------

void THttpCli::StartRequest(THttpRequest kind)
{
    if (m_RequestState != TRequestState::rsIdle)
        throw EHttpException("HTTP component is busy", 1);
    if (kind == THttpRequest::hrPost && m_UploadStream == nullptr)
        throw EHttpException("HTTP component has nothing to post", 2);

    // The request's SOCKS settings are taken now: every close of the socket
    // clears them, and a relocation's connection must use them too.
    m_RequestSocks = {SocksServer(), SocksLevel(), SocksPort()};
    // A response without a body may have left its connection open.
    if (m_CtrlSocket->State() != TSocketState::wsClosed) {
        m_CtrlSocket->OnSessionClosed = nullptr;
        m_CtrlSocket->Close();
    }
    ++m_RequestSerial;
    m_RelocationCount = 0;
    m_RelocationPending = false;
    PointSessionClosedAt(&THttpCli::HandleSessionClosed);
    // Set first, so that a request aborted as it starts reports its kind.
    m_RequestKind = kind;
    ChangeState(TRequestState::rsStarting);
    if (m_RequestState != TRequestState::rsStarting)
        return;  // aborted by a state-change handler
    ResetResponse();
    ComputeRequestTarget(m_URL, m_Proxy, m_ProxyPort, m_Target, m_Port, m_Username, m_Password);
    m_CredentialsHost = m_Target.TargetHost;
    DeriveDocumentName();
    StartConnection();
}

void THttpCli::ResetResponse()
{
    m_ResponseHeader.clear();
    m_DoneError = 0;
    m_Target.DocumentName.clear();
    m_ResponseStatus = 0;
    m_ResponseReason.clear();
    m_ReceivedCount = 0;
    m_UploadedCount = 0;
    m_HeaderLineCount = 0;
    m_DocChunkCount = 0;
    m_ContentType.clear();
    m_Posting = false;
    m_InHeader = false;
    m_ContentLength = -1;
    m_Target.CurrentUrl = m_URL;
}

void THttpCli::RunRequest(THttpRequest kind)
{
    StartRequest(kind);
    while (m_RequestState != TRequestState::rsIdle) {
        if (m_MultiThreaded) {
            WaitMessage();
            m_CtrlSocket->PumpMessages();
        } else {
            ApplicationProcessMessages();
            // The application is ending: nobody waits for the document.
            if (ApplicationTerminated() && m_RequestState != TRequestState::rsIdle)
                AbortRequest();
        }
        Sleep(0);
    }
    if (m_ResponseStatus >= 400)
        throw EHttpException(m_ResponseReason, static_cast<std::uint16_t>(m_ResponseStatus));
}

void THttpCli::AbortRequest()
{
    if (GetCurrentThreadId() != m_OwnerThreadId) {
        // Only the owning thread touches the client and its socket.
        PostMessageA(m_WindowHandle, MSG_CLIENT_ABORT, m_RequestSerial.load(), 0);
        return;
    }
    if (m_RequestState == TRequestState::rsIdle) {
        if (m_CtrlSocket->State() != TSocketState::wsClosed)
            m_CtrlSocket->Close();
        return;
    }
    if (m_RequestState == TRequestState::rsAborting)
        return;
    EndRunningRequest("Connection aborted on request", kErrorAborted);
}

void THttpCli::EndRunningRequest(const std::string& reason, std::int32_t doneError)
{
    const bool wasResolving = m_RequestState == TRequestState::rsResolving;
    ChangeState(TRequestState::rsAborting);
    if (wasResolving) {
        try {
            m_CtrlSocket->CancelLookup();
        } catch (const std::exception&) {
            // The lookup ends either way; its late result is ignored.
        }
    }
    m_ResponseStatus = 404;
    m_ResponseReason = reason;
    m_DoneError = doneError;
    // A relocation in progress is not followed.
    m_RelocationPending = false;
    PointSessionClosedAt(&THttpCli::HandleSessionClosed);
    if (wasResolving)
        HandleSessionClosed(m_CtrlSocket.get(), 0);
    else
        m_CtrlSocket->Close();
    ChangeState(TRequestState::rsIdle);
}

void THttpCli::FailConnection(const std::string& reason)
{
    m_ResponseStatus = 404;
    m_ResponseReason = reason;
    m_RelocationPending = false;
    m_ReceiveBuffer.Clear();
    PointSessionClosedAt(&THttpCli::HandleSessionClosed);
    CloseConnection();
}

void THttpCli::CloseConnection()
{
    m_CtrlSocket->Close();
    m_IsConnected = false;
}

// ---- the connection -----------------------------------------------------------

void THttpCli::StartConnection()
{
    m_ResolvedAddr.clear();
    // Bytes left from an earlier connection never belong to this one.
    m_ReceiveBuffer.Clear();
    m_ResponseEnded = false;
    m_HeaderBytes = 0;
    ChangeState(TRequestState::rsResolving);
    if (m_RequestState != TRequestState::rsResolving)
        return;
    RestartTimeout();
    try {
        m_CtrlSocket->SetLocalAddr(m_LocalAddr);
        if (!m_RequestSocks.Server.empty()) {
            m_CtrlSocket->SetSocksServer(m_RequestSocks.Server);
            m_CtrlSocket->SetSocksLevel(m_RequestSocks.Level);
            m_CtrlSocket->SetSocksPort(m_RequestSocks.Port);
        }
        m_CtrlSocket->DnsLookup(m_Target.ConnectHost);
    } catch (const std::exception& e) {
        m_ResponseStatus = 404;
        m_ResponseReason = e.what();
        m_IsConnected = false;
        ChangeState(TRequestState::rsIdle);
    }
}

void THttpCli::HandleLookupDone(TCustomWSocket* sender, WORD error)
{
    // An aborted or timed-out lookup may still report.
    if (m_RequestState != TRequestState::rsResolving)
        return;
    RestartTimeout();
    if (error != 0) {
        m_DoneError = error;
        m_ResponseStatus = 404;
        m_ResponseReason = "can't resolve hostname to IP address";
        HandleSessionClosed(sender, error);
        return;
    }
    m_ResolvedAddr = m_CtrlSocket->DnsResult();
    ChangeState(TRequestState::rsConnecting);
    if (m_RequestState != TRequestState::rsConnecting)
        return;
    // The socket would take a port name; a URL names a number.
    const std::string failure = IsPortNumber(m_Port) ? ConnectSocket() : "invalid port " + m_Port;
    if (!failure.empty())
        FailConnect(sender, failure);
}

std::string THttpCli::ConnectSocket()
{
    // Without a handler the socket raises its failures with their reason,
    // instead of leaving the request with no socket to wait for.
    auto onError = std::exchange(m_CtrlSocket->OnError, nullptr);
    std::string failure;
    try {
        m_CtrlSocket->SetAddr(m_ResolvedAddr);
        m_CtrlSocket->SetLocalAddr(m_LocalAddr);
        m_CtrlSocket->SetPort(m_Port);
        m_CtrlSocket->SetProto("tcp");
        m_CtrlSocket->Connect();
    } catch (const std::exception& e) {
        failure = e.what();
        if (failure.empty())
            failure = "socket failure";
    }
    m_CtrlSocket->OnError = std::move(onError);
    if (!failure.empty() && OnSocketError)
        OnSocketError(this);
    return failure;
}

void THttpCli::FailConnect(TCustomWSocket* sender, const std::string& reason)
{
    // A failing system call is worded by its error number; any other
    // failure (a bad setting) by its own text.
    const std::int32_t lastError = m_CtrlSocket->LastError();
    const bool systemError =
        lastError != 0 && reason.rfind("Error " + std::to_string(lastError) + " in function ", 0) == 0;
    m_DoneError = systemError ? lastError : WSAEINVAL;
    m_ResponseStatus = 404;
    m_ResponseReason = "can't connect: " + (systemError ? ErrorTextWithNumber(lastError) : reason);
    m_CtrlSocket->Close();
    HandleSessionClosed(sender, static_cast<WORD>(m_DoneError));
}

void THttpCli::HandleSessionConnected(TCustomWSocket* sender, WORD error)
{
    if (m_RequestState != TRequestState::rsConnecting)
        return;
    RestartTimeout();
    if (error != 0) {
        m_DoneError = error;
        m_ResponseStatus = 404;
        m_ResponseReason = ErrorTextWithNumber(error);
        HandleSessionClosed(sender, error);
        return;
    }
    m_IsConnected = true;
    ChangeState(TRequestState::rsConnected);
    if (m_RequestState != TRequestState::rsConnected)
        return;
    FireSessionConnected();
    if (m_RequestState != TRequestState::rsConnected)
        return;
    m_LineHandler = &THttpCli::ProcessHeaderLine;
    ChangeState(TRequestState::rsAwaitingHeader);
    if (m_RequestState != TRequestState::rsAwaitingHeader)
        return;
    try {
        static const char* const kMethods[] = {"GET", "GET", "POST", "HEAD"};
        ComposeAndSend(kMethods[static_cast<int>(m_RequestKind)], "1.0");
        if (m_RequestKind == THttpRequest::hrPost && m_RequestState == TRequestState::rsAwaitingHeader) {
            FireSendBegin();
            m_Posting = true;
            HandleDataSent(sender, 0);
        }
    } catch (const std::exception&) {
        CloseConnection();
    }
}

void THttpCli::HandleSessionClosed(TCustomWSocket* sender, WORD error)
{
    m_IsConnected = false;
    // A connection kept open after an ended response closes later: nothing
    // of it concerns the request any more.
    if (m_RequestState == TRequestState::rsIdle || m_ResponseEnded)
        return;
    m_ResponseEnded = true;
    if (error != 0)
        m_DoneError = error;
    // Closed before it was established, and nothing said why (a SOCKS
    // server that could not be asked, for one): that is no success.
    if (m_RequestState == TRequestState::rsConnecting && m_ResponseStatus == 0) {
        m_ResponseStatus = 404;
        m_ResponseReason = error != 0 ? ErrorTextWithNumber(error) : "Connection closed before it was established";
    }
    // What is left of a document without a final line end is still its.
    if (m_RequestState == TRequestState::rsReceivingBody && m_ReceiveBuffer.Fill() > 0 &&
        m_LineHandler == &THttpCli::ProcessDocumentData) {
        m_CurrentLine = m_ReceiveBuffer.TakeAll();
        m_Piece = m_CurrentLine;
        ProcessDocumentData();
    }
    // A document shorter than announced is no document (the client's own
    // close of an error response and the failures have their status).
    if (m_RequestState == TRequestState::rsReceivingBody && m_ContentLength > 0 &&
        m_ReceivedCount < m_ContentLength && m_ResponseStatus < 400) {
        m_ResponseStatus = 404;
        m_ResponseReason = "Document cut short: " + std::to_string(m_ReceivedCount) + " of " +
                           std::to_string(m_ContentLength) + " bytes";
        if (m_DoneError == 0)
            m_DoneError = kErrorCutShort;
    }
    if (m_InHeader) {
        FireHeaderEnd();
        if (m_RelocationPending)
            FollowLocation(sender, error);
        else
            PostSetIdle();
        return;
    }
    if (m_DocChunkCount > 0)
        FireDocEnd();
    PostSetIdle();
}

// ---- the request ----------------------------------------------------------------

void THttpCli::ComposeAndSend(const std::string& method, const std::string& version)
{
    m_RequestBuffer.clear();
    FireRequestHeaderBegin();

    TRequestHeaderValues values;
    values.RequestTarget = m_Target.RequestTarget;
    values.TargetHost = m_Target.TargetHost;
    values.Proxy = m_Proxy;
    values.Sender = m_Sender;
    values.Accept = m_Accept;
    values.Reference = m_Reference;
    values.AcceptLanguage = m_AcceptLanguage;
    values.ContentTypePost = m_ContentTypePost;
    values.Agent = m_Agent;
    values.Icy_MetaData = m_Icy_MetaData;
    values.Bandwidth = m_Bandwidth;
    values.ClientID = m_ClientID;
    values.GUID = m_GUID;
    values.RegionData = m_RegionData;
    values.SupportsMaximumASMBandwidth = m_SupportsMaximumASMBandwidth;
    values.Accept_Encoding = m_Accept_Encoding;
    values.NoCache = m_NoCache;
    if (method == "POST" && m_UploadStream != nullptr)
        values.UploadSize = m_UploadStream->Size();
    values.ModifiedSince = m_ModifiedSince;
    // Credentials given for one host are not handed to another.
    if (m_Target.TargetHost == m_CredentialsHost) {
        values.Username = m_Username;
        values.Password = m_Password;
    }
    values.ProxyUsername = m_ProxyUsername;
    values.ProxyPassword = m_ProxyPassword;
    values.Cookie = m_Cookie;
    if (!m_RangeFromResponse) {
        values.ContentRangeBegin = m_ContentRangeBegin;
        values.ContentRangeEnd = m_ContentRangeEnd;
    }
    std::vector<std::string> lines = BuildRequestHeader(method, version, values);
    // A range serves one request only.
    m_ContentRangeBegin.clear();
    m_ContentRangeEnd.clear();
    m_RangeFromResponse = false;
    m_AcceptRanges.clear();

    FireBeforeHeaderSend(method, lines);
    for (const std::string& line : lines)
        SendHeaderLine(line);
    FireRequestHeaderEnd();
    SendHeaderLine("");
    if (m_RequestState == TRequestState::rsAwaitingHeader)
        m_CtrlSocket->Send(m_RequestBuffer.data(), static_cast<std::int32_t>(m_RequestBuffer.size()));
    m_RequestBuffer.clear();
}

void THttpCli::SendHeaderLine(const std::string& line)
{
    std::string copy = line;
    if (OnCommand)
        OnCommand(this, copy);
    m_RequestBuffer += copy;
    m_RequestBuffer += "\r\n";
}

void THttpCli::HandleDataSent(TCustomWSocket*, WORD)
{
    RestartTimeout();
    if (!m_Posting)
        return;
    std::int32_t count = 0;
    try {
        count = m_UploadStream->Read(m_UploadBuffer.data(), static_cast<std::int32_t>(m_UploadBuffer.size()));
    } catch (const std::exception& e) {
        // A body cut short must not end as a success.
        m_Posting = false;
        FailConnection(e.what());
        return;
    }
    if (count <= 0) {
        m_Posting = false;
        FireSendEnd();
        return;
    }
    m_UploadedCount += count;
    FireSendData(m_UploadBuffer.data(), count);
    m_CtrlSocket->Send(m_UploadBuffer.data(), count);
}

// ---- the response ---------------------------------------------------------------

void THttpCli::HandleDataAvailable(TCustomWSocket*, WORD error)
{
    RestartTimeout();
    if (ResponseOver()) {
        if (m_ReceiveBuffer.Space() <= 0)
            m_ReceiveBuffer.Clear();
        const std::int32_t count =
            m_CtrlSocket->Receive(m_ReceiveBuffer.WritePosition(), m_ReceiveBuffer.Space());
        if (count > 0) {
            m_ReceiveBuffer.Commit(count);
            DropUnsolicitedData(error);
        }
        return;
    }
    if (m_RequestState == TRequestState::rsReceivingBody && m_ReceiveBuffer.Fill() == 0) {
        ReceiveBodyPiece();
        return;
    }
    if (m_ReceiveBuffer.Space() <= 0) {
        // A header line this long cannot be held: the request fails rather
        // than waiting for a line end that has no room.
        FailConnection("HTTP line too long");
        throw EHttpException("HTTP line too long", 4);
    }
    const std::int32_t count = m_CtrlSocket->Receive(m_ReceiveBuffer.WritePosition(), m_ReceiveBuffer.Space());
    if (m_RequestKind == THttpRequest::hrNone || count <= 0)
        return;
    m_ReceiveBuffer.Commit(count);

    if (m_RequestState == TRequestState::rsReceivingBody) {
        m_CurrentLine = m_ReceiveBuffer.TakeAll();
        m_Piece = m_CurrentLine;
        if (m_LineHandler)
            (this->*m_LineHandler)();
        else
            PostSetIdle();
        return;
    }
    while (m_ReceiveBuffer.Fill() > 0) {
        // What follows the end of a response is no part of it.
        if (ResponseOver()) {
            DropUnsolicitedData(error);
            return;
        }
        if (!m_ReceiveBuffer.TakeLine(m_CurrentLine))
            return;
        m_Piece = m_CurrentLine;
        if (m_LineHandler)
            (this->*m_LineHandler)();
        else
            PostSetIdle();
    }
}

void THttpCli::ReceiveBodyPiece()
{
    m_BodyBuffer.resize(kBodyPieceSize);
    const std::int32_t count =
        m_CtrlSocket->Receive(m_BodyBuffer.data(), static_cast<std::int32_t>(m_BodyBuffer.size()));
    if (m_RequestKind == THttpRequest::hrNone || count <= 0)
        return;
    m_Piece = std::string_view(m_BodyBuffer.data(), static_cast<std::size_t>(count));
    if (m_LineHandler)
        (this->*m_LineHandler)();
    else
        PostSetIdle();
}

bool THttpCli::ResponseOver() const
{
    return m_ResponseEnded || m_RequestKind == THttpRequest::hrNone ||
           (m_RequestState != TRequestState::rsAwaitingHeader && m_RequestState != TRequestState::rsReceivingBody);
}

void THttpCli::DropUnsolicitedData(WORD error)
{
    int lines = 0;
    std::string line;
    while (m_ReceiveBuffer.TakeLine(line))
        ++lines;
    m_ReceiveBuffer.Clear();
    // The peer is out of step with the requests: its connection goes first,
    // so that a handler may start the next request.
    if (m_CtrlSocket->State() != TSocketState::wsClosed)
        CloseConnection();
    for (int i = 0; i < lines && OnUnsolicitedData; ++i)
        OnUnsolicitedData(this, error);
}

void THttpCli::ProcessHeaderLine()
{
    if (m_HeaderLineCount == 0)
        FireHeaderBegin();
    ++m_HeaderLineCount;
    m_HeaderBytes += static_cast<std::int64_t>(m_CurrentLine.size()) + 2;
    if (m_HeaderBytes > kMaxHeaderBytes) {
        FailConnection("HTTP header too long");
        return;
    }

    // Some servers send a page with no header at all.
    if (UpperPrefix(m_CurrentLine, 6) == "<HTML>") {
        if (m_ContentType.empty())
            m_ContentType = "text/html";
        ChangeState(TRequestState::rsReceivingBody);
        if (m_RequestState != TRequestState::rsReceivingBody)
            return;
        m_LineHandler = &THttpCli::ProcessDocumentData;
        FireHeaderEnd();
        if (m_RequestState == TRequestState::rsReceivingBody)
            ProcessDocumentData();
        return;
    }
    if (m_CurrentLine.empty()) {
        EndHeader();
        return;
    }
    m_ResponseHeader.push_back(m_CurrentLine);
    if (const auto status = ParseStatusLine(m_CurrentLine)) {
        m_ResponseStatus = status->Status;
        m_ResponseReason = status->Reason;
    } else if (const auto field = SplitHeaderField(m_CurrentLine)) {
        InterpretHeaderField(*field);
        if (m_ResponseEnded)
            return;  // the field failed the response
    }
    if (OnHeaderData)
        OnHeaderData(this);
}

void THttpCli::InterpretHeaderField(const THeaderField& field)
{
    if (field.Name == "location") {
        if (HasControlBytes(field.Value)) {
            FailConnection("Invalid location");
            return;
        }
        m_RelocationPending = true;
        if (ApplyLocation(field.Value, !m_Proxy.empty(), m_Target, m_Port, m_Username, m_Password))
            m_CredentialsHost = m_Target.TargetHost;
    } else if (field.Name == "content-length") {
        // A length that is no number is as good as none, and erases no
        // other; two that differ leave the body's end unknown (RFC 7230 3.3.2).
        const auto length = ParseContentLength(field.Value);
        if (length && m_ContentLength >= 0 && *length != m_ContentLength) {
            FailConnection("Conflicting Content-Length");
            return;
        }
        if (length)
            m_ContentLength = *length;
    } else if (field.Name == "content-range") {
        ParseContentRange(field.Value, m_ContentRangeBegin, m_ContentRangeEnd);
        m_RangeFromResponse = true;
    } else if (field.Name == "accept-ranges") {
        m_AcceptRanges = field.Value;
    } else if (field.Name == "content-type") {
        m_ContentType = Lower(field.Value);
    } else if (field.Name == "www-authenticate") {
        m_WwwAuthenticate.push_back(field.Value);
    } else if (field.Name == "set-cookie") {
        bool accept = true;
        FireCookie(field.Value, accept);
    }
}

bool THttpCli::ResponseHasNoBody() const
{
    // RFC 1945 7.2: these never carry a body, whatever length they announce.
    return m_RequestKind == THttpRequest::hrHead || m_ResponseStatus == 204 || m_ResponseStatus == 304;
}

void THttpCli::EndHeader()
{
    if (m_RelocationPending) {
        // The body of a relocating response is never read.
        FireHeaderEnd();
        m_ReceiveBuffer.Clear();
        m_HeaderLineCount = 0;
        m_DocChunkCount = 0;
        PointSessionClosedAt(&THttpCli::FollowLocation);
        m_CtrlSocket->Close();
        return;
    }
    if (m_ContentLength == 0 || ResponseHasNoBody()) {
        m_ResponseEnded = true;
        FireHeaderEnd();
        PostSetIdle();
        return;
    }
    ApplyHtmlNameRule(m_Target.DocumentName, m_ContentType);
    ChangeState(TRequestState::rsReceivingBody);
    if (m_RequestState != TRequestState::rsReceivingBody)
        return;  // aborted by a state-change handler
    m_LineHandler = &THttpCli::ProcessDocumentData;
    FireHeaderEnd();
    if (m_RequestState != TRequestState::rsReceivingBody)
        return;
    if (m_ReceiveBuffer.Fill() > 0) {
        m_CurrentLine = m_ReceiveBuffer.TakeAll();
        m_Piece = m_CurrentLine;
        ProcessDocumentData();
    }
    // Of an error response only what came with the header is delivered.
    if (m_ResponseStatus >= 400 && m_RequestState == TRequestState::rsReceivingBody)
        m_CtrlSocket->Close();
}

void THttpCli::ProcessDocumentData()
{
    // The announced length is all of the document. More bytes than that
    // make the length doubtful, the document perhaps cut: it is delivered
    // as announced, and the request fails.
    std::string_view piece = m_Piece;
    const std::int64_t left = m_ContentLength - m_ReceivedCount;
    const bool longer = m_ContentLength >= 0 && static_cast<std::int64_t>(piece.size()) > left;
    if (longer)
        piece = piece.substr(0, static_cast<std::size_t>(std::max<std::int64_t>(left, 0)));
    if (m_DocChunkCount == 0)
        FireDocBegin();
    ++m_DocChunkCount;
    const auto length = static_cast<std::int32_t>(piece.size());
    m_ReceivedCount += length;
    if (m_ReceiveStream != nullptr) {
        try {
            m_ReceiveStream->WriteBuffer(piece.data(), length);
        } catch (const std::exception& e) {
            // A document that could not be stored must not end as a success.
            FailConnection(e.what());
            return;
        }
    }
    FireDocData(piece.data(), length);
    if (longer && m_RequestState == TRequestState::rsReceivingBody) {
        FailConnection("Document longer than announced");
        return;
    }
    // A server that keeps the connection alive would otherwise hold the
    // request until its own time-out.
    if (m_ContentLength > 0 && m_ReceivedCount >= m_ContentLength &&
        m_RequestState == TRequestState::rsReceivingBody && m_IsConnected)
        CloseConnection();
}

void THttpCli::DeriveDocumentName()
{
    m_Target.DocumentName = ::DeriveDocumentName(m_Target.DocumentName);
}

// ---- relocation -----------------------------------------------------------------

void THttpCli::FollowLocation(TCustomWSocket*, WORD)
{
    m_IsConnected = false;
    m_RelocationPending = false;
    // The body belongs to the relocated POST; the GET that follows has none.
    m_Posting = false;
    PointSessionClosedAt(&THttpCli::HandleSessionClosed);
    if (++m_RelocationCount > kMaxRelocations) {
        m_ResponseStatus = 404;
        m_ResponseReason = "Too many relocations";
        PostSetIdle();
        return;
    }
    const std::string url = m_Target.CurrentUrl.substr(0, m_Target.CurrentUrl.find('#'));
    m_Target.DocumentName = ParseUrl(url, "").Path;
    DeriveDocumentName();
    if (m_RequestKind == THttpRequest::hrPost)
        m_RequestKind = THttpRequest::hrGet;  // the body is not sent again
    if (OnLocationChange)
        OnLocationChange(this);
    m_ResponseHeader.clear();
    m_HeaderLineCount = 0;
    m_DocChunkCount = 0;
    m_ContentLength = -1;
    m_ContentType.clear();
    m_ResponseStatus = 0;
    if (!m_Proxy.empty()) {
        // Back to the proxy's port, the one named in Proxy included.
        const std::string proxyPort = ParseUrl(m_Proxy, "").Port;
        m_Port = proxyPort.empty() ? m_ProxyPort : proxyPort;
    }
    PostMessageA(m_WindowHandle, MSG_CLIENT_RECONNECT, m_RequestSerial, 0);
}

// ---- state and messages -----------------------------------------------------------

void THttpCli::ChangeState(TRequestState newState)
{
    if (newState == m_RequestState)
        return;
    m_RequestState = newState;
    // Posted before the handlers run: one of them may start the next
    // request, and the report is this one's.
    if (newState == TRequestState::rsIdle) {
        StopTimeout();
        PostRequestDone();
    }
    FireStateChange();
}

void THttpCli::PostRequestDone()
{
    // The ended request's values travel with the message, so that a request
    // started meanwhile cannot change what is reported.
    PostMessageA(m_WindowHandle, MSG_CLIENT_DONE, static_cast<WPARAM>(m_DoneError & 0xFFFF),
                 static_cast<LPARAM>(m_RequestKind));
}

void THttpCli::PostSetIdle()
{
    PostMessageA(m_WindowHandle, MSG_CLIENT_IDLE, m_RequestSerial, 0);
}

LRESULT THttpCli::HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case MSG_CLIENT_DONE:
        if (OnRequestDone)
            OnRequestDone(this, static_cast<THttpRequest>(lParam), static_cast<WORD>(wParam));
        return 0;
    case MSG_CLIENT_IDLE:
        if (wParam == m_RequestSerial)
            ChangeState(TRequestState::rsIdle);
        return 0;
    case MSG_CLIENT_RECONNECT:
        if (wParam == m_RequestSerial && m_RequestState == TRequestState::rsAwaitingHeader)
            StartConnection();
        return 0;
    case MSG_CLIENT_ABORT:
        if (wParam == m_RequestSerial)
            AbortRequest();
        return 0;
    case WM_TIMER:
        if (wParam == kTimeoutTimerId) {
            HandleTimeout();
            return 0;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(m_WindowHandle, message, wParam, lParam);
}

void THttpCli::RestartTimeout()
{
    if (m_Timeout <= 0 || m_RequestState == TRequestState::rsIdle)
        return;
    const auto seconds = std::min<std::int32_t>(m_Timeout, std::numeric_limits<std::int32_t>::max() / 1000);
    SetTimer(m_WindowHandle, kTimeoutTimerId, static_cast<UINT>(seconds) * 1000u, nullptr);
}

void THttpCli::StopTimeout()
{
    if (m_WindowHandle != nullptr)
        KillTimer(m_WindowHandle, kTimeoutTimerId);
}

void THttpCli::HandleTimeout()
{
    StopTimeout();
    if (m_RequestState == TRequestState::rsIdle || m_RequestState == TRequestState::rsAborting)
        return;
    EndRunningRequest("Connection timed out", kErrorTimedOut);
}

// ---- events -------------------------------------------------------------------------

void THttpCli::FireStateChange()
{
    if (OnStateChange)
        OnStateChange(this);
}

void THttpCli::FireCookie(const std::string& data, bool& accept)
{
    if (OnCookie)
        OnCookie(this, data, accept);
}

void THttpCli::FireSessionConnected()
{
    if (OnSessionConnected)
        OnSessionConnected(this);
}

void THttpCli::FireBeforeHeaderSend(const std::string& method, std::vector<std::string>& headers)
{
    if (OnBeforeHeaderSend)
        OnBeforeHeaderSend(this, method, headers);
}

void THttpCli::FireRequestHeaderBegin()
{
    if (OnRequestHeaderBegin)
        OnRequestHeaderBegin(this);
}

void THttpCli::FireRequestHeaderEnd()
{
    if (OnRequestHeaderEnd)
        OnRequestHeaderEnd(this);
}

void THttpCli::FireHeaderBegin()
{
    m_InHeader = true;
    if (OnHeaderBegin)
        OnHeaderBegin(this);
}

void THttpCli::FireHeaderEnd()
{
    m_InHeader = false;
    if (OnHeaderEnd)
        OnHeaderEnd(this);
}

void THttpCli::FireDocBegin()
{
    if (OnDocBegin)
        OnDocBegin(this);
}

void THttpCli::FireDocData(const void* buffer, std::int32_t len)
{
    if (OnDocData)
        OnDocData(this, buffer, len);
}

void THttpCli::FireDocEnd()
{
    if (OnDocEnd)
        OnDocEnd(this);
}

void THttpCli::FireSendBegin()
{
    if (OnSendBegin)
        OnSendBegin(this);
}

void THttpCli::FireSendData(const void* buffer, std::int32_t len)
{
    if (OnSendData)
        OnSendData(this, buffer, len);
}

void THttpCli::FireSendEnd()
{
    if (OnSendEnd)
        OnSendEnd(this);
}
