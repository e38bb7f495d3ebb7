// THttpCli: fetches one document at a time over HTTP/1.0 (RFC 1945),
// directly or through an HTTP proxy, driving one TWSocket purely by its
// events. Every event of the socket and every message of the client's own
// hidden window runs on the thread that created the client.
#pragma once

#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "http/ReceiveBuffer.h"
#include "http/UrlParser.h"
#include "platform/Streams.h"
#include "platform/Win32.h"
#include "socket/WSocket.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

enum class THttpRequest : std::uint8_t { hrNone, hrGet, hrPost, hrHead };

// Transitions (every change raises OnStateChange; every change to rsIdle
// posts MSG_CLIENT_DONE):
//   rsIdle           -> rsStarting        StartRequest, after its checks
//   rsStarting       -> rsResolving       StartConnection
//   rsResolving      -> rsConnecting      lookup done
//   rsResolving      -> rsIdle            DnsLookup raised, or lookup failed (via MSG_CLIENT_IDLE)
//   rsConnecting     -> rsConnected       connected
//   rsConnecting     -> rsIdle            connect failed (via MSG_CLIENT_IDLE)
//   rsConnected      -> rsAwaitingHeader  at once, before the request is sent
//   rsAwaitingHeader -> rsReceivingBody   header ended with a body to come, or an "<HTML>" line
//   rsAwaitingHeader -> rsIdle            no body, or closed during the header (via MSG_CLIENT_IDLE)
//   rsAwaitingHeader -> rsResolving       relocation: old connection closed, MSG_CLIENT_RECONNECT
//   rsReceivingBody  -> rsIdle            closed, or the announced length arrived (via MSG_CLIENT_IDLE)
//   any but rsIdle   -> rsAborting -> rsIdle   AbortRequest, or Timeout without activity
// rsConnected is numbered before rsResolving, as the request states always were.
enum class TRequestState : std::uint8_t {
    rsIdle, rsStarting, rsConnected, rsResolving, rsConnecting, rsAwaitingHeader, rsReceivingBody, rsAborting
};

class EHttpException : public std::exception {
public:
    EHttpException(std::string message, std::uint16_t errorCode)
        : m_Message(std::move(message)), m_ErrorCode(errorCode) {}
    const char* what() const noexcept override { return m_Message.c_str(); }
    const std::string& Message() const { return m_Message; }
    std::uint16_t ErrorCode() const { return m_ErrorCode; }

private:
    std::string m_Message;
    std::uint16_t m_ErrorCode;
};

// Messages of the client's hidden window.
constexpr UINT MSG_CLIENT_DONE = WM_USER + 1;
constexpr UINT MSG_CLIENT_IDLE = WM_USER + 2;
constexpr UINT MSG_CLIENT_RECONNECT = WM_USER + 3;
// AbortRequest called on another thread, handed to the client's own.
constexpr UINT MSG_CLIENT_ABORT = WM_USER + 4;

constexpr const char* kHttpCliWindowClassName = "THttpCliWindow";

class THttpCli {
public:
    THttpCli();
    // Does not abort a running request; never touches the user's streams.
    virtual ~THttpCli();
    THttpCli(const THttpCli&) = delete;
    THttpCli& operator=(const THttpCli&) = delete;

    // ---- properties ----------------------------------------------------
    const std::string& URL() const { return m_URL; }
    void SetURL(const std::string& value) { m_URL = value; }
    const std::string& Port() const { return m_Port; }
    void SetPort(const std::string& value) { m_Port = value; }
    const std::string& LocalAddr() const { return m_LocalAddr; }
    void SetLocalAddr(const std::string& value) { m_LocalAddr = value; }
    const std::string& Proxy() const { return m_Proxy; }
    void SetProxy(const std::string& value) { m_Proxy = value; }
    const std::string& ProxyPort() const { return m_ProxyPort; }
    void SetProxyPort(const std::string& value) { m_ProxyPort = value; }
    const std::string& Sender() const { return m_Sender; }
    void SetSender(const std::string& value) { m_Sender = value; }
    const std::string& Agent() const { return m_Agent; }
    void SetAgent(const std::string& value) { m_Agent = value; }
    const std::string& Accept() const { return m_Accept; }
    void SetAccept(const std::string& value) { m_Accept = value; }
    const std::string& AcceptLanguage() const { return m_AcceptLanguage; }
    void SetAcceptLanguage(const std::string& value) { m_AcceptLanguage = value; }
    const std::string& Reference() const { return m_Reference; }
    void SetReference(const std::string& value) { m_Reference = value; }
    const std::string& Username() const { return m_Username; }
    void SetUsername(const std::string& value) { m_Username = value; }
    const std::string& Password() const { return m_Password; }
    void SetPassword(const std::string& value) { m_Password = value; }
    const std::string& ProxyUsername() const { return m_ProxyUsername; }
    void SetProxyUsername(const std::string& value) { m_ProxyUsername = value; }
    const std::string& ProxyPassword() const { return m_ProxyPassword; }
    void SetProxyPassword(const std::string& value) { m_ProxyPassword = value; }
    bool NoCache() const { return m_NoCache; }
    void SetNoCache(bool value) { m_NoCache = value; }
    // Days since 30 December 1899, the time of day as the fraction; 0: none.
    double ModifiedSince() const { return m_ModifiedSince; }
    void SetModifiedSince(double value) { m_ModifiedSince = value; }
    const std::string& Cookie() const { return m_Cookie; }
    void SetCookie(const std::string& value) { m_Cookie = value; }
    const std::string& ContentTypePost() const { return m_ContentTypePost; }
    void SetContentTypePost(const std::string& value) { m_ContentTypePost = value; }
    // Filled also by a response's content-range, which no later request sends.
    const std::string& ContentRangeBegin() const { return m_ContentRangeBegin; }
    void SetContentRangeBegin(const std::string& value);
    const std::string& ContentRangeEnd() const { return m_ContentRangeEnd; }
    void SetContentRangeEnd(const std::string& value);
    const std::string& AcceptRanges() const { return m_AcceptRanges; }
    bool MultiThreaded() const { return m_MultiThreaded; }
    virtual void SetMultiThreaded(bool value);
    std::uint8_t HTTPStream() const { return m_HTTPStream; }
    void SetHTTPStream(std::uint8_t value) { m_HTTPStream = value; }
    std::int32_t Bandwidth() const { return m_Bandwidth; }
    void SetBandwidth(std::int32_t value) { m_Bandwidth = value; }
    const std::string& ClientID() const { return m_ClientID; }
    void SetClientID(const std::string& value) { m_ClientID = value; }
    const std::string& GUID() const { return m_GUID; }
    void SetGUID(const std::string& value) { m_GUID = value; }
    const std::string& RegionData() const { return m_RegionData; }
    void SetRegionData(const std::string& value) { m_RegionData = value; }
    const std::string& SupportsMaximumASMBandwidth() const { return m_SupportsMaximumASMBandwidth; }
    void SetSupportsMaximumASMBandwidth(const std::string& value) { m_SupportsMaximumASMBandwidth = value; }
    // Stored only; never sent.
    const std::string& Accept_Language() const { return m_Accept_Language; }
    void SetAccept_Language(const std::string& value) { m_Accept_Language = value; }
    const std::string& Icy_MetaData() const { return m_Icy_MetaData; }
    void SetIcy_MetaData(const std::string& value) { m_Icy_MetaData = value; }
    const std::string& Accept_Encoding() const { return m_Accept_Encoding; }
    void SetAccept_Encoding(const std::string& value) { m_Accept_Encoding = value; }
    // Seconds without socket activity after which a request fails; 0: never.
    std::int32_t Timeout() const { return m_Timeout; }
    void SetTimeout(std::int32_t value) { m_Timeout = value; }

    // SOCKS settings live in the socket; the client keeps no copy.
    std::string SocksServer() const { return m_CtrlSocket->SocksServer(); }
    void SetSocksServer(const std::string& value) { m_CtrlSocket->SetSocksServer(value); }
    std::string SocksLevel() const { return m_CtrlSocket->SocksLevel(); }
    void SetSocksLevel(const std::string& value) { m_CtrlSocket->SetSocksLevel(value); }
    std::string SocksPort() const { return m_CtrlSocket->SocksPort(); }
    void SetSocksPort(const std::string& value) { m_CtrlSocket->SetSocksPort(value); }
    std::string SocksUsercode() const { return m_CtrlSocket->SocksUsercode(); }
    void SetSocksUsercode(const std::string& value) { m_CtrlSocket->SetSocksUsercode(value); }
    std::string SocksPassword() const { return m_CtrlSocket->SocksPassword(); }
    void SetSocksPassword(const std::string& value) { m_CtrlSocket->SetSocksPassword(value); }
    TSocksAuthentication SocksAuthentication() const { return m_CtrlSocket->SocksAuthentication(); }
    void SetSocksAuthentication(TSocksAuthentication value) { m_CtrlSocket->SetSocksAuthentication(value); }

    // ---- results and working data ----------------------------------------
    // The user owns both streams.
    TStream* ReceiveStream() const { return m_ReceiveStream; }
    void SetReceiveStream(TStream* value) { m_ReceiveStream = value; }
    TStream* UploadStream() const { return m_UploadStream; }
    void SetUploadStream(TStream* value) { m_UploadStream = value; }
    // Counted in 64 bits; these give the low 32 bits, as they always did.
    std::int32_t ReceivedCount() const { return static_cast<std::int32_t>(m_ReceivedCount); }
    std::int32_t UploadedCount() const { return static_cast<std::int32_t>(m_UploadedCount); }
    const std::vector<std::string>& ResponseHeader() const { return m_ResponseHeader; }
    std::int32_t ResponseStatus() const { return m_ResponseStatus; }
    const std::string& ResponseReason() const { return m_ResponseReason; }
    // -1 when none was announced; the low 32 bits of a longer one.
    std::int32_t ContentLength() const { return static_cast<std::int32_t>(m_ContentLength); }
    const std::string& ContentType() const { return m_ContentType; }
    const std::string& DocumentName() const { return m_Target.DocumentName; }
    const std::string& CurrentUrl() const { return m_Target.CurrentUrl; }
    TRequestState RequestState() const { return m_RequestState; }
    THttpRequest RequestKind() const { return m_RequestKind; }
    std::int32_t DoneError() const { return m_DoneError; }
    HWND WindowHandle() const { return m_WindowHandle; }
    bool IsConnected() const { return m_IsConnected; }
    const std::vector<std::string>& WwwAuthenticate() const { return m_WwwAuthenticate; }

    // ---- events (sender first) -------------------------------------------
    using TNotifyEvent = std::function<void(THttpCli* sender)>;
    using TDocDataEvent = std::function<void(THttpCli* sender, const void* buffer, std::int32_t len)>;
    TNotifyEvent OnTrace;  // never raised
    TNotifyEvent OnSessionConnected;
    TNotifyEvent OnHeaderData;
    std::function<void(THttpCli* sender, std::string& line)> OnCommand;
    TNotifyEvent OnHeaderBegin;
    TNotifyEvent OnHeaderEnd;
    TNotifyEvent OnRequestHeaderBegin;
    TNotifyEvent OnRequestHeaderEnd;
    TNotifyEvent OnDocBegin;
    TDocDataEvent OnDocData;
    TNotifyEvent OnDocEnd;
    TNotifyEvent OnSendBegin;
    TDocDataEvent OnSendData;
    TNotifyEvent OnSendEnd;
    TNotifyEvent OnStateChange;
    std::function<void(THttpCli* sender, THttpRequest rqType, WORD error)> OnRequestDone;
    TNotifyEvent OnLocationChange;
    std::function<void(THttpCli* sender, const std::string& data, bool& accept)> OnCookie;
    // Passed through from the socket, the socket being the sender.
    decltype(TWSocket::OnSocksConnected) OnSocksConnected;
    decltype(TWSocket::OnSocksAuthState) OnSocksAuthState;  // never raised
    decltype(TWSocket::OnSocksError) OnSocksError;
    TNotifyEvent OnSocketError;
    std::function<void(THttpCli* sender, const std::string& method, std::vector<std::string>& headers)>
        OnBeforeHeaderSend;
    // A line arrived while no response was expected.
    std::function<void(THttpCli* sender, WORD error)> OnUnsolicitedData;

    // ---- operations --------------------------------------------------------
    void BlockingGet() { RunRequest(THttpRequest::hrGet); }
    // Starts a request and waits for its end, pumping the thread's messages.
    // Raises EHttpException for a status of 400 or more, 404 for local failures.
    virtual void RunRequest(THttpRequest kind);
    // Starts a request and returns; OnRequestDone tells its end.
    virtual void StartRequest(THttpRequest kind);
    // Safe from any thread: another thread's call is handed to the client's,
    // for the request that runs when it is made.
    void AbortRequest();

protected:
    virtual void ProcessHeaderLine();
    virtual void ProcessDocumentData();
    virtual void SendHeaderLine(const std::string& line);
    virtual void StartConnection();
    virtual void CloseConnection();
    virtual void ResetResponse();
    virtual void HandleLookupDone(TCustomWSocket* sender, WORD error);
    virtual void HandleSessionClosed(TCustomWSocket* sender, WORD error);
    virtual void HandleSessionConnected(TCustomWSocket* sender, WORD error);
    virtual void HandleDataSent(TCustomWSocket* sender, WORD error);
    virtual void HandleDataAvailable(TCustomWSocket* sender, WORD error);
    virtual void FollowLocation(TCustomWSocket* sender, WORD error);
    virtual void ChangeState(TRequestState newState);
    virtual void FireStateChange();
    virtual void FireCookie(const std::string& data, bool& accept);
    virtual void FireSessionConnected();
    virtual void FireBeforeHeaderSend(const std::string& method, std::vector<std::string>& headers);
    virtual void FireRequestHeaderBegin();
    virtual void FireRequestHeaderEnd();
    virtual void FireHeaderBegin();
    virtual void FireHeaderEnd();
    virtual void FireDocBegin();
    virtual void FireDocData(const void* buffer, std::int32_t len);
    virtual void FireDocEnd();
    virtual void FireSendBegin();
    virtual void FireSendData(const void* buffer, std::int32_t len);
    virtual void FireSendEnd();
    virtual void PostRequestDone();
    virtual LRESULT HandleWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    virtual void PostSetIdle();
    virtual void DeriveDocumentName();
    virtual void CreateMessageWindow();
    virtual void DestroyMessageWindow();

    // Composes the request header and hands it to the socket in one Send.
    void ComposeAndSend(const std::string& method, const std::string& version);

private:
    friend LRESULT HttpCliWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    void WireSocketEvents();
    void PointSessionClosedAt(void (THttpCli::*handler)(TCustomWSocket*, WORD));
    void InterpretHeaderField(const THeaderField& field);
    void EndHeader();
    bool ResponseHasNoBody() const;
    // The response on this connection has ended, or none is expected.
    bool ResponseOver() const;
    // Drops what arrived after the end of a response, reporting its lines.
    void DropUnsolicitedData(WORD error);
    // Receives the next body piece into m_BodyBuffer and hands it on.
    void ReceiveBodyPiece();
    // Sets the socket up and calls Connect; the reason when that failed.
    std::string ConnectSocket();
    // Ends a connect that failed at once, for reason.
    void FailConnect(TCustomWSocket* sender, const std::string& reason);
    // Ends a request that is running, as an abort does.
    void EndRunningRequest(const std::string& reason, std::int32_t doneError);
    // Ends a connected request at once: the failure is recorded, then closed.
    void FailConnection(const std::string& reason);
    void RestartTimeout();
    void StopTimeout();
    void HandleTimeout();

    // Properties
    std::string m_URL;
    std::string m_Port;
    std::string m_LocalAddr = "0.0.0.0";
    std::string m_Proxy;
    std::string m_ProxyPort = "80";
    std::string m_Sender;
    std::string m_Agent = "Mozilla/3.0 (compatible)";
    std::string m_Accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    std::string m_AcceptLanguage;
    std::string m_Reference;
    std::string m_Username;
    std::string m_Password;
    std::string m_ProxyUsername;
    std::string m_ProxyPassword;
    bool m_NoCache = false;
    double m_ModifiedSince = 0;
    std::string m_Cookie;
    std::string m_ContentTypePost = "application/x-www-form-urlencoded";
    std::string m_ContentRangeBegin;
    std::string m_ContentRangeEnd;
    bool m_RangeFromResponse = false;  // the bounds above came from a response
    std::string m_AcceptRanges;
    bool m_MultiThreaded = false;
    std::uint8_t m_HTTPStream = 0;
    std::int32_t m_Bandwidth = 0;
    std::string m_ClientID;
    std::string m_GUID;
    std::string m_RegionData;
    std::string m_SupportsMaximumASMBandwidth;
    std::string m_Accept_Language;
    std::string m_Icy_MetaData;
    std::string m_Accept_Encoding;
    std::int32_t m_Timeout = 0;

    // Results
    TStream* m_ReceiveStream = nullptr;
    TStream* m_UploadStream = nullptr;
    std::int64_t m_ReceivedCount = 0;
    std::int64_t m_UploadedCount = 0;
    std::vector<std::string> m_ResponseHeader;
    std::int32_t m_ResponseStatus = 0;
    std::string m_ResponseReason;
    std::int64_t m_ContentLength = -1;
    std::string m_ContentType;
    TRequestState m_RequestState = TRequestState::rsIdle;
    THttpRequest m_RequestKind = THttpRequest::hrNone;
    std::int32_t m_DoneError = 0;
    HWND m_WindowHandle = nullptr;
    bool m_IsConnected = false;
    std::vector<std::string> m_WwwAuthenticate;  // no request clears it

    // Working data
    std::unique_ptr<TWSocket> m_CtrlSocket;
    // ConnectHost, TargetHost, RequestTarget, CurrentUrl and DocumentName.
    THttpTarget m_Target;
    std::string m_ResolvedAddr;
    TReceiveBuffer m_ReceiveBuffer;
    // Body pieces come straight from the socket into this block, larger than
    // the receive buffer, and go to the stream and OnDocData without a copy.
    std::vector<char> m_BodyBuffer;
    // The document bytes ProcessDocumentData hands out: in m_BodyBuffer or
    // m_CurrentLine.
    std::string_view m_Piece;
    std::array<char, 8193> m_UploadBuffer{};
    std::string m_RequestBuffer;
    std::string m_CurrentLine;
    std::int32_t m_HeaderLineCount = 0;
    std::int64_t m_HeaderBytes = 0;  // of the response on this connection, line ends counted as two
    std::int32_t m_DocChunkCount = 0;
    bool m_Posting = false;
    bool m_RelocationPending = false;
    bool m_InHeader = false;
    // Set when the response on this connection has ended; nothing that
    // arrives later changes the request's results.
    bool m_ResponseEnded = false;
    // Credentials go to this host only, not to another one a relocation names.
    std::string m_CredentialsHost;
    // Receives each line or piece of a response: ProcessHeaderLine during
    // the header, ProcessDocumentData during the body.
    void (THttpCli::*m_LineHandler)() = nullptr;
    std::int32_t m_RelocationCount = 0;
    // The SOCKS settings a request started with; every close of the socket
    // clears them there.
    struct TSocksSettings {
        std::string Server;
        std::string Level;
        std::string Port;
    };
    TSocksSettings m_RequestSocks;
    // Numbers each request, so that an idle, reconnect or abort message
    // posted for an earlier one is recognised and dropped. Read by the
    // threads that abort.
    std::atomic<WPARAM> m_RequestSerial{0};
    // The thread that created the client and owns its windows.
    DWORD m_OwnerThreadId = 0;
};
