// "Online &Update" and "&Abort" with real workers against real servers on
// loopback: nginx for release files, scripted servers for misbehaviour.
// ctest-labels: threads
// ctest-link: qvapp_test_qt
#include "app/Globals.h"
#include "app/qt/QtUpdater.h"
#include "app/support/AppTestSupport.h"
#include "app/support/CuttingFront.h"
#include "app/support/UpdateTestSupport.h"
#include "common/LoopbackServer.h"

#include <QAbstractItemModel>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

const char* const kConnecting = "Connect server ...";
const char* const kChineseConnecting = "\xd5\xfd\xd4\xda\xc1\xac\xbd\xd3\xb7\xfe\xce\xf1\xc6\xf7 ...";
const char* const kChineseSuccess = "\xc9\xfd\xbc\xb6\xb3\xc9\xb9\xa6";
const char* const kChineseFailed = "\xc9\xfd\xbc\xb6\xca\xa7\xb0\xdc";
const char* const kRetrying = "Connection lost, retrying ...";
const char* const kChineseRetrying =
    "\xc1\xac\xbd\xd3\xb6\xcf\xbf\xaa, \xd5\xfd\xd4\xda\xd6\xd8\xca\xd4 ...";

// A server that answers one request per connection with `response`; with
// `holdFrom`, the answers from that request on wait for the test's Go.
struct TScriptedServer {
    explicit TScriptedServer(std::string response, int holdFrom = 0)
        : Response(std::move(response)), HoldFrom(holdFrom),
          Server([this](TServerConnection& connection) {
              connection.ReadHeader();
              const int request = ++Requests;
              const bool held = HoldFrom > 0 && request >= HoldFrom;
              const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
              while (held && !Go && std::chrono::steady_clock::now() < deadline)
                  std::this_thread::sleep_for(std::chrono::milliseconds(2));
              if (Response.empty())
                  connection.WaitForClose();  // never answers
              else
                  connection.Write(Response);
          })
    {
    }
    std::string Host() const { return "127.0.0.1:" + Server.Port(); }

    std::string Response;
    int HoldFrom;
    std::atomic<bool> Go{false};
    std::atomic<int> Requests{0};
    TLoopbackServer Server;
};

class UpdateRun : public TUpdaterTest {
protected:
    // Lists `files` ("name" or "name=dest") through a real check of server 1.
    void List(const Lines& files)
    {
        std::string manifest = "1.15\r\n[FILESLIST]\r\n";
        for (const std::string& file : files)
            manifest += file + "\r\n";
        web.Put("update/eng/update.ini", manifest);
        web.Put("update/chs/update.ini", manifest);
        window = std::make_unique<TQtUpdater>(web.Host(), web.Host());
        window->ButtNextClick();
        ASSERT_EQ(window->FilesList->RowCount(), static_cast<int>(files.size()));
        Record();
    }

    // Checks on server 1 and picks server 2, `downloads`, for the run.
    void CheckThenDownloadFrom(const std::string& downloads)
    {
        window = std::make_unique<TQtUpdater>(web.Host(), downloads);
        window->ButtNextClick();
        Record();
        window->Server2->Click();  // the run's host is read at its click
    }

    // Every status text each row shows, in order, and all of them in one line.
    void Record(bool blankPercent = false)
    {
        texts.assign(window->FilesList->RowCount(), {});
        shown.assign(texts.size(), "0");
        QObject::disconnect(recording);
        recording = QObject::connect(ShownFilesList(*window).model(), &QAbstractItemModel::dataChanged,
                         [this, blankPercent](const QModelIndex& from, const QModelIndex&) {
                             if (blanking || from.column() != 1)
                                 return;
                             const std::string text = window->FilesList->Cell(from.row(), 1);
                             // One cell write may signal more than once.
                             if (text == shown[from.row()])
                                 return;
                             shown[from.row()] = text;
                             texts[from.row()].push_back(text);
                             order.push_back(std::to_string(from.row()) + ":" + text);
                             // A blanked cell makes a repeated hand-over of the same text visible.
                             if (blankPercent && !text.empty() && text.back() == '%') {
                                 blanking = true;
                                 shown[from.row()].clear();
                                 window->FilesList->SetCell(from.row(), 1, "");
                                 blanking = false;
                             }
                         });
    }

    // Starts the run and waits until the window is idle again.
    void RunToEnd()
    {
        window->ButtUpdateClick();
        ASSERT_TRUE(ProcessUntil([&] { return window->ButtNext->Enabled(); }));
        EXPECT_EQ(Buttons(*window), "1011");
        EXPECT_EQ(RunMode, 0);
    }

    std::unique_ptr<TQtUpdater> window;
    std::vector<Lines> texts;
    Lines order;
    Lines shown;  // each row's status cell as last seen
    bool blanking = false;
    QMetaObject::Connection recording;
};

}  // namespace

TEST_F(UpdateRun, ThreeFilesDownloadSideBySide)
{
    const std::string big = PatternBytes(2'000'000, 1);
    web.Put("update/eng/big.bin", big);
    web.Put("update/eng/a.dll", PatternBytes(30'000, 2));
    web.Put("update/eng/b.txt", "b\n");
    install.WriteFile("big.bin", "old big");
    List({"big.bin", "a.dll", "b.txt"});
    Record(true);
    RunToEnd();

    EXPECT_EQ(Installed("big.bin"), big);
    EXPECT_EQ(Installed("a.dll"), PatternBytes(30'000, 2));
    EXPECT_EQ(Installed("b.txt"), "b\n");
    for (const char* leftover : {"big.bin.bak", "big.bin_", "a.dll_", "b.txt_"})
        EXPECT_FALSE(Exists(leftover)) << leftover;

    // Each per cent text once, rising to 100, between the first and the final text.
    const Lines& bigTexts = texts[0];
    ASSERT_GE(bigTexts.size(), 4u);
    EXPECT_EQ(bigTexts.front(), kConnecting);
    EXPECT_EQ(bigTexts.back(), "Update Success");
    EXPECT_EQ(bigTexts[bigTexts.size() - 2], "100%");
    for (std::size_t i = 2; i + 1 < bigTexts.size(); ++i)
        EXPECT_LT(std::stoi(bigTexts[i - 1]), std::stoi(bigTexts[i])) << bigTexts[i];
    EXPECT_EQ(texts[2], (Lines{kConnecting, "100%", "Update Success"}));

    // All three were under way before the big one had ended.
    const auto bigEnd = std::find(order.begin(), order.end(), "0:Update Success");
    for (const char* start : {"1:Connect server ...", "2:Connect server ..."})
        EXPECT_NE(std::find(order.begin(), bigEnd, start), bigEnd) << start;
}

TEST_F(UpdateRun, ButtonsReturnOnlyAfterTheLastWorker)
{
    TScriptedServer server("HTTP/1.0 200 OK\r\nContent-Length: 4\r\n\r\nnew!", 2);
    web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\nfirst.txt\r\nsecond.txt\r\n");
    CheckThenDownloadFrom(server.Host());
    window->ButtUpdateClick();
    EXPECT_EQ(Buttons(*window), "0100");
    EXPECT_EQ(RunMode, 2);
    // One finished entry sets the mode back but leaves the buttons running,
    // and "&Abort" still stops the file that runs on.
    ASSERT_TRUE(ProcessUntil([&] { return RunMode == 0; }));
    EXPECT_EQ(Buttons(*window), "0100");
    window->ButtAbort->Click();
    EXPECT_EQ(Buttons(*window), "1011");
    server.Go = true;
    ASSERT_TRUE(ProcessUntil([&] { return window->ButtNext->Enabled(); }));
    // The server answers whichever request came first.
    const std::string names[] = {"first.txt", "second.txt"};
    const int held = texts[0].back() == "Update Success" ? 1 : 0;
    EXPECT_EQ(texts[1 - held].back(), "Update Success");
    EXPECT_EQ(Installed(names[1 - held]), "new!");
    EXPECT_EQ(texts[held], (Lines{kConnecting, "Update Failed"}));
    EXPECT_FALSE(Exists(names[held]) || Exists(names[held] + "_"));
}

TEST_F(UpdateRun, DestinationsBackupsAndLeftovers)
{
    web.Put("update/eng/new.dll", "new dll");
    web.Put("update/eng/lang.ini", "new lang");
    web.Put("update/eng/main.exe", "new main");
    install.MakeDir("lang");
    install.WriteFile("lang/lang.ini", "old lang");
    install.WriteFile("main.exe", "old main");
    install.WriteFile("main.exe.bak", "stale backup");
    install.WriteFile("main.exe_", "stale download, longer than the new file");
    List({"new.dll", "lang.ini = lang\\", "main.exe"});
    RunToEnd();

    EXPECT_EQ(Installed("new.dll"), "new dll");
    EXPECT_EQ(Installed("lang/lang.ini"), "new lang");
    EXPECT_EQ(Installed("main.exe"), "new main");
    for (const char* leftover : {"new.dll.bak", "lang/lang.ini.bak", "main.exe.bak", "main.exe_", "lang/lang.ini_"})
        EXPECT_FALSE(Exists(leftover)) << leftover;
    for (const Lines& rowTexts : texts)
        EXPECT_EQ(rowTexts.back(), "Update Success");
}

// A release file is installed only from a 200 whose body is proven whole
// by its length; a rejected answer says so before the end. A backup
// stranded by an earlier run is put back first.
TEST_F(UpdateRun, OnlyCompleteDownloadsAreInstalled)
{
    const std::string failed = "Update Failed";
    const std::string rejected = "Update failed";
    const std::string retry = kRetrying;
    const std::string lengthless = PatternBytes(50'000, 3);
    const struct {
        std::string Response;
        Lines Texts;  // after "Connect server ..."
        std::string Installed;
    } cases[] = {
        {"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly part of it",
         {"15%", retry, "15%", retry, "15%", retry, "15%", failed}, "installed"},
        {"HTTP/1.0 200 OK\r\nContent-Length: lots\r\n\r\nwhatever", {rejected, failed}, "installed"},
        {"HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + lengthless, {rejected, failed},
         "installed"},
        {"HTTP/1.0 204 No Content\r\n\r\n", {rejected, failed}, "installed"},
        {"HTTP/1.0 300 Multiple Choices\r\nContent-Length: 5\r\n\r\nnope!", {"100%", rejected, failed}, "installed"},
        {"HTTP/1.0 404 Not Found\r\n\r\n", {failed}, "installed"},
        {"HTTP/1.0 200 OK\r\nContent-Length: 0\r\n\r\n", {"Update Success"}, ""},
    };
    for (const auto& [response, expected, installed] : cases) {
        SCOPED_TRACE(response.substr(0, 60));
        TScriptedServer server(response);
        install.WriteFile("core.dll.bak", "installed");  // the target itself is missing
        fs::remove(install.Path() + "/core.dll");
        web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\ncore.dll\r\n");
        CheckThenDownloadFrom(server.Host());
        window->SetRetryPause(1);
        RunToEnd();
        Lines all{kConnecting};
        all.insert(all.end(), expected.begin(), expected.end());
        EXPECT_EQ(texts[0], all);
        EXPECT_EQ(Installed("core.dll"), installed);
        EXPECT_FALSE(Exists("core.dll_"));
        EXPECT_FALSE(Exists("core.dll.bak"));
    }
}

// Manifest lines whose entry would reach another file: a control byte ends
// a name early in the system's calls, and one entry's name may be
// another's target, download file or backup, as Windows compares names.
// Listed or not, installed or skipped as the table says; nothing else lost.
TEST_F(UpdateRun, EntriesThatWouldReachAnotherFileAreSkipped)
{
    const std::string unsafe = "Unsafe file entry skipped: ";
    const std::string taken = "Skipped, its file is taken by an earlier entry: ";
    const std::string missing = "<missing>";
    const struct {
        std::string Line;
        std::string Log;  // empty where the entry is installed
        std::string Path;
        std::string Bytes;  // at Path afterwards
    } cases[] = {
        {std::string("Quorvan.exe\0", 12), unsafe + "Quorvan.exe\\x00", "Quorvan.exe", "installed"},
        {std::string("x.txt=core.dll\0\\", 16), unsafe + "x.txt=core.dll\\x00\\", "core.dll", "installed"},
        {"tab\tname.dll", unsafe + "tab\\x09name.dll", "tab\tname.dll", missing},
        {"a.dll_.Resume.", unsafe + "a.dll_.Resume.", "a.dll_.Resume.", missing},  // a resume record's name
        {"del.dll=lang\x7f\\", unsafe + "del.dll=lang\\x7F\\", "lang\x7f/del.dll", missing},
        {"Whatsnew.txt", "", "Whatsnew.txt", "new Whatsnew.txt"},
        {"Whatsnew.txt.bak", taken + "Whatsnew.txt.bak", "Whatsnew.txt.bak", missing},
        {"WHATSNEW.TXT_", taken + "WHATSNEW.TXT_", "WHATSNEW.TXT_", missing},
        {"whatsnew.txt. ", taken + "whatsnew.txt. ", "whatsnew.txt. ", missing},
        {"lang.ini=lang\\", "", "lang/lang.ini", "new lang.ini"},
        {"LANG.INI=.\\Lang\\\\", taken + "LANG.INI", "Lang/LANG.INI", missing},
        {"a.dll.bak", "", "a.dll.bak", "new a.dll.bak"},
        {"a.dll", taken + "a.dll", "a.dll", missing},
    };
    std::string manifest = "1.15\r\n[FILESLIST]\r\n";
    for (const auto& c : cases) {
        manifest += c.Line + "\r\n";
        const std::string name = c.Line.substr(0, c.Line.find('='));
        if (c.Log.rfind(unsafe, 0) != 0)
            web.Put("update/eng/" + name, "new " + name);
    }
    web.Put("update/eng/update.ini", manifest);
    install.WriteFile("Quorvan.exe", "installed");
    install.WriteFile("core.dll", "installed");
    install.MakeDir("lang");
    window = std::make_unique<TQtUpdater>(web.Host(), web.Host());
    window->ButtNextClick();
    EXPECT_EQ(window->FilesList->RowCount(), 8);
    Record();
    RunToEnd();

    const Lines log = window->UpdateMemo->Lines();
    for (const auto& c : cases) {
        if (!c.Log.empty()) {
            EXPECT_NE(std::find(log.begin(), log.end(), c.Log), log.end()) << c.Log;
        }
        EXPECT_EQ(Installed(c.Path), c.Bytes) << c.Path;
    }
}

TEST_F(UpdateRun, FailedReplacementsLeaveTheInstalledFile)
{
    web.Put("update/eng/dir.dll", "new");
    web.Put("update/eng/x.dll", "new x");
    install.MakeDir("dir.dll/inside");  // the target cannot be replaced by renaming
    List({"dir.dll", "x.dll=missing\\"});
    RunToEnd();
    EXPECT_EQ(texts[0], (Lines{kConnecting, "100%", "Update failed", "Update Failed"}));
    EXPECT_TRUE(fs::is_directory(install.Path() + "/dir.dll/inside"));
    EXPECT_FALSE(Exists("dir.dll_"));
    // A destination folder that does not exist fails its file; the run still ends.
    EXPECT_EQ(texts[1].back(), "Update Failed");
}

TEST_F(UpdateRun, RunsWithoutOrBeyondTheirFiles)
{
    Lines files;
    for (int i = 1; i <= 13; ++i)
        files.push_back("f" + std::to_string(i) + ".txt");
    for (const std::string& file : files)
        web.Put("update/eng/" + file, file);
    List(files);
    for (int i = 0; i < 13; ++i)
        window->FilesList->SetChecked(i, false);
    window->ButtUpdateClick();  // nothing checked: idle at once
    EXPECT_EQ(Buttons(*window), "1011");
    EXPECT_EQ(RunMode, 0);

    for (int i = 0; i < 13; ++i)
        if (i != 1)
            window->FilesList->SetChecked(i, true);
    RunToEnd();
    EXPECT_EQ(UpdateFileCount, 10);
    EXPECT_EQ(texts[1], Lines{});  // unchecked: still "0"
    EXPECT_EQ(window->FilesList->Cell(1, 1), "0");
    EXPECT_EQ(texts[10].back(), "Update Success");
    EXPECT_EQ(texts[11], (Lines{"Not updated: 10 files per run"}));
    EXPECT_EQ(texts[12], (Lines{"Not updated: 10 files per run"}));
    EXPECT_FALSE(Exists("f12.txt"));

    window->UpdateChs->Click();
    web.Put("update/chs/f12.txt", "f12");
    RunToEnd();
    EXPECT_EQ(texts[12].back(), "\xce\xb4\xb8\xfc\xd0\xc2: \xc3\xbf\xb4\xce\xd7\xee\xb6\xe0 10 \xb8\xf6\xce\xc4\xbc\xfe");
}

TEST_F(UpdateRun, ChineseRunUsesTheChineseChannelAndTexts)
{
    web.Put("update/chs/zh.dll", "zh");
    List({"zh.dll", "absent.dll"});
    window->UpdateChs->Click();
    RunToEnd();
    EXPECT_EQ(Installed("zh.dll"), "zh");
    EXPECT_EQ(texts[0].front(), kChineseConnecting);
    EXPECT_EQ(texts[0].back(), kChineseSuccess);
    for (std::size_t i = 1; i + 1 < texts[0].size(); ++i)
        EXPECT_GE(std::stoi(texts[0][i]), 30) << texts[0][i];  // on from the kept 30%
    EXPECT_EQ(texts[1].front(), kChineseConnecting);  // then nginx's error page in per cent
    EXPECT_EQ(texts[1].back(), kChineseFailed);
}

TEST_F(UpdateRun, AbortStopsEveryWorker)
{
    TScriptedServer silent("");
    web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\na.dll\r\nb.dll\r\nc.dll\r\n");
    for (const char* name : {"a.dll", "b.dll", "c.dll"})
        install.WriteFile(name, "installed");
    CheckThenDownloadFrom(silent.Host());
    window->ButtUpdateClick();
    ASSERT_TRUE(ProcessUntil([&] { return silent.Requests >= 1 && order.size() >= 3; }));
    window->ButtAbort->Click();

    EXPECT_EQ(Buttons(*window), "1011");
    EXPECT_EQ(RunMode, 0);
    for (int row = 0; row < 3; ++row) {
        EXPECT_EQ(texts[row], (Lines{kConnecting, "Update Failed"})) << row;
        EXPECT_EQ(Installed(std::string(1, static_cast<char>('a' + row)) + ".dll"), "installed");
    }
    EXPECT_FALSE(Exists("a.dll_") || Exists("b.dll_") || Exists("c.dll_"));
}

TEST_F(UpdateRun, SilentServerFailsTheFileAfterTheTimeout)
{
    TScriptedServer silent("");
    web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\nslow.dll\r\n");
    window = std::make_unique<TQtUpdater>(web.Host(), silent.Host());
    EXPECT_EQ(window->DownloadTimeout(), 60);
    window->ButtNextClick();
    Record();
    window->Server2->Click();
    window->SetDownloadTimeout(1);
    window->SetRetryPause(1);
    RunToEnd();
    EXPECT_EQ(texts[0], (Lines{kConnecting, kRetrying, "Update Failed"}));
    EXPECT_EQ(silent.Requests, 4);
}

TEST_F(UpdateRun, QuorvanRunningRefusesOrFailsTheReplacement)
{
    const TTempDir runtime;
    const TScopedEnv ownWindows("XDG_RUNTIME_DIR", runtime.Path());
    TScriptedServer held("HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nnew", 1);
    web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\nq.dll\r\n");
    install.WriteFile("q.dll", "installed");
    CheckThenDownloadFrom(held.Host());

    {
        // Started during the download: the file fails at its replacement.
        window->ButtUpdateClick();
        ASSERT_TRUE(ProcessUntil([&] { return held.Requests == 1; }));
        TQuorvanProcess quorvan;
        ASSERT_TRUE(quorvan.Ready());
        held.Go = true;
        ASSERT_TRUE(ProcessUntil([&] { return window->ButtNext->Enabled(); }));
        EXPECT_EQ(texts[0], (Lines{kConnecting, "100%", "Update failed", "Update Failed"}));
        EXPECT_EQ(Installed("q.dll"), "installed");
        EXPECT_FALSE(Exists("q.dll_"));

        // Running at the click: refused in the run's language, nothing changes.
        texts[0].clear();
        EXPECT_EQ(AnswerMessageBox([&] { window->ButtUpdateClick(); }), "Quorvan is running, please close it.");
        window->UpdateChs->Click();
        EXPECT_EQ(AnswerMessageBox([&] { window->ButtUpdateClick(); }),
                  "Quorvan\u6b63\u5728\u8fd0\u884c, \u8bf7\u5148\u5173\u95edQuorvan");
        EXPECT_EQ(Buttons(*window), "1011");
        EXPECT_EQ(RunMode, 0);
        EXPECT_TRUE(texts[0].empty());
    }
}

namespace {

const std::string kOldDate = "Mon, 07 Dec 2026 10:00:00 GMT";
const std::string kNewDate = "Tue, 08 Dec 2026 09:00:00 GMT";

// A 200 of `body` modified at `date` ("" for no validator), cut after `cut` bytes.
std::string Whole(const std::string& body, const std::string& date, std::size_t cut = std::string::npos)
{
    return "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n" +
           (date.empty() ? "" : "Last-Modified: " + date + "\r\n") + "\r\n" + body.substr(0, cut);
}

// A 206 of `body` from byte `first`, naming `total` as the file's length.
std::string Part(const std::string& body, std::size_t first, std::size_t total, const std::string& date)
{
    return "HTTP/1.0 206 Partial Content\r\nContent-Length: " + std::to_string(body.size() - first) +
           "\r\nContent-Range: bytes " + std::to_string(first) + "-" + std::to_string(body.size() - 1) + "/" +
           std::to_string(total) + "\r\nLast-Modified: " + date + "\r\n\r\n" + body.substr(first);
}

// The value of header line `name` in a request, "" when absent.
std::string Field(const std::string& request, const std::string& name)
{
    const std::size_t at = request.find("\r\n" + name + ": ");
    if (at == std::string::npos)
        return "";
    const std::size_t from = at + name.size() + 4;
    return request.substr(from, request.find("\r\n", from) - from);
}

// The Range each request asked for; each range must come with the validator it resumes.
Lines RangesAsked(const std::vector<std::string>& requests, const std::string& validator)
{
    Lines ranges;
    for (const std::string& request : requests) {
        ranges.push_back(Field(request, "Range"));
        EXPECT_EQ(Field(request, "If-Range"), ranges.back().empty() ? "" : validator) << request;
    }
    return ranges;
}

}  // namespace

// A download cut at 30% and at 70% by a front before nginx completes in one
// run, each retry asking nginx only for the missing bytes, and its per cent
// going on from where it stopped.
TEST_F(UpdateRun, CutTwiceTheDownloadCompletesFromTheMissingBytes)
{
    const std::string big = PatternBytes(1'000'000, 13);
    web.Put("update/eng/big.bin", big);
    web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\nbig.bin\r\n");
    const TCuttingFront front(web.Port(), "/update/eng/big.bin", {big.size() * 3 / 10, big.size() * 7 / 10});
    CheckThenDownloadFrom(front.Host());
    window->SetRetryPause(1);
    RunToEnd();

    EXPECT_EQ(Installed("big.bin"), big);
    EXPECT_FALSE(Exists("big.bin_") || Exists("big.bin_.resume"));
    Lines asked;
    std::istringstream log(web.AccessLog());
    for (std::string line; std::getline(log, line);)
        if (line.starts_with("/update/eng/big.bin|"))
            asked.push_back(line.substr(20, line.find('|', 20) - 20) + " " + line.substr(line.rfind('|') + 1));
    EXPECT_EQ(asked, (Lines{"- 200", "bytes=300000- 206", "bytes=700000- 206"}));
    // Each try's per cent goes on from the last one before it.
    int last = 0;
    for (const std::string& text : texts[0])
        if (text.ends_with("%")) {
            EXPECT_GE(std::stoi(text), last) << text;
            last = std::stoi(text);
        }
    EXPECT_EQ(std::count(texts[0].begin(), texts[0].end(), kRetrying), 2);
    EXPECT_EQ(texts[0].back(), "Update Success");
}

// Servers that answer a resumed request in every way they can: what each
// request asked for, and what ends up installed. Nothing mixed, ever.
TEST_F(UpdateRun, ResumedRequestsAndTheirAnswers)
{
    const std::string a = PatternBytes(10'000, 11);
    const std::string b = PatternBytes(10'000, 12);
    const std::string cut = Whole(a, kOldDate, 3000);
    const std::string old = "installed";
    const struct {
        const char* Name;
        Lines Answers;  // to each request in turn
        Lines Ranges;   // asked for by each request
        std::string Installed;
        bool KeepsCut = true;  // a failed run leaves the cut bytes for the next
    } cases[] = {
        {"range ignored", {cut, Whole(a, kOldDate)}, {"", "bytes=3000-"}, a},
        {"file changed", {cut, Whole(b, kNewDate)}, {"", "bytes=3000-"}, b},
        {"file changed, If-Range ignored", {cut, Part(b, 3000, 10'000, kNewDate), Whole(b, kNewDate)},
         {"", "bytes=3000-", ""}, b},
        {"416", {cut, "HTTP/1.0 416 Range Not Satisfiable\r\nContent-Length: 0\r\n\r\n", Whole(a, kOldDate)},
         {"", "bytes=3000-", ""}, a},
        {"206 from a wrong start", {cut, Part(a, 2000, 10'000, kOldDate), Whole(a, kOldDate)},
         {"", "bytes=3000-", ""}, a},
        {"206 of another total", {cut, Part(a, 3000, 12'000, kOldDate), Whole(a, kOldDate)},
         {"", "bytes=3000-", ""}, a},
        {"no validator", {Whole(a, "", 3000), Whole(a, "")}, {"", ""}, a},
        {"lost on every try", {cut, cut, cut, cut}, {"", "bytes=3000-", "bytes=3000-", "bytes=3000-"}, old},
        {"error status with a body", {cut, "HTTP/1.0 503 Service Unavailable\r\nContent-Length: 5\r\n\r\nbusy!"},
         {"", "bytes=3000-"}, old},
        // Its whole body arrives, but its range stops a byte short: nothing
        // proves the file, and nothing of it stays.
        {"206 whose range ends short of its body",
         {cut, "HTTP/1.0 206 Partial Content\r\nContent-Length: 7000\r\nContent-Range: bytes 3000-9998/10000\r\n"
               "Last-Modified: " + kOldDate + "\r\n\r\n" + a.substr(3000)},
         {"", "bytes=3000-"}, old, false},
    };
    web.Put("update/eng/update.ini", "1.15\r\n[FILESLIST]\r\ncore.dll\r\n");
    for (const auto& [name, answers, ranges, installed, keepsCut] : cases) {
        SCOPED_TRACE(name);
        install.WriteFile("core.dll", old);
        TLoopbackServer server([&](TServerConnection& c) {
            c.ReadHeader();
            c.Write(answers[std::min<std::size_t>(c.Index(), answers.size() - 1)]);
        });
        CheckThenDownloadFrom("127.0.0.1:" + server.Port());
        window->SetRetryPause(1);
        RunToEnd();
        EXPECT_EQ(RangesAsked(server.Requests(), kOldDate), ranges);
        EXPECT_EQ(Installed("core.dll"), installed);
        EXPECT_EQ(texts[0].back(), installed == old ? "Update Failed" : "Update Success");
        // Only a download that can resume stays, with its record.
        EXPECT_EQ(Installed("core.dll_"), installed == old && keepsCut ? a.substr(0, 3000) : "<missing>");
        EXPECT_EQ(Exists("core.dll_.resume"), installed == old && keepsCut);
        fs::remove(install.Path() + "/core.dll_");
        fs::remove(install.Path() + "/core.dll_.resume");
    }
}

// "&Abort" ends a worker waiting to retry at once, and its download stays
// for the next run of the same file; a run of another channel's file drops it.
TEST_F(UpdateRun, AbortedDownloadResumesInTheNextRun)
{
    const std::string a = PatternBytes(10'000, 14);
    TLoopbackServer server([&](TServerConnection& c) {
        const std::string request = c.ReadHeader();
        c.Write(Field(request, "Range") == "bytes=3000-" ? Part(a, 3000, a.size(), kOldDate)
                                                         : Whole(a, kOldDate, 3000));
    });
    for (const char* channel : {"eng", "chs"})
        web.Put(std::string("update/") + channel + "/update.ini", "1.15\r\n[FILESLIST]\r\ncore.dll\r\n");
    install.WriteFile("core.dll", "installed");
    CheckThenDownloadFrom("127.0.0.1:" + server.Port());
    window->SetRetryPause(60'000);
    const auto abortWhileWaiting = [&](const char* retrying) {
        window->ButtUpdateClick();
        ASSERT_TRUE(ProcessUntil([&] { return !texts[0].empty() && texts[0].back() == retrying; }));
        const auto start = std::chrono::steady_clock::now();
        window->ButtAbort->Click();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        EXPECT_EQ(Buttons(*window), "1011");
        EXPECT_EQ(texts[0].back(), texts[0][0] == kConnecting ? "Update Failed" : kChineseFailed);
        EXPECT_EQ(Installed("core.dll"), "installed");
        EXPECT_EQ(Installed("core.dll_"), a.substr(0, 3000));
        texts[0].clear();
    };
    abortWhileWaiting(kRetrying);
    window->UpdateChs->Click();  // another URL: the kept bytes are not its file's
    abortWhileWaiting(kChineseRetrying);
    window->SetRetryPause(1);
    RunToEnd();
    EXPECT_EQ(RangesAsked(server.Requests(), kOldDate), (Lines{"", "", "bytes=3000-"}));
    EXPECT_EQ(Installed("core.dll"), a);
    EXPECT_EQ(texts[0].front(), kChineseConnecting);
    EXPECT_EQ(texts[0].back(), kChineseSuccess);
    for (std::size_t i = 1; i + 1 < texts[0].size(); ++i)
        EXPECT_GE(std::stoi(texts[0][i]), 30) << texts[0][i];  // on from the kept 30%
    EXPECT_FALSE(Exists("core.dll_") || Exists("core.dll_.resume"));

    // Kept bytes that are not all the record names start the file afresh.
    install.WriteFile("core.dll", "installed");
    texts[0].clear();
    window->SetRetryPause(60'000);
    abortWhileWaiting(kChineseRetrying);
    fs::resize_file(install.Path() + "/core.dll_", 2000);
    window->SetRetryPause(1);
    RunToEnd();
    EXPECT_EQ(RangesAsked(server.Requests(), kOldDate), (Lines{"", "", "bytes=3000-", "", "", "bytes=3000-"}));
    EXPECT_EQ(Installed("core.dll"), a);
}
