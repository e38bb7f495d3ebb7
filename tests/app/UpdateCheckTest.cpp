// "&Check" against real servers on loopback: nginx for manifests, scripted
// servers for misbehaviour.
// ctest-link: qvapp_test_qt
#include "app/Globals.h"
#include "app/qt/QtUpdater.h"
#include "app/support/AppTestSupport.h"
#include "app/support/UpdateTestSupport.h"
#include "common/LoopbackServer.h"
#include "http/HttpProt.h"

#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

namespace {

using Lines = std::vector<std::string>;

const char* const kNewer =
    "1.15\r\nFaster downloads\r\n\r\n  indented note\r\n[FilesList]\r\nQuorvan.exe\r\n\r\nlang.dll = lang\\ \r\n";

class UpdateCheck : public TUpdaterTest {
protected:
    UpdateCheck()
        : TUpdaterTest("    location = /update/chs/update.ini { return 302 /moved/chs.ini; }\n"
                       "    location = /update/eng/gone.ini { return 404; }\n")
    {
    }

    std::unique_ptr<TQtUpdater> WindowFor(const std::string& host)
    {
        return std::make_unique<TQtUpdater>(host, "127.0.0.1:1");
    }

    Lines Rows(const TUpdateQVWin& window) const
    {
        Lines rows;
        const TViewFileList& list = *window.FilesList;
        for (int i = 0; i < list.RowCount(); ++i)
            rows.push_back(list.Cell(i, 0) + "|" + list.Cell(i, 1) + "|" + list.Cell(i, 2) +
                           (list.Checked(i) ? "|x" : "|"));
        return rows;
    }

    bool ManifestLeft() const { return Exists("update.ini"); }
};

}  // namespace

TEST_F(UpdateCheck, NewerReleaseIsLoggedAndListed)
{
    web.Put("update/eng/update.ini", kNewer);
    auto window = WindowFor(web.Host());
    window->ButtNextClick();

    EXPECT_EQ(UpdateIniURL, "http://" + web.Host() + "/update/eng/update.ini");
    EXPECT_EQ(window->UpdateMemo->Lines(),
              (Lines{"start to get newest version infomation ....", "Loading...", "Get newest version infomation",
                     "Newest version : 1.15", "Faster downloads", "", "  indented note"}));
    EXPECT_EQ(Rows(*window), (Lines{"Quorvan.exe|0||x", "lang.dll|0|lang\\|x"}));
    EXPECT_EQ(Buttons(*window), "1011");
    EXPECT_EQ(RunMode, 1);
    EXPECT_FALSE(ManifestLeft());
}

TEST_F(UpdateCheck, ReleasesWithNothingToInstallLeaveUpdateOff)
{
    auto window = WindowFor(web.Host());
    web.Put("update/eng/update.ini", "1.14\r\n[FILESLIST]\r\nQuorvan.exe\r\n");
    window->ButtNextClick();
    EXPECT_EQ(window->UpdateMemo->Lines().back(), "Current Quorvan is newest");
    EXPECT_EQ(window->FilesList->RowCount(), 0);
    EXPECT_EQ(Buttons(*window), "1010");

    web.Put("update/eng/update.ini", "1.2\r\nnotes only\r\n[FILESLIST]\r\n\r\n");
    window->ButtNextClick();
    EXPECT_EQ(window->UpdateMemo->Lines().back(), "notes only");
    EXPECT_EQ(Buttons(*window), "1010");
    EXPECT_FALSE(ManifestLeft());
}

TEST_F(UpdateCheck, UnsafeEntriesAreLoggedNotListed)
{
    web.Put("update/eng/update.ini",
            "1.15\r\n[FILESLIST]\r\n..\\evil.dll\r\nok.dll=plugins\\\r\nx.dll=..\\\r\nc.dll=C:\\Windows\\\r\n"
            "=nothing\r\n");
    auto window = WindowFor(web.Host());
    window->ButtNextClick();
    EXPECT_EQ(Rows(*window), (Lines{"ok.dll|0|plugins\\|x"}));
    const Lines log = window->UpdateMemo->Lines();
    EXPECT_EQ(Lines(log.end() - 4, log.end()),
              (Lines{"Unsafe file entry skipped: ..\\evil.dll", "Unsafe file entry skipped: x.dll=..\\",
                     "Unsafe file entry skipped: c.dll=C:\\Windows\\", "Unsafe file entry skipped: =nothing"}));
}

TEST_F(UpdateCheck, BodyThatIsNoManifestFailsTheRead)
{
    web.Put("update/eng/update.ini", "<html><body>Maintenance</body></html>\r\n");
    auto window = WindowFor(web.Host());
    window->ButtNextClick();
    EXPECT_EQ(window->UpdateMemo->Lines(),
              (Lines{"start to get newest version infomation ....", "Loading...", "Can not get the newest infomation"}));
    EXPECT_EQ(Buttons(*window), "1010");
    EXPECT_EQ(RunMode, 1);
    EXPECT_FALSE(ManifestLeft());

    // A second check starts afresh.
    web.Put("update/eng/update.ini", kNewer);
    window->ButtNextClick();
    EXPECT_EQ(Buttons(*window), "1011");
}

TEST_F(UpdateCheck, FailedFetchesEndIdle)
{
    const Lines failed{"start to get newest version infomation ....", "Loading...",
                       "Can not get newest version infomation."};
    const std::string refused = "127.0.0.1:" + std::to_string(FreeLoopbackPort());
    for (const std::string& host : {web.Host(), std::string("no-such-host.invalid"), refused}) {
        SCOPED_TRACE(host);
        auto window = WindowFor(host);  // nginx has no English manifest here: 404
        window->SetRetryPause(1);  // the name and the refusal are tried four times
        window->ButtNextClick();
        EXPECT_EQ(window->UpdateMemo->Lines(), failed);
        EXPECT_EQ(Buttons(*window), "1010");
        EXPECT_EQ(RunMode, 0);
        EXPECT_FALSE(ManifestLeft());
    }
}

TEST_F(UpdateCheck, RelocationIsFollowedOnTheOtherChannel)
{
    web.Put("moved/chs.ini", kNewer);
    auto window = std::make_unique<TQtUpdater>("127.0.0.1:1", web.Host());
    window->UpdateChs->Click();
    window->Server2->Click();
    window->ButtNextClick();
    EXPECT_EQ(UpdateIniURL, "http://" + web.Host() + "/update/chs/update.ini");
    EXPECT_EQ(window->FilesList->RowCount(), 2);
    EXPECT_EQ(window->UpdateMemo->Lines().at(2), "Get newest version infomation");  // English in any language
}

TEST_F(UpdateCheck, AbortAndSilenceEndTheCheck)
{
    TLoopbackServer silent([](TServerConnection& connection) {
        connection.ReadHeader();
        connection.WaitForClose();
    });
    const Lines failed{"start to get newest version infomation ....", "Loading...",
                       "Can not get newest version infomation."};

    auto window = WindowFor("127.0.0.1:" + silent.Port());
    QTimer abort;
    QObject::connect(&abort, &QTimer::timeout, [&] {
        if (silent.Requests().size() == 1 && window->ButtAbort->Enabled()) {
            abort.stop();
            window->ButtAbort->Click();
        }
    });
    abort.start(5);
    window->ButtNextClick();
    EXPECT_EQ(window->UpdateMemo->Lines(), failed);
    EXPECT_EQ(Buttons(*window), "1010");
    EXPECT_EQ(RunMode, 0);

    // Nobody presses Abort: the inactivity time-out ends it.
    EXPECT_EQ(window->CheckHttpCli->Timeout(), 60);
    window->CheckHttpCli->SetTimeout(1);
    window->SetRetryPause(1);  // each of the four tries times out
    window->ButtNextClick();
    EXPECT_EQ(window->UpdateMemo->Lines(), failed);
    EXPECT_EQ(RunMode, 0);
}

// A manifest cut short is asked for again, from its start; "&Abort" ends
// the wait before a retry at once.
TEST_F(UpdateCheck, LostConnectionIsTriedAgain)
{
    const std::string manifest = kNewer;
    const std::string header = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(manifest.size()) + "\r\n\r\n";
    TLoopbackServer server([&](TServerConnection& connection) {
        connection.ReadHeader();
        connection.Write(header + manifest.substr(0, connection.Index() == 1 ? manifest.size() : 10));
    });
    auto window = WindowFor("127.0.0.1:" + server.Port());
    window->SetRetryPause(1);
    window->ButtNextClick();
    EXPECT_EQ(window->FilesList->RowCount(), 2);
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_EQ(server.Requests()[1].find("Range:"), std::string::npos);

    window->SetRetryPause(60'000);
    QTimer abort;
    QObject::connect(&abort, &QTimer::timeout, [&] {
        // The third answer was cut: the check waits to try again.
        if (server.Requests().size() == 3 && window->CheckHttpCli->RequestState() == TRequestState::rsIdle) {
            abort.stop();
            window->ButtAbort->Click();
        }
    });
    abort.start(5);
    const auto start = std::chrono::steady_clock::now();
    window->ButtNextClick();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(window->UpdateMemo->Lines().back(), "Can not get newest version infomation.");
    EXPECT_EQ(server.Requests().size(), 3u);
    EXPECT_FALSE(ManifestLeft());
}

TEST_F(UpdateCheck, ManifestThatCannotBeCreatedChangesNothing)
{
    // After a check that listed files: the buttons stay as that one left them.
    web.Put("update/eng/update.ini", kNewer);
    auto window = WindowFor(web.Host());
    window->ButtNextClick();
    ASSERT_EQ(Buttons(*window), "1011");
    InstallDir = install.Path() + "/missing";
    window->ButtNextClick();
    EXPECT_EQ(window->UpdateMemo->Lines(),
              (Lines{"start to get newest version infomation ....",
                     "Online Update failed, please restart online update program."}));
    EXPECT_EQ(Buttons(*window), "1011");
    EXPECT_EQ(RunMode, 1);
}
