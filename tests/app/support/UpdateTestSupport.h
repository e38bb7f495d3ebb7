// Driving the window against real servers: an nginx of the test's own,
// a stand-in for a running Quorvan, and bounded waits on the GUI thread.
#pragma once

#include "app/support/AppTestSupport.h"
#include "common/QuorvanProcess.h"
#include "common/ServerProcess.h"

#include <gtest/gtest.h>

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

// Serves a www folder of its own on 127.0.0.1 at a port of its own; `locations` adds
// nginx location blocks. Running() is false when nginx is not installed.
// Linux only.
class TWebServer {
public:
    explicit TWebServer(const std::string& locations = "");
    bool Running() const { return m_Process && m_Process->Ready(); }
    std::string Host() const { return "127.0.0.1:" + std::to_string(m_Port); }
    // Writes www/path (folders made as needed).
    void Put(const std::string& path, const std::string& bytes) const;
    void Remove(const std::string& path) const;
    // One line per request: "path|Range|If-Range|status".
    std::string AccessLog() const;
    int Port() const { return m_Port; }
    // Where www/path lies on disk.
    std::string PathOf(const std::string& path) const { return m_Folder + "/www/" + path; }

private:
    std::string m_Folder;
    int m_Port = 0;
    std::unique_ptr<TServerProcess> m_Process;
};

class QTreeWidget;
class TQtUpdater;
class TUpdateQVWin;

// The file list's widget, whose signals follow what the rows show. Qt's (support/qt/).
QTreeWidget& ShownFilesList(const TQtUpdater& window);

// Which of "&Check", "&Abort", "&Exit" and "Online &Update" are enabled, as "1010".
std::string Buttons(const TUpdateQVWin& window);

// A test of the window on an installation folder and an nginx of its own;
// skipped where nginx is not installed. Qt's (support/qt/).
class TUpdaterTest : public ::testing::Test, private TApplicationFirst {
protected:
    explicit TUpdaterTest(const std::string& locations = "");
    void SetUp() override;
    // An installed file's bytes, "<missing>" when there is none.
    std::string Installed(const std::string& path) const;
    bool Exists(const std::string& path) const;

    TTempDir install;
    TWebServer web;
};

// `count` bytes of every value, in an order that differs with `seed`.
std::string PatternBytes(std::size_t count, int seed);

// Runs a shell command; its exit status (as from wait) and what it printed.
struct TCommandResult {
    int Status = -1;
    std::string Output;
};
TCommandResult RunCommand(const std::string& command);

// Joins the main thread's queue to Qt once per program. Qt's (support/qt/).
void UseQtBinding();

// Processes GUI events, messages and hand-overs until done() holds;
// false after timeoutMs.
bool ProcessUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// Answers the next modal message box with OK while `action` runs, and
// returns its text ("" when none appeared). Qt's (support/qt/).
std::string AnswerMessageBox(const std::function<void()>& action);
