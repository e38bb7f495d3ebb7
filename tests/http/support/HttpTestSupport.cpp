#include "HttpTestSupport.h"

#include <algorithm>
#include <chrono>

bool PumpUntil(const std::function<bool()>& done, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MSG msg;
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
        else
            Sleep(1);
    }
    return true;
}

TEventLog::TEventLog(THttpCli& client)
{
    auto note = [this](const std::string& text) { return [this, text](THttpCli*) { Events.push_back(text); }; };
    client.OnSessionConnected = note("SessionConnected");
    client.OnHeaderBegin = note("HeaderBegin");
    client.OnHeaderEnd = note("HeaderEnd");
    client.OnRequestHeaderBegin = note("RequestHeaderBegin");
    client.OnRequestHeaderEnd = note("RequestHeaderEnd");
    client.OnDocBegin = note("DocBegin");
    client.OnDocEnd = note("DocEnd");
    client.OnSendBegin = note("SendBegin");
    client.OnSendEnd = note("SendEnd");
    client.OnLocationChange = note("LocationChange");
    client.OnStateChange = [this](THttpCli* c) {
        Events.push_back("state " + std::to_string(static_cast<int>(c->RequestState())));
    };
    client.OnHeaderData = [this](THttpCli* c) { Events.push_back("HeaderData " + c->ResponseHeader().back()); };
    client.OnCommand = [this](THttpCli*, std::string& line) { Events.push_back("Command " + line); };
    client.OnBeforeHeaderSend = [this](THttpCli*, const std::string& method, std::vector<std::string>&) {
        Events.push_back("BeforeHeaderSend " + method);
    };
    client.OnDocData = [this](THttpCli*, const void* buffer, std::int32_t len) {
        Events.push_back("DocData");
        Document.append(static_cast<const char*>(buffer), static_cast<std::size_t>(len));
    };
    client.OnSendData = [this](THttpCli*, const void*, std::int32_t len) {
        Events.push_back("SendData " + std::to_string(len));
    };
    client.OnCookie = [this](THttpCli*, const std::string& data, bool& accept) {
        Events.push_back("Cookie " + data + (accept ? " accepted" : ""));
    };
    client.OnRequestDone = [this](THttpCli*, THttpRequest kind, WORD error) {
        Events.push_back("RequestDone " + std::to_string(static_cast<int>(kind)) + " " + std::to_string(error));
        Done = true;
        DoneError = error;
    };
}

std::vector<std::string> TEventLog::From(const std::string& prefix) const
{
    auto first = std::find_if(Events.begin(), Events.end(),
                              [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
    return {first, Events.end()};
}

bool TEventLog::Has(const std::string& event) const
{
    return std::find(Events.begin(), Events.end(), event) != Events.end();
}

std::string BlockingGetResult(THttpCli& client, THttpRequest kind)
{
    try {
        client.RunRequest(kind);
        return "";
    } catch (const EHttpException& e) {
        return std::to_string(e.ErrorCode()) + " " + e.Message();
    }
}
