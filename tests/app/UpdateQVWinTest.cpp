#include "app/Globals.h"
#include "app/UUpdateQVWin.h"
#include "app/support/AppTestSupport.h"

#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

namespace {

using Lines = std::vector<std::string>;

class UpdateQVWin : public ::testing::Test, private TApplicationFirst {
protected:
    // The texts that follow the language, in a fixed order.
    QStringList Captions() const
    {
        const QTreeWidgetItem* header = window.FilesList->headerItem();
        return {window.Server1->text(),   window.Server2->text(),    window.ButtNext->text(),
                window.ButtAbort->text(), window.ButtExit->text(),   window.ButtUpdate->text(),
                header->text(0),          header->text(1),           header->text(2)};
    }

    TUpdateQVWin window;
};

}  // namespace

TEST_F(UpdateQVWin, EveryComponentAtItsPlace)
{
    window.show();
    const std::tuple<QWidget*, QWidget*, QRect> places[] = {
        {window.ButtNext, &window, {35, 323, 81, 22}},     {window.ButtExit, &window, {203, 323, 81, 22}},
        {window.DownPrecent, &window, {336, 279, 3, 13}},  {window.ButtAbort, &window, {119, 323, 81, 22}},
        {window.ButtUpdate, &window, {317, 323, 316, 22}}, {window.UpdateMemo, &window, {8, 96, 297, 217}},
        {window.LabelOnlineUpdate, &window, {324, 15, 260, 24}},
        {window.FilesList, &window, {317, 152, 316, 161}}, {window.GroupBox1, &window, {9, 6, 297, 40}},
        {window.UpdateEng, window.GroupBox1, {40, 13, 72, 17}},
        {window.UpdateChs, window.GroupBox1, {160, 13, 72, 17}},
        {window.GroupBox2, &window, {8, 48, 297, 42}},     {window.Server1, window.GroupBox2, {41, 15, 97, 17}},
        {window.Server2, window.GroupBox2, {161, 15, 97, 17}},
        {window.Button1, &window, {296, 323, 153, 21}},    {window.Panel1, &window, {320, 48, 313, 89}},
        {window.Memo2, window.Panel1, {0, 0, 313, 89}},
    };
    for (const auto& [widget, parent, rect] : places) {
        EXPECT_EQ(widget->parentWidget(), parent) << widget->metaObject()->className();
        EXPECT_EQ(widget->geometry(), rect) << widget->metaObject()->className();
    }

    EXPECT_EQ(window.size(), QSize(639, 356));
    EXPECT_EQ(window.minimumSize(), window.maximumSize());
    const Qt::WindowFlags flags = window.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::Dialog) && flags.testFlag(Qt::WindowTitleHint));
    EXPECT_FALSE(flags & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint));
    const QRect screen = window.screen()->availableGeometry();
    EXPECT_LE((window.frameGeometry().center() - screen.center()).manhattanLength(), 2);

    const QTreeWidget& list = *window.FilesList;
    EXPECT_EQ(std::make_tuple(list.columnWidth(0), list.columnWidth(1), list.columnWidth(2)),
              std::make_tuple(130, 110, 70));
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(list.header()->sectionsClickable());

    std::vector<QWidget*> tabChain;
    QWidget* widget = window.ButtNext;
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            tabChain.push_back(widget);
        widget = widget->nextInFocusChain();
    } while (widget != window.ButtNext && tabChain.size() < 20);
    EXPECT_EQ(tabChain, (std::vector<QWidget*>{window.ButtNext, window.ButtExit, window.ButtAbort, window.ButtUpdate,
                                               window.UpdateMemo, window.FilesList, window.UpdateEng,
                                               window.UpdateChs, window.Server1, window.Server2, window.Button1,
                                               window.Memo2}));
}

TEST_F(UpdateQVWin, InitialTextsAndIdleState)
{
    window.show();
    EXPECT_EQ(window.windowTitle(), "Quorvan Update 2.0");
    EXPECT_EQ(Captions(), (QStringList{"Server 1", "Server 2", "&Check", "&Abort", "&Exit", "Online &Update",
                                       "Files", "Status", "Copy to ..."}));
    EXPECT_EQ(window.LabelOnlineUpdate->text(), "Quorvan Online Update ");
    EXPECT_TRUE(window.LabelOnlineUpdate->font().bold());
    EXPECT_EQ(window.LabelOnlineUpdate->font().pixelSize(), 19);
    EXPECT_EQ(window.DownPrecent->text(), "");
    EXPECT_EQ(window.UpdateEng->text(), "English");
    EXPECT_EQ(window.UpdateChs->text(), QString::fromUtf8("中文简体"));
    EXPECT_TRUE(window.UpdateEng->isChecked() && window.Server1->isChecked());
    EXPECT_EQ(window.Button1->text(), "Run Quorvan");
    EXPECT_FALSE(window.Button1->isVisible());
    EXPECT_TRUE(window.UpdateMemo->isReadOnly() && window.Memo2->isReadOnly());
    EXPECT_EQ(window.Memo2->Lines(), (Lines{"The QVUpdate will allow you automatically update your ", "Quorvan", "",
                                            "Please make sure you are connected to the Internet before ",
                                            "you run the update."}));

    EXPECT_EQ(RunMode, 0);
    EXPECT_TRUE(window.ButtNext->isEnabled() && window.ButtExit->isEnabled());
    EXPECT_FALSE(window.ButtAbort->isEnabled() || window.ButtUpdate->isEnabled());
}

TEST_F(UpdateQVWin, LanguageSwitchBothWays)
{
    window.show();
    window.UpdateChs->click();
    EXPECT_EQ(Captions(), QString::fromUtf8("服务器 1|服务器 2|检查|中止|退出|在线更新|文件|状态|拷贝到 ...").split('|'));
    // The notice keeps its GBK bytes; each LF CR shows as one line break.
    EXPECT_EQ(window.Memo2->Text(),
              "QVUpdate \xbd\xab\xb0\xef\xd6\xfa\xc4\xe3\xd7\xd4\xb6\xaf\xc9\xfd\xbc\xb6\xb5\xbd\xd0\xc2"
              "\xb0\xe6\xb1\xbe\xb5\xc4 Quorvan\n\r\n\r\n\r\xd4\xda\xc9\xfd\xbc\xb6\xd6\xae\xc7\xb0, "
              "\xc7\xeb\xc8\xb7\xb6\xa8\xc4\xe3\xd2\xd1\xbe\xad\xc1\xac\xbd\xd3\xb5\xbd\xd2\xf2\xcc\xd8\xcd\xf8");
    EXPECT_EQ(window.Memo2->toPlainText(),
              QString::fromUtf8("QVUpdate 将帮助你自动升级到新版本的 Quorvan\n\n\n在升级之前, 请确定你已经连接到因特网"));
    EXPECT_EQ(window.windowTitle(), "Quorvan Update 2.0");
    EXPECT_EQ(window.UpdateEng->text(), "English");

    window.UpdateEng->click();
    EXPECT_EQ(Captions(), (QStringList{"Server 1", "Server 2", "&Check", "&Abort", "&Exit", "Online &Update",
                                       "Files", "Status", "Copy to ..."}));
    EXPECT_EQ(window.Memo2->Text(), "The QVUpdate will allow you automatically update your Quorvan\n\r\n\r\n\r"
                                    "Please make sure you are connected to the Internet before you run the update.");
    EXPECT_EQ(window.Memo2->Lines().size(), 4u);
}

TEST_F(UpdateQVWin, ClosesOnlyWhileExitIsEnabled)
{
    window.show();
    window.ButtExit->setEnabled(false);
    EXPECT_FALSE(window.close());
    window.ButtExit->setEnabled(true);
    window.ButtExit->click();
    EXPECT_FALSE(window.isVisible());
}

TEST_F(UpdateQVWin, RunQuorvanStartsTheInstalledProgram)
{
    TTempDir folder;
    const std::string marker = folder.Path() + "/started";
    const std::string program = folder.WriteFile("Quorvan.exe", "#!/bin/sh\ntouch '" + marker + "'\n");
    std::filesystem::permissions(program, std::filesystem::perms::owner_exec, std::filesystem::perm_options::add);
    InstallDir = folder.Path();
    window.Button1Click();
    InstallDir.clear();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(std::filesystem::exists(marker));
}

TEST(AnsiMemo, KeepsBytesAndShowsEveryBreak)
{
    TestApplication();
    TAnsiMemo memo(nullptr);
    memo.Add("one");
    memo.Add("");
    memo.Add("\xd6\xd0\xce\xc4");  // 中文
    EXPECT_EQ(memo.Text(), "one\r\n\r\n\xd6\xd0\xce\xc4\r\n");
    EXPECT_EQ(memo.Lines(), (Lines{"one", "", "\xd6\xd0\xce\xc4"}));
    EXPECT_EQ(memo.toPlainText(), QString::fromUtf8("one\n\n中文\n"));

    // A line added after a text without a final break starts a line of its
    // own; a break pair formed across the join counts once.
    memo.SetText("x");
    memo.Add("y");
    EXPECT_EQ(memo.toPlainText(), "x\ny\n");
    memo.SetText("a\n");
    memo.Add("\rb");
    EXPECT_EQ(memo.Lines(), (Lines{"a", "b"}));
    EXPECT_EQ(memo.toPlainText(), "a\nb\n");
}
