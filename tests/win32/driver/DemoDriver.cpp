// Drives a running qvupdate-hosts.exe as a user would, through its window's
// own messages, one step per test; scripts/wine-update-demo.sh runs the
// steps in order and checks the files and screenshots between them.
#include "win32/support/DialogLayout.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace {

constexpr auto kTimeout = std::chrono::seconds(60);

// Polls `done` until it holds or the timeout passes.
bool WaitFor(const std::function<bool()>& done)
{
    const auto deadline = std::chrono::steady_clock::now() + kTimeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

HWND Dialog()
{
    HWND dialog = nullptr;
    WaitFor([&] { return (dialog = FindWindowW(kDialogClassName, nullptr)) && IsWindowVisible(dialog); });
    return dialog;
}

HWND Control(int id)
{
    return GetDlgItem(Dialog(), id);
}

// WM_GETTEXT, which the system carries across processes.
std::wstring Text(HWND window)
{
    wchar_t text[4096] = {};
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, std::size(text), reinterpret_cast<LPARAM>(text), SMTO_BLOCK, 5000,
                        &ignored);
    return text;
}

// A click posted, so that the updater's handler may run as long as it likes.
void Click(int id)
{
    PostMessageW(Control(id), BM_CLICK, 0, 0);
}

bool Enabled(int id)
{
    return IsWindowEnabled(Control(id)) != FALSE;
}

bool Idle()
{
    return Enabled(kIdButtNext) && Enabled(kIdButtExit) && !Enabled(kIdButtAbort);
}

}  // namespace

TEST(Demo, ShowsTheWindowAtItsPlaces)
{
    const HWND dialog = Dialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(Text(dialog), L"Quorvan Update 2.0");
    const SIZE client = ClientSize(dialog);
    EXPECT_EQ(std::make_pair(client.cx, client.cy), std::make_pair(639L, 356L));
    for (const TExpectedPlace& control : kDialogLayout)
        EXPECT_EQ(PlaceInDialog(dialog, control.Id), control.Place) << "control " << control.Id;
}

TEST(Demo, ChecksTheRelease)
{
    ASSERT_TRUE(Idle());
    Click(kIdButtNext);
    ASSERT_TRUE(WaitFor([] { return Idle() && Enabled(kIdButtUpdate); })) << Text(Control(kIdUpdateMemo));
    // Signed with the demo's key, checked with libsodium built for Windows.
    for (const wchar_t* line : {L"signature verified", L"Newest version : 1.15"})
        EXPECT_NE(Text(Control(kIdUpdateMemo)).find(line), std::wstring::npos) << Text(Control(kIdUpdateMemo));
}

TEST(Demo, UpdatesTheFiles)
{
    ASSERT_TRUE(Idle() && Enabled(kIdButtUpdate));
    Click(kIdButtUpdate);
    // Before and after the run the buttons look the same: the run is seen to start first.
    ASSERT_TRUE(WaitFor([] { return !Idle(); }));
    ASSERT_TRUE(WaitFor([] { return Idle() && Enabled(kIdButtUpdate); }));
}

TEST(Demo, SwitchesToChinese)
{
    Click(kIdUpdateChs);
    ASSERT_TRUE(WaitFor([] { return Text(Control(kIdButtNext)) == L"\u68c0\u67e5"; }));  // 检查
    EXPECT_EQ(Text(Control(kIdButtExit)), L"\u9000\u51fa");                               // 退出
    EXPECT_EQ(Text(Control(kIdButtUpdate)), L"\u5728\u7ebf\u66f4\u65b0");                 // 在线更新
    EXPECT_EQ(Text(Control(kIdServer1)), L"\u670d\u52a1\u5668 1");                        // 服务器 1
}

TEST(Demo, ExitEndsTheProgram)
{
    Click(kIdButtExit);
    EXPECT_TRUE(WaitFor([] { return FindWindowW(kDialogClassName, nullptr) == nullptr; }));
}
