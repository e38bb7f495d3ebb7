// Driving a THttpCli in tests: pumping the thread's messages with a bound,
// and recording the client's events in the order they come.
#pragma once

#include "http/HttpProt.h"

#include <functional>
#include <string>
#include <vector>

// Processes this thread's messages until done() holds; false after timeoutMs.
bool PumpUntil(const std::function<bool()>& done, int timeoutMs = 10000);

// Every event of the client as one text each: "state 3", "HeaderData
// Content-Type: x", "DocData 5", "RequestDone 0" and so on.
struct TEventLog {
    explicit TEventLog(THttpCli& client);
    std::vector<std::string> Events;
    std::string Document;
    bool Done = false;
    WORD DoneError = 0;
    // Events, from the first one that starts with prefix on.
    std::vector<std::string> From(const std::string& prefix) const;
    bool Has(const std::string& event) const;
};

// Runs a blocking request (a GET unless told); returns "" or the
// exception's code and message.
std::string BlockingGetResult(THttpCli& client, THttpRequest kind = THttpRequest::hrGet);
