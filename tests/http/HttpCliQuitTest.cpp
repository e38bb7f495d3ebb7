// ctest-labels: threads
// A blocking request that waits through the application's message
// processing ends when the application quits, instead of spinning there.
#include "http/HttpProt.h"
#include "support/HttpTestSupport.h"
#include "common/LoopbackServer.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

TEST(HttpCliQuit, ApplicationsWaitAbortsTheRequestAndKeepsTheQuit)
{
    // Answers nothing until the client goes.
    TLoopbackServer silent([](TServerConnection& connection) {
        connection.ReadHeader();
        connection.WaitForClose();
    });
    THttpCli client;
    client.SetMultiThreaded(false);
    client.SetURL(silent.Url("/update/eng/update.ini"));
    client.OnStateChange = [](THttpCli* sender) {
        if (sender->RequestState() == TRequestState::rsAwaitingHeader)
            PostQuitMessage(6);
    };
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(BlockingGetResult(client), "404 Connection aborted on request");
    // Well before the server would give up on its own.
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(kServerWaitMs / 2));
    EXPECT_EQ(client.RequestState(), TRequestState::rsIdle);

    MSG msg;
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(msg.wParam, 6u);
}

}  // namespace
