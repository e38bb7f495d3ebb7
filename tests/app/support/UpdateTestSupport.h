// Driving the window against real servers: an nginx of the test's own,
// a stand-in for a running Quorvan, and bounded waits on the GUI thread.
#pragma once

#include "common/ServerProcess.h"

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

// Serves Root()/www on 127.0.0.1 at a port of its own; `locations` adds
// nginx location blocks. Running() is false when nginx is not installed.
class TWebServer {
public:
    explicit TWebServer(const std::string& locations = "");
    bool Running() const { return m_Process && m_Process->Ready(); }
    std::string Host() const { return "127.0.0.1:" + std::to_string(m_Port); }
    // Writes www/path (folders made as needed).
    void Put(const std::string& path, const std::string& bytes) const;

private:
    std::string m_Folder;
    int m_Port = 0;
    std::unique_ptr<TServerProcess> m_Process;
};

// Joins the main thread's queue to Qt once per program.
void UseQtBinding();

// Processes GUI events, messages and hand-overs until done() holds;
// false after timeoutMs.
bool ProcessUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// Answers the next modal message box with OK while `action` runs, and
// returns its text ("" when none appeared).
std::string AnswerMessageBox(const std::function<void()>& action);

// A running "quorvan-window": the download manager's window in another process.
class TQuorvanProcess {
public:
    TQuorvanProcess();
    ~TQuorvanProcess();
    bool Ready();  // waits, bounded, for its window

private:
    pid_t m_Pid = -1;
    int m_Out = -1;
};
