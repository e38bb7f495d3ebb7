// ctest-link: qvapp_test_qt
#include "app/Globals.h"
#include "app/qt/AnsiWidgets.h"
#include "app/qt/QtUpdater.h"
#include "app/support/AppTestSupport.h"

#include <QHeaderView>
#include <QLabel>
#include <QPlainTextEdit>
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
    template <typename T = QWidget>
    T* Shown(const char* name) const
    {
        return view.findChild<T*>(name);
    }

    // The texts that follow the language, as shown, in a fixed order.
    QStringList Captions() const
    {
        QStringList texts;
        for (const char* name : {"Server1", "Server2", "ButtNext", "ButtAbort", "ButtExit", "ButtUpdate"})
            texts << Shown<QAbstractButton>(name)->text();
        const QTreeWidgetItem* header = Shown<QTreeWidget>("FilesList")->headerItem();
        return texts << header->text(0) << header->text(1) << header->text(2);
    }

    TQtUpdater window;
    TQtUpdateView& view = window.Widget();
};

}  // namespace

TEST_F(UpdateQVWin, EveryComponentAtItsPlace)
{
    view.show();
    const std::tuple<const char*, const char*, QRect> places[] = {
        {"ButtNext", "", {35, 323, 81, 22}},           {"ButtExit", "", {203, 323, 81, 22}},
        {"DownPrecent", "", {336, 279, 3, 13}},        {"ButtAbort", "", {119, 323, 81, 22}},
        {"ButtUpdate", "", {317, 323, 316, 22}},       {"UpdateMemo", "", {8, 96, 297, 217}},
        {"LabelOnlineUpdate", "", {324, 15, 260, 24}}, {"FilesList", "", {317, 152, 316, 161}},
        {"GroupBox1", "", {9, 6, 297, 40}},            {"UpdateEng", "GroupBox1", {40, 13, 72, 17}},
        {"UpdateChs", "GroupBox1", {160, 13, 72, 17}}, {"GroupBox2", "", {8, 48, 297, 42}},
        {"Server1", "GroupBox2", {41, 15, 97, 17}},    {"Server2", "GroupBox2", {161, 15, 97, 17}},
        {"Button1", "", {296, 323, 153, 21}},          {"Panel1", "", {320, 48, 313, 89}},
        {"Memo2", "Panel1", {0, 0, 313, 89}},
    };
    for (const auto& [name, parent, rect] : places) {
        const QWidget* widget = Shown(name);
        ASSERT_NE(widget, nullptr) << name;
        EXPECT_EQ(widget->parentWidget(), *parent ? Shown(parent) : &view) << name;
        EXPECT_EQ(widget->geometry(), rect) << name;
    }

    EXPECT_EQ(view.size(), QSize(639, 356));
    EXPECT_EQ(view.minimumSize(), view.maximumSize());
    const Qt::WindowFlags flags = view.windowFlags();
    EXPECT_TRUE(flags.testFlag(Qt::Dialog) && flags.testFlag(Qt::WindowTitleHint));
    EXPECT_FALSE(flags & (Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint));
    const QRect screen = view.screen()->availableGeometry();
    EXPECT_LE((view.frameGeometry().center() - screen.center()).manhattanLength(), 2);

    const QTreeWidget& list = *Shown<QTreeWidget>("FilesList");
    EXPECT_EQ(std::make_tuple(list.columnWidth(0), list.columnWidth(1), list.columnWidth(2)),
              std::make_tuple(130, 110, 70));
    EXPECT_EQ(list.selectionBehavior(), QAbstractItemView::SelectRows);
    EXPECT_EQ(list.editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_FALSE(list.header()->sectionsClickable());

    QStringList tabChain;
    QWidget* widget = Shown("ButtNext");
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            tabChain << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != Shown("ButtNext") && tabChain.size() < 20);
    EXPECT_EQ(tabChain, QString("ButtNext ButtExit ButtAbort ButtUpdate UpdateMemo FilesList UpdateEng UpdateChs "
                                "Server1 Server2 Button1 Memo2").split(' '));
}

TEST_F(UpdateQVWin, InitialTextsAndIdleState)
{
    view.show();
    EXPECT_EQ(view.windowTitle(), "Quorvan Update 2.0");
    EXPECT_EQ(Captions(), (QStringList{"Server 1", "Server 2", "&Check", "&Abort", "&Exit", "Online &Update",
                                       "Files", "Status", "Copy to ..."}));
    EXPECT_EQ(Shown<QLabel>("LabelOnlineUpdate")->text(), "Quorvan Online Update ");
    EXPECT_TRUE(Shown("LabelOnlineUpdate")->font().bold());
    EXPECT_EQ(Shown("LabelOnlineUpdate")->font().pixelSize(), 19);
    EXPECT_EQ(Shown<QLabel>("DownPrecent")->text(), "");
    EXPECT_EQ(Shown<QRadioButton>("UpdateEng")->text(), "English");
    EXPECT_EQ(Shown<QRadioButton>("UpdateChs")->text(), QString::fromUtf8("中文简体"));
    EXPECT_TRUE(Shown<QRadioButton>("UpdateEng")->isChecked() && Shown<QRadioButton>("Server1")->isChecked());
    EXPECT_EQ(Shown<QPushButton>("Button1")->text(), "Run Quorvan");
    EXPECT_FALSE(Shown("Button1")->isVisible());
    EXPECT_TRUE(Shown<QPlainTextEdit>("UpdateMemo")->isReadOnly() && Shown<QPlainTextEdit>("Memo2")->isReadOnly());
    EXPECT_EQ(window.Memo2->Lines(), (Lines{"The QVUpdate will allow you automatically update your ", "Quorvan", "",
                                            "Please make sure you are connected to the Internet before ",
                                            "you run the update."}));

    window.ButtUpdate->Click();  // disabled: no run starts
    EXPECT_EQ(RunMode, 0);
    for (const char* name : {"ButtNext", "ButtExit", "ButtAbort", "ButtUpdate"})
        EXPECT_EQ(Shown(name)->isEnabled(), name == std::string("ButtNext") || name == std::string("ButtExit")) << name;
}

TEST_F(UpdateQVWin, LanguageSwitchBothWays)
{
    view.show();
    Shown<QRadioButton>("UpdateChs")->click();
    EXPECT_EQ(Captions(), QString::fromUtf8("服务器 1|服务器 2|检查|中止|退出|在线更新|文件|状态|拷贝到 ...").split('|'));
    // The notice keeps its GBK bytes; each LF CR shows as one line break.
    EXPECT_EQ(window.Memo2->Text(),
              "QVUpdate \xbd\xab\xb0\xef\xd6\xfa\xc4\xe3\xd7\xd4\xb6\xaf\xc9\xfd\xbc\xb6\xb5\xbd\xd0\xc2"
              "\xb0\xe6\xb1\xbe\xb5\xc4 Quorvan\n\r\n\r\n\r\xd4\xda\xc9\xfd\xbc\xb6\xd6\xae\xc7\xb0, "
              "\xc7\xeb\xc8\xb7\xb6\xa8\xc4\xe3\xd2\xd1\xbe\xad\xc1\xac\xbd\xd3\xb5\xbd\xd2\xf2\xcc\xd8\xcd\xf8");
    EXPECT_EQ(Shown<QPlainTextEdit>("Memo2")->toPlainText(),
              QString::fromUtf8("QVUpdate 将帮助你自动升级到新版本的 Quorvan\n\n\n在升级之前, 请确定你已经连接到因特网"));
    EXPECT_EQ(view.windowTitle(), "Quorvan Update 2.0");
    EXPECT_EQ(Shown<QRadioButton>("UpdateEng")->text(), "English");

    Shown<QRadioButton>("UpdateEng")->click();
    EXPECT_EQ(Captions(), (QStringList{"Server 1", "Server 2", "&Check", "&Abort", "&Exit", "Online &Update",
                                       "Files", "Status", "Copy to ..."}));
    EXPECT_EQ(window.Memo2->Text(), "The QVUpdate will allow you automatically update your Quorvan\n\r\n\r\n\r"
                                    "Please make sure you are connected to the Internet before you run the update.");
    EXPECT_EQ(window.Memo2->Lines().size(), 4u);
}

TEST_F(UpdateQVWin, ClosesOnlyWhileExitIsEnabled)
{
    view.show();
    window.ButtExit->SetEnabled(false);
    EXPECT_FALSE(Shown("ButtExit")->isEnabled());
    EXPECT_TRUE(view.isVisible());
    EXPECT_FALSE(view.close());
    window.ButtExit->SetEnabled(true);
    Shown<QPushButton>("ButtExit")->click();
    EXPECT_FALSE(view.isVisible());
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

TEST(QtMemo, KeepsBytesAndShowsEveryBreak)
{
    TestApplication();
    QPlainTextEdit edit;
    TQtMemo memo(edit);
    memo.Add("one");
    memo.Add("");
    memo.Add("\xd6\xd0\xce\xc4");  // 中文
    EXPECT_EQ(memo.Text(), "one\r\n\r\n\xd6\xd0\xce\xc4\r\n");
    EXPECT_EQ(memo.Lines(), (Lines{"one", "", "\xd6\xd0\xce\xc4"}));
    EXPECT_EQ(edit.toPlainText(), QString::fromUtf8("one\n\n中文\n"));

    // A line added after a text without a final break starts a line of its
    // own; a break pair formed across the join counts once.
    memo.SetText("x");
    memo.Add("y\n\rz");  // LF CR within a line: one break, as anywhere else
    EXPECT_EQ(edit.toPlainText(), "x\ny\nz\n");
    memo.SetText("a\n");
    memo.Add("\rb");
    EXPECT_EQ(memo.Lines(), (Lines{"a", "b"}));
    EXPECT_EQ(edit.toPlainText(), "a\nb\n");
}
