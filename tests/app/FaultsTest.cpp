// Faults injected into "&Check" and into an update run, end to end on the
// real window against real servers: servers that misbehave, a full disk,
// files that cannot be replaced, the download manager starting, "&Abort" at
// each moment, and the updater killed between the two renames of a
// replacement. Every case checks that no installed file is lost or
// corrupted, that the window is idle again and that the log or the row says
// what happened; the program ends with a table of what was tried.
// QVUPDATE_FAULTS=long tries every cut point, several rounds.
// ctest-link: qvapp_test_qt
#include "app/Globals.h"
#include "app/qt/AnsiWidgets.h"
#include "app/qt/QtUpdater.h"
#include "app/support/AppTestSupport.h"
#include "app/support/UpdateTestSupport.h"
#include "common/LoopbackServer.h"
#include "http/HttpProt.h"
#include "platform/Win32.h"

#include <QTimer>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const std::string kInstalled = "the installed release\n";
const char* const kFetchFailed = "Can not get newest version infomation.";
const char* const kReadFailed = "Can not get the newest infomation";
// Every check and run ends within this: before a long time-out, and before
// a stalled server gives up its connection (kServerWaitMs).
constexpr int kEndWithinMs = kServerWaitMs * 3 / 4;

bool LongRun()
{
    const char* mode = std::getenv("QVUPDATE_FAULTS");
    return mode && std::string(mode) == "long";
}

// ---- the table -------------------------------------------------------------

enum class TExpect { Fails, Succeeds, Either };

struct TOutcome {
    std::string Fault;
    std::string During;
    std::string Shown;  // the log's last line, or the row's status texts
    bool Sound;         // nothing lost, idle again, and it said so
};

std::vector<TOutcome>& Table()
{
    static std::vector<TOutcome> table;
    return table;
}

class TTablePrinter : public ::testing::Environment {
public:
    void TearDown() override
    {
        std::size_t width = 5;
        for (const TOutcome& row : Table())
            width = std::max(width, row.Fault.size());
        std::printf("\n%-*s  %-6s  %-5s  %s\n", static_cast<int>(width), "fault", "during", "sound", "shown");
        for (const TOutcome& row : Table())
            std::printf("%-*s  %-6s  %-5s  %s\n", static_cast<int>(width), row.Fault.c_str(), row.During.c_str(),
                        row.Sound ? "yes" : "NO", AnsiToQString(row.Shown).toStdString().c_str());
        std::printf("%zu faults tried\n", Table().size());
    }
};

[[maybe_unused]] ::testing::Environment* const kTable = ::testing::AddGlobalTestEnvironment(new TTablePrinter);

// ---- servers that misbehave ------------------------------------------------

std::string Header(std::size_t length)
{
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

// What a server does with a body; `cut` is where a cut falls in it.
struct TMisbehaviour {
    const char* Name;
    TExpect Check;  // Fails where what arrives cannot be the manifest
    TExpect Run;    // Fails where what arrives cannot be the release file
    std::function<void(TServerConnection&, const std::string& body, std::size_t cut)> Answer;
};

const std::vector<TMisbehaviour>& Misbehaviours()
{
    static const std::vector<TMisbehaviour> list = {
        {"server closes in the body", TExpect::Fails, TExpect::Fails,
         [](TServerConnection& c, const std::string& body, std::size_t cut) {
             c.Write(Header(body.size()) + body.substr(0, cut));
         }},
        {"server resets in the body", TExpect::Fails, TExpect::Fails,
         [](TServerConnection& c, const std::string& body, std::size_t cut) {
             c.Write(Header(body.size()) + body.substr(0, cut));
             c.ResetOnClose();
         }},
        {"server stalls in the body", TExpect::Fails, TExpect::Fails,
         [](TServerConnection& c, const std::string& body, std::size_t cut) {
             c.Write(Header(body.size()) + body.substr(0, cut));
             c.WaitForClose();
         }},
        {"server stalls before answering", TExpect::Fails, TExpect::Fails,
         [](TServerConnection& c, const std::string&, std::size_t) { c.WaitForClose(); }},
        {"more bytes than announced", TExpect::Fails, TExpect::Fails,
         [](TServerConnection& c, const std::string& body, std::size_t) {
             c.Write(Header(body.size()) + body + "surplus\r\n");
         }},
        {"fewer bytes than announced", TExpect::Fails, TExpect::Fails,
         [](TServerConnection& c, const std::string& body, std::size_t) { c.Write(Header(body.size() + 9) + body); }},
        {"length that is no number", TExpect::Succeeds, TExpect::Fails,
         [](TServerConnection& c, const std::string& body, std::size_t) {
             c.Write("HTTP/1.0 200 OK\r\nContent-Length: 12x\r\n\r\n" + body);
         }},
        {"garbage header lines", TExpect::Succeeds, TExpect::Succeeds,
         [](TServerConnection& c, const std::string& body, std::size_t) {
             c.Write("HTTP/1.0 200 OK\r\n\x01\xfe no colon\r\n:\r\n\x7f\x80:\xff\x00\r\n" + std::string(300, '\x9c') +
                     "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
         }},
        {"a header that mentions Content-Length", TExpect::Succeeds, TExpect::Succeeds,
         [](TServerConnection& c, const std::string& body, std::size_t) {
             c.Write("HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                     "\r\nAccess-Control-Expose-Headers: Content-Length\r\n\r\n" + body);
         }},
        {"no HTTP at all", TExpect::Fails, TExpect::Fails,
         [](TServerConnection& c, const std::string&, std::size_t) { c.Write(PatternBytes(2048, 9)); }},
        {"status line of 8 KB", TExpect::Fails, TExpect::Fails,
         [](TServerConnection& c, const std::string& body, std::size_t) {
             c.Write("HTTP/1.0 200 " + std::string(8192, 'A') + "\r\nContent-Length: " + std::to_string(body.size()) +
                     "\r\n\r\n" + body);
         }},
    };
    return list;
}

// Where cuts fall: the middle, or in a long run also the first and last byte.
std::vector<std::size_t> Cuts(std::size_t size)
{
    if (!LongRun())
        return {size / 2};
    return {1, size / 2, size - 1};
}

int Rounds()
{
    return LongRun() ? 5 : 1;
}

// Answers requests for one path with `answer` and for every other path with
// `healthy`, properly; each connection on a thread of its own, so that a
// stalled answer holds up no other. Held, the answers wait for Go.
class TFaultServer {
public:
    using TAnswer = std::function<void(TServerConnection&)>;
    TFaultServer(std::string faultyPath, TAnswer answer, std::string healthy)
        : m_FaultyPath(std::move(faultyPath)), m_Answer(std::move(answer)), m_Healthy(std::move(healthy)),
          m_Server([this](TServerConnection& connection) { Serve(connection); }, TLoopbackServer::TServing::AtOnce)
    {
    }
    std::string Host() const { return "127.0.0.1:" + m_Server.Port(); }
    std::atomic<int> Requests{0};
    std::atomic<bool> Held{false};  // answers wait for Go
    std::atomic<bool> Go{false};

private:
    void Serve(TServerConnection& connection)
    {
        const std::string request = connection.ReadHeader();
        ++Requests;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kServerWaitMs);
        while (Held && !Go && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (request.find("GET " + m_FaultyPath + " ") != std::string::npos)
            m_Answer(connection);
        else
            connection.Write(Header(m_Healthy.size()) + m_Healthy);
    }

    std::string m_FaultyPath;
    TAnswer m_Answer;
    std::string m_Healthy;
    TLoopbackServer m_Server;
};

// A file size limit for the scope: writes beyond it fail as on a full disk.
class TFullDisk {
public:
    explicit TFullDisk(rlim_t bytes)
    {
        getrlimit(RLIMIT_FSIZE, &m_Old);
        rlimit limit = m_Old;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFullDisk() { setrlimit(RLIMIT_FSIZE, &m_Old); }

private:
    rlimit m_Old{};
};

// A manifest that lists Quorvan.exe after notes of about `size` bytes, so
// that a cut in its middle loses lines.
std::string Manifest(std::size_t size)
{
    std::string manifest = "1.15\r\n";
    while (manifest.size() < size)
        manifest += "A note line of the release notes, long enough to matter.\r\n";
    return manifest + "[FILESLIST]\r\nQuorvan.exe\r\n";
}

std::string Join(const Lines& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += (text.empty() ? "" : " | ") + line;
    return text;
}

// ---- the fixture -----------------------------------------------------------

class Faults : public TUpdaterTest {
protected:
    // "&Check" against `host` while `during` runs from the event loop (it
    // returns true once it has done its part). Records and checks the outcome.
    // `timeout` is the client's: with a long one only "&Abort" ends the check in time.
    void Check(const std::string& fault, const std::string& host, TExpect expect,
               const std::function<bool(TUpdateQVWin&)>& during = {}, std::int32_t timeout = 1)
    {
        install.WriteFile("Quorvan.exe", kInstalled);
        TQtUpdater window(host, web.Host());
        window.CheckHttpCli->SetTimeout(timeout);
        window.SetRetryPause(1);  // lost connections are still tried four times
        QTimer poll;
        if (during) {
            QObject::connect(&poll, &QTimer::timeout, [&] {
                if (during(window))
                    poll.stop();
            });
            poll.start(2);
        }
        const auto start = std::chrono::steady_clock::now();
        window.ButtNextClick();
        poll.stop();
        const bool ended = std::chrono::steady_clock::now() - start < std::chrono::milliseconds(kEndWithinMs);

        const Lines log = window.UpdateMemo->Lines();
        const std::string last = log.empty() ? "" : log.back();
        // A read manifest leaves RunMode at 1: nothing looks at it while idle.
        const bool listed = window.FilesList->RowCount() == 1;
        const bool failed = (last == kFetchFailed && RunMode == 0) || last == kReadFailed;
        const bool idle = Buttons(window) == (listed ? "1011" : "1010");
        const bool said = listed ? expect != TExpect::Fails && !failed : failed && expect != TExpect::Succeeds;
        const bool sound =
            ended && idle && said && Installed("Quorvan.exe") == kInstalled && !Exists("update.ini");
        Table().push_back({fault, "check", listed ? "listed Quorvan.exe" : last, sound});
        EXPECT_TRUE(sound) << fault << ": " << Join(log) << ", buttons " << Buttons(window) << ", RunMode " << RunMode;
    }

    // An update run of a.dll (the faulty file) and b.dll (healthy) from
    // `server`, after a check on nginx; `during` runs from the loop until it
    // returns true. Records and checks the outcome; `expectB` is Either
    // where the fault also reaches b.dll.
    void Run(const std::string& fault, TFaultServer& server, const std::string& release, TExpect expectA,
             const std::function<bool(TUpdateQVWin&)>& during = {}, TExpect expectB = TExpect::Succeeds,
             std::int32_t timeout = 1)
    {
        web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\na.dll\r\nb.dll\r\n");
        for (const char* name : {"a.dll", "b.dll"})
            install.WriteFile(name, kInstalled);
        std::vector<Lines> texts(2);  // outlives the window, whose last workers may still write
        TQtUpdater window(web.Host(), server.Host());
        window.ButtNextClick();
        ASSERT_EQ(window.FilesList->RowCount(), 2);
        window.Server2->Click();
        window.SetDownloadTimeout(timeout);
        window.SetRetryPause(1);
        QTreeWidget& shown = ShownFilesList(window);
        QObject::connect(&shown, &QTreeWidget::itemChanged, [&](QTreeWidgetItem* item, int column) {
            const int row = shown.indexOfTopLevelItem(item);
            if (column != 1 || row < 0 || row >= 2)
                return;
            const std::string& text = window.FilesList->Cell(row, 1);
            if ((texts[row].empty() || texts[row].back() != text) &&
                !text.ends_with("%"))
                texts[row].push_back(text);
        });

        window.ButtUpdateClick();
        bool done = !during;
        const bool ended = ProcessUntil(
            [&] {
                done = done || during(window);
                return done && RunMode == 0 && Buttons(window) == "1011";
            },
            kEndWithinMs);

        // A row says success only with the new file in place, failure only
        // with the installed one, and nothing is left beside it.
        const auto rowSound = [&](const std::string& name, const Lines& shown, TExpect expect) {
            const std::string status = shown.empty() ? "" : shown.back();
            const std::string bytes = Installed(name);
            const bool said = status == "Update Success" ? expect != TExpect::Fails && bytes == release
                                                         : status == "Update Failed" && expect != TExpect::Succeeds &&
                                                               bytes == kInstalled;
            return said && !Exists(name + "_") && !fs::is_regular_file(install.Path() + "/" + name + ".bak");
        };
        const bool sound = ended && rowSound("a.dll", texts[0], expectA) && rowSound("b.dll", texts[1], expectB);
        Table().push_back({fault, "run", Join(texts[0]), sound});
        EXPECT_TRUE(sound) << fault << ": a.dll " << Join(texts[0]) << " ("
                           << (Installed("a.dll") == release ? "new" : Installed("a.dll")) << "), b.dll "
                           << Join(texts[1]) << ", buttons " << Buttons(window);
    }
};

}  // namespace

TEST_F(Faults, ServerMisbehavesDuringTheCheck)
{
    const std::string manifest = Manifest(4096);
    for (int round = 0; round < Rounds(); ++round)
        for (const TMisbehaviour& fault : Misbehaviours())
            for (std::size_t cut : Cuts(manifest.size())) {
                TFaultServer server(
                    "/update/eng/update.ini",
                    [&](TServerConnection& c) { fault.Answer(c, manifest, cut); }, "");
                Check(fault.Name, server.Host(), fault.Check);
            }
}

TEST_F(Faults, ServerMisbehavesDuringTheRun)
{
    const std::string release = PatternBytes(200 * 1024, 1);
    for (int round = 0; round < Rounds(); ++round)
        for (const TMisbehaviour& fault : Misbehaviours())
            for (std::size_t cut : Cuts(release.size())) {
                TFaultServer server(
                    "/update/eng/a.dll", [&](TServerConnection& c) { fault.Answer(c, release, cut); }, release);
                Run(fault.Name, server, release, fault.Run);
            }
}

TEST_F(Faults, FullDisk)
{
    const std::string manifest = Manifest(256 * 1024);
    TFaultServer manifests("/update/eng/update.ini",
                           [&](TServerConnection& c) { c.Write(Header(manifest.size()) + manifest); }, "");
    {
        const TFullDisk full(64 * 1024);
        Check("disk full", manifests.Host(), TExpect::Fails);
    }
    // A write that failed here is not the connection's fault: no retry.
    EXPECT_EQ(manifests.Requests, 1);

    // Only a.dll is larger than what fits.
    const std::string release = PatternBytes(32 * 1024, 2);
    const std::string large = PatternBytes(256 * 1024, 3);
    TFaultServer server("/update/eng/a.dll", [&](TServerConnection& c) { c.Write(Header(large.size()) + large); },
                        release);
    const TFullDisk full(64 * 1024);
    Run("disk full", server, release, TExpect::Fails);
    EXPECT_EQ(server.Requests, 2);  // a.dll and b.dll, once each
}

TEST_F(Faults, FilesThatCannotBeReplaced)
{
    const std::string release = PatternBytes(16 * 1024, 4);
    const auto serve = [&](TServerConnection& c) { c.Write(Header(release.size()) + release); };
    {
        // Another program holds the manifest's name open.
        TFaultServer manifests("/update/eng/update.ini", serve, "");
        install.WriteFile("update.ini", "");
        const HANDLE held = CreateFileA((install.Path() + "/update.ini").c_str(), GENERIC_READ, 0, nullptr,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        TQtUpdater window(manifests.Host(), web.Host());
        window.ButtNextClick();
        CloseHandle(held);
        const Lines log = window.UpdateMemo->Lines();
        const bool sound = log.back() == "Online Update failed, please restart online update program." &&
                           Buttons(window) == "1010" && window.FilesList->RowCount() == 0;
        Table().push_back({"manifest held open by another program", "check", log.back(), sound});
        EXPECT_TRUE(sound) << Join(log);
        fs::remove(install.Path() + "/update.ini");
    }
    {
        TFaultServer server("/update/eng/a.dll", serve, release);
        install.WriteFile("a.dll", kInstalled);
        const HANDLE held = CreateFileA((install.Path() + "/a.dll").c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                        FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        Run("installed file held open by another program", server, release, TExpect::Fails);
        CloseHandle(held);
    }
    {
        TFaultServer server("/update/eng/a.dll", serve, release);
        fs::create_directories(install.Path() + "/a.dll.bak/kept");
        Run("backup name taken by a folder", server, release, TExpect::Fails);
        EXPECT_TRUE(fs::exists(install.Path() + "/a.dll.bak/kept"));
        fs::remove_all(install.Path() + "/a.dll.bak");
    }
}

TEST_F(Faults, DownloadManagerStartsDuringTheRun)
{
    // Its own runtime folder: no other test program sees this window.
    const TTempDir runtime;
    const TScopedEnv ownWindows("XDG_RUNTIME_DIR", runtime.Path());
    const std::string release = PatternBytes(16 * 1024, 5);
    TFaultServer server("/update/eng/a.dll", [&](TServerConnection& c) { c.Write(Header(release.size()) + release); },
                        release);
    server.Held = true;
    std::unique_ptr<TQuorvanProcess> quorvan;
    // Both files meet the download manager at their replacement.
    Run(
        "download manager starts during the run", server, release, TExpect::Fails,
        [&](TUpdateQVWin&) {
        if (server.Requests < 1)
            return false;
        quorvan = std::make_unique<TQuorvanProcess>();
        EXPECT_TRUE(quorvan->Ready());
        server.Go = true;
        return true;
    },
        TExpect::Fails);
}

TEST_F(Faults, AbortAtEachMoment)
{
    const std::string manifest = Manifest(4096);
    const std::string release = PatternBytes(200 * 1024, 6);
    struct TMoment {
        const char* Name;
        std::function<void(TServerConnection&, const std::string& body)> Serve;
        TExpect Expect;  // Either where the answer is whole: the abort may come too late
    };
    const std::vector<TMoment> moments = {
        {"abort before the answer", [](TServerConnection&, const std::string&) {}, TExpect::Fails},
        {"abort in the header", [](TServerConnection& c, const std::string&) { c.Write("HTTP/1.0 200 OK\r\nConte"); },
         TExpect::Fails},
        {"abort in the body",
         [](TServerConnection& c, const std::string& body) {
             c.Write(Header(body.size()) + body.substr(0, body.size() / 2));
         },
         TExpect::Fails},
        {"abort after the last byte",
         [](TServerConnection& c, const std::string& body) { c.Write(Header(body.size()) + body); },
         TExpect::Either},
    };
    for (int round = 0; round < Rounds(); ++round)
        for (const TMoment& moment : moments) {
            std::atomic<bool> reached{false};
            const auto at = [&](const std::string& body) {
                return [&, body](TServerConnection& c) {
                    moment.Serve(c, body);
                    reached = true;
                    c.WaitForClose();
                };
            };
            // In a run only once b.dll has ended: "&Abort" must still reach a.dll.
            const auto abort = [&](TUpdateQVWin& window) {
                if (!reached || (window.FilesList->RowCount() > 1 && window.FilesList->Cell(1, 1) != "Update Success"))
                    return false;
                if (window.ButtAbort->Enabled())  // else a.dll has ended too
                    window.ButtAbort->Click();
                return true;
            };
            // Time-outs longer than the wait: only "&Abort" can end these in time.
            {
                TFaultServer server("/update/eng/update.ini", at(manifest), "");
                Check(moment.Name, server.Host(), moment.Expect, abort, 60);
            }
            reached = false;
            TFaultServer server("/update/eng/a.dll", at(release), release);
            Run(moment.Name, server, release, moment.Expect, abort, TExpect::Either, 60);
        }
}

namespace {

struct TUpdaterRun {
    bool Killed = false;
    int ExitCode = -1;
    std::string Status;  // the row's status texts as the updater printed them
    std::string Output;
};

// The headless updater as its own process, on this test's installation,
// checking and updating from `host`; `environment` is prefixed to it.
TUpdaterRun RunUpdater(const std::string& host, const std::string& registry, const std::string& environment)
{
    const std::string command = environment + " QVUPDATE_REGISTRY='" + registry + "' exec '" QV_BINARY_DIR
                                "/bin/qvupdate-demo' --timeout 60 --host1 " + host + " --screenshot '" + registry +
                                ".png' 2>&1";
    const TCommandResult result = RunCommand(command);
    TUpdaterRun run;
    run.Output = result.Output;
    run.Killed = WIFSIGNALED(result.Status) && WTERMSIG(result.Status) == SIGKILL;
    run.ExitCode = WIFEXITED(result.Status) ? WEXITSTATUS(result.Status) : -1;
    const std::size_t start = run.Output.rfind("status: ");
    if (start != std::string::npos)
        run.Status = run.Output.substr(start + 8, run.Output.find('\n', start) - start - 8);
    return run;
}

// A registry file in `settings` that names `installation`.
std::string RegistryFile(const TTempDir& settings, const std::string& installation)
{
    return settings.WriteFile("registry.reg",
                              "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Quorvan]\n"
                              "\"Install Dir\"=\"" + installation + "\"\n");
}

// The environment that preloads the recorder of file calls, writing to `calls`.
std::string RecordingInto(const std::string& calls)
{
    // The preloaded library must not trip the sanitizers' check that they load first.
    return "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" QV_BINARY_DIR
           "/bin/libqvrecordfilecalls.so' QVUPDATE_FILE_CALLS='" + calls + "'";
}

// The recorded calls on files of `folder`, paths relative to it ("." for
// the folder itself), in the order they were made.
Lines FileCalls(const std::string& calls, const std::string& folder)
{
    const std::string canonical = fs::canonical(folder).string();
    Lines lines;
    std::ifstream in(calls);
    for (std::string line; std::getline(in, line);) {
        for (const std::string& prefix : {folder, canonical}) {
            for (std::size_t at; (at = line.find(prefix + "/")) != std::string::npos;)
                line.erase(at, prefix.size() + 1);
            if (line.ends_with(" " + prefix))
                line.replace(line.size() - prefix.size(), prefix.size(), ".");
        }
        lines.push_back(line);
    }
    return lines;
}

// Whether `calls` holds each of `expected` in this order.
bool InOrder(const Lines& calls, const Lines& expected)
{
    auto at = calls.begin();
    for (const std::string& call : expected)
        if ((at = std::find(at, calls.end(), call)) == calls.end())
            return false;
    return true;
}

}  // namespace

TEST_F(Faults, KilledBetweenTheTwoRenamesAndStartedAgain)
{
    const TTempDir settings;
    const std::string registry = RegistryFile(settings, install.Path());
    const std::string calls = settings.Path() + "/calls";
    const std::string killer =
        "ASAN_OPTIONS=verify_asan_link_order=0 LD_PRELOAD='" QV_BINARY_DIR "/bin/libqvkillafterbackup.so'";
    const std::string release = PatternBytes(64 * 1024, 7);
    web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\na.dll\r\n");
    install.WriteFile("a.dll", kInstalled);

    const auto killedMidway = [&] {
        web.Put("update/eng/a.dll", release);
        const TUpdaterRun run = RunUpdater(web.Host(), registry, killer);
        ASSERT_TRUE(run.Killed) << run.Output;
        // What the kill leaves: the installed file under the backup name.
        EXPECT_FALSE(Exists("a.dll"));
        EXPECT_EQ(Installed("a.dll.bak"), kInstalled);
        EXPECT_EQ(Installed("a.dll_"), release);
    };

    // Started again with the release gone from the server: the backup is
    // the installed file again, put back by the main thread.
    killedMidway();
    web.Remove("update/eng/a.dll");
    TUpdaterRun run = RunUpdater(web.Host(), registry, RecordingInto(calls));
    bool sound = run.ExitCode == 0 && run.Status.ends_with("Update Failed") && Installed("a.dll") == kInstalled &&
                 !Exists("a.dll.bak") && !Exists("a.dll_") &&
                 InOrder(FileCalls(calls, install.Path()), {"main rename a.dll.bak a.dll"});
    Table().push_back({"killed between the renames, restarted, no file", "run", run.Status, sound});
    EXPECT_TRUE(sound) << run.Output;

    // Started again with the release there: it is installed.
    killedMidway();
    run = RunUpdater(web.Host(), registry, "");
    sound = run.ExitCode == 0 && run.Status.ends_with("Update Success") && Installed("a.dll") == release &&
            !Exists("a.dll.bak") && !Exists("a.dll_");
    Table().push_back({"killed between the renames, restarted", "run", run.Status, sound});
    EXPECT_TRUE(sound) << run.Output;
}

TEST_F(Faults, PowerCutOrFailingDiskDuringTheReplacement)
{
    const TTempDir settings;
    const std::string registry = RegistryFile(settings, install.Path());
    const std::string calls = settings.Path() + "/calls";
    const std::string release = PatternBytes(64 * 1024, 8);
    web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\na.dll\r\n");
    web.Put("update/eng/a.dll", release);

    // A power cut at any moment keeps a whole file under the name or the
    // backup's: the new bytes are on disk before the rename, the new names
    // before the backup goes.
    install.WriteFile("a.dll", kInstalled);
    TUpdaterRun run = RunUpdater(web.Host(), registry, RecordingInto(calls));
    Lines made = FileCalls(calls, install.Path());
    bool sound = run.ExitCode == 0 && run.Status.ends_with("Update Success") && Installed("a.dll") == release &&
                 InOrder(made, {"worker fsync a.dll_", "main rename a.dll a.dll.bak", "main rename a.dll_ a.dll",
                                "main fsync .", "main unlink a.dll.bak"});
    Table().push_back({"power cut after the replacement", "run", run.Status, sound});
    EXPECT_TRUE(sound) << run.Output << Join(made);

    // The new file cannot take the name: the backup goes back at once.
    install.WriteFile("a.dll", kInstalled);
    fs::remove(calls);
    run = RunUpdater(web.Host(), registry, RecordingInto(calls) + " QVUPDATE_FAIL_RENAME=a.dll_");
    made = FileCalls(calls, install.Path());
    sound = run.ExitCode == 0 && run.Status.ends_with("Update failed | Update Failed") &&
            Installed("a.dll") == kInstalled && !Exists("a.dll.bak") && !Exists("a.dll_") &&
            InOrder(made, {"main rename a.dll a.dll.bak", "main rename a.dll.bak a.dll"});
    Table().push_back({"second rename of the replacement fails", "run", run.Status, sound});
    EXPECT_TRUE(sound) << run.Output << Join(made);
}
