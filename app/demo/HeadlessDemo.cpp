// qvupdate-demo: the updater's window without a display. It runs the real
// window on Qt's offscreen platform, clicks "&Check" and then "Online &Update"
// as a user would, waits for the run to end, and prints what the window
// showed: the log, every status text each row went through, and a
// screenshot of the window at the end.
#include "app/Globals.h"
#include "app/StartUp.h"
#include "app/qt/AnsiWidgets.h"
#include "app/qt/QtUpdater.h"
#include "platform/Application.h"
#include "platform/qt/QtBinding.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const char* const kUsage =
    "usage: qvupdate-demo [--chinese] [--server2] [--host1 HOST[:PORT]] [--host2 HOST[:PORT]]\n"
    "                     [--screenshot FILE.png] [--timeout SECONDS] [--update-key KEY]\n";

// Exit codes beyond 0 (the run ended with the window idle again).
enum class TDemoExit { Usage = 1, NothingToUpdate = 2, TimedOut = 3, NoInstallation = 4 };

struct TOptions {
    std::string Host1 = QVUPDATE_SERVER1;
    std::string Host2 = QVUPDATE_SERVER2;
    bool Chinese = false;
    bool Server2 = false;
    std::string Screenshot = "qvupdate-demo.png";
    int TimeoutSeconds = 300;
    std::optional<std::string> UpdateKey;  // instead of the build's key
};

std::optional<TOptions> ParseOptions(int argc, char** argv)
{
    TOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool hasValue = i + 1 < argc;
        if (option == "--chinese")
            options.Chinese = true;
        else if (option == "--server2")
            options.Server2 = true;
        else if (option == "--host1" && hasValue)
            options.Host1 = argv[++i];
        else if (option == "--host2" && hasValue)
            options.Host2 = argv[++i];
        else if (option == "--update-key" && hasValue)
            options.UpdateKey = argv[++i];
        else if (option == "--screenshot" && hasValue)
            options.Screenshot = argv[++i];
        else if (option == "--timeout" && hasValue) {
            char* end = nullptr;
            const long seconds = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || seconds <= 0 || seconds > 3600)
                return std::nullopt;
            options.TimeoutSeconds = static_cast<int>(seconds);
        } else
            return std::nullopt;
    }
    return options;
}

std::string Utf8(const std::string& ansi)
{
    return AnsiToQString(ansi).toUtf8().toStdString();
}

// A modal box would wait forever for a click that cannot come: the
// message goes to the terminal instead.
int PrintMessageBox(HWND, const char* text, const char* caption, UINT)
{
    std::printf("[message box] %s: %s\n", Utf8(caption ? caption : "").c_str(), Utf8(text ? text : "").c_str());
    return IDOK;
}

bool Idle(const TUpdateQVWin& window)
{
    return RunMode == 0 && window.ButtNext->Enabled() && !window.ButtAbort->Enabled();
}

// Runs the event loop, which also serves the workers' hand-overs, until
// the window is idle or the time is up.
bool WaitForIdle(const TUpdateQVWin& window, int seconds)
{
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (Idle(window) || clock.hasExpired(seconds * 1000LL))
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    return Idle(window);
}

// Every status text each row showed, in order, as the worker handed it.
class TStatusRecorder {
public:
    TStatusRecorder(const TViewFileList& list, QTreeWidget& shown) : m_List(list), m_Shown(shown)
    {
        QObject::connect(&shown, &QTreeWidget::itemChanged, [this](QTreeWidgetItem* item, int column) {
            if (column == TViewFileList::kColumnStatus)
                Record(*item);
        });
    }

    void Clear() { m_History.clear(); }

    const std::vector<std::string>& History(int row) const
    {
        static const std::vector<std::string> none;
        return row < static_cast<int>(m_History.size()) ? m_History[row] : none;
    }

private:
    void Record(const QTreeWidgetItem& item)
    {
        const int row = m_Shown.indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(&item));
        if (row < 0 || row >= m_List.RowCount())
            return;
        if (row >= static_cast<int>(m_History.size()))
            m_History.resize(row + 1);
        const std::string& text = m_List.Cell(row, TViewFileList::kColumnStatus);
        if (m_History[row].empty() || m_History[row].back() != text)
            m_History[row].push_back(text);
    }

    const TViewFileList& m_List;
    QTreeWidget& m_Shown;
    std::vector<std::vector<std::string>> m_History;
};

void PrintLog(const TUpdateQVWin& window)
{
    for (const std::string& line : window.UpdateMemo->Lines())
        std::printf("  %s\n", Utf8(line).c_str());
}

void PrintRows(const TUpdateQVWin& window, const TStatusRecorder& recorder)
{
    const TViewFileList& list = *window.FilesList;
    for (int row = 0; row < list.RowCount(); ++row) {
        const bool checked = list.Checked(row);
        const std::string& copyTo = list.Cell(row, TViewFileList::kColumnCopyTo);
        std::printf("  [%c] %s%s\n", checked ? 'x' : ' ', Utf8(list.Cell(row, TViewFileList::kColumnFiles)).c_str(),
                    copyTo.empty() ? "" : (" (copy to " + Utf8(copyTo) + ")").c_str());
        std::string history;
        for (const std::string& text : recorder.History(row))
            history += (history.empty() ? "" : " | ") + Utf8(text);
        std::printf("      status: %s\n", history.empty() ? Utf8(list.Cell(row, TViewFileList::kColumnStatus)).c_str() : history.c_str());
    }
}

int RunDemo(const TOptions& options)
{
    try {
        ReadInstallDir();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "qvupdate-demo: %s\n", e.what());
        return static_cast<int>(TDemoExit::NoInstallation);
    }
    if (!InstallationValid()) {
        std::fprintf(stderr, "qvupdate-demo: no Quorvan installation (registry file: %s)\n",
                     std::getenv("QVUPDATE_REGISTRY") ? std::getenv("QVUPDATE_REGISTRY") : "the default");
        return static_cast<int>(TDemoExit::NoInstallation);
    }

    TQtUpdater window(options.Host1, options.Host2);
    try {
        if (options.UpdateKey)
            window.SetUpdateKey(*options.UpdateKey);
    } catch (const std::invalid_argument& e) {
        std::fprintf(stderr, "qvupdate-demo: %s\n", e.what());
        return static_cast<int>(TDemoExit::Usage);
    }
    UpdateQVWin = &window;
    window.Widget().show();
    if (options.Chinese)
        window.UpdateChs->Click();
    if (options.Server2)
        window.Server2->Click();
    TStatusRecorder recorder(*window.FilesList, *window.Widget().findChild<QTreeWidget*>("FilesList"));

    std::printf("QVUpdate demo: installation %s\n", InstallDir.c_str());
    std::printf("Server %d (%s), %s channel\n", options.Server2 ? 2 : 1,
                (options.Server2 ? options.Host2 : options.Host1).c_str(), options.Chinese ? "Chinese" : "English");
    if (window.UpdateKey())
        std::printf("Releases must be signed with key %s\n\n", KeyIdText(window.UpdateKey()->KeyId).c_str());
    else
        std::printf("No key built in: releases are not checked\n\n");

    // The check runs inside the click, as it does for a user.
    std::printf("Check\n");
    window.ButtNext->Click();
    PrintLog(window);

    int result = 0;
    if (!window.ButtUpdate->Enabled()) {
        std::printf("\nNothing to update.\n");
        result = static_cast<int>(TDemoExit::NothingToUpdate);
    } else {
        std::printf("\nOnline Update\n");
        recorder.Clear();  // from here on, what the run shows
        window.ButtUpdate->Click();
        if (!WaitForIdle(window, options.TimeoutSeconds)) {
            std::printf("  the run did not end within %d seconds\n", options.TimeoutSeconds);
            result = static_cast<int>(TDemoExit::TimedOut);
        }
    }
    PrintRows(window, recorder);

    ApplicationProcessMessages();
    if (window.Widget().grab().save(QString::fromStdString(options.Screenshot)))
        std::printf("\nScreenshot: %s\n", options.Screenshot.c_str());
    else
        std::fprintf(stderr, "qvupdate-demo: cannot write the screenshot %s\n", options.Screenshot.c_str());
    std::fflush(stdout);
    UpdateQVWin = nullptr;
    return result;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::optional<TOptions> options = ParseOptions(argc, argv);
    if (!options) {
        std::fputs(kUsage, stderr);
        return static_cast<int>(TDemoExit::Usage);
    }
    // Headless by design: no display is needed or used.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    const TQtBinding binding(application);
    static GuiHooks hooks;
    if (const GuiHooks* current = CurrentGuiHooks())
        hooks = *current;
    hooks.MessageBox = PrintMessageBox;
    SetGuiHooks(&hooks);
    const int result = RunDemo(*options);
    SetGuiHooks(nullptr);
    return result;
}
