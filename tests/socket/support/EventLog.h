// Records a socket component's events as short texts, in order.
#pragma once

#include "socket/WSocket.h"

#include <algorithm>
#include <string>
#include <vector>

inline const char* StateName(TSocketState state)
{
    static const char* const names[] = {"Invalid", "Opened",    "Bound",     "Connecting",
                                        "Connected", "Accepting", "Listening", "Closed"};
    return names[static_cast<int>(state)];
}

struct EventLog {
    std::vector<std::string> entries;

    void Attach(TCustomWSocket& socket)
    {
        socket.OnChangeState = [this](TCustomWSocket*, TSocketState from, TSocketState to) {
            Add(std::string("state ") + StateName(from) + "->" + StateName(to));
        };
        socket.OnSessionConnected = [this](TCustomWSocket*, WORD error) { Add("connected", error); };
        socket.OnSessionClosed = [this](TCustomWSocket*, WORD error) { Add("closed", error); };
        socket.OnDataSent = [this](TCustomWSocket*, WORD error) { Add("sent", error); };
        socket.OnSendData = [this](TCustomWSocket*, std::int32_t count) { Add("senddata", count); };
        socket.OnSessionAvailable = [this](TCustomWSocket*, WORD error) { Add("available", error); };
        socket.OnDnsLookupDone = [this](TCustomWSocket*, WORD error) { Add("dns", error); };
    }
    void Add(const std::string& text) { entries.push_back(text); }
    void Add(const std::string& name, long value) { entries.push_back(name + " " + std::to_string(value)); }
    bool Has(const std::string& text) const { return Count(text) > 0; }
    long Count(const std::string& text) const { return std::count(entries.begin(), entries.end(), text); }
    std::vector<std::string> From(std::size_t index) const
    {
        return std::vector<std::string>(entries.begin() + static_cast<long>(std::min(index, entries.size())),
                                        entries.end());
    }
};
