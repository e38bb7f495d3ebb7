// ctest-link: qvapp_test_qt
#include "app/Globals.h"
#include "app/StartUp.h"
#include "app/qt/QtUpdater.h"
#include "app/support/AppTestSupport.h"

#include "platform/qt/QtBinding.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// A registry file of the test's own, in use for the scope, holding `value`
// (the text after "Install Dir"=) under the Quorvan key.
class TRegistry : public TTempDir {
public:
    explicit TRegistry(const std::string& value = "") { Write(value); }
    void Write(const std::string& value, const char* key = "Quorvan")
    {
        WriteFile("registry.reg", std::string("REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\") + key + "]\r\n" +
                                      (value.empty() ? "" : "\"Install Dir\"=" + value + "\r\n"));
    }
    std::string File() const { return Path() + "/registry.reg"; }

private:
    TScopedEnv m_Env{"QVUPDATE_REGISTRY", File()};
};

std::string Quoted(const std::string& text)
{
    std::string quoted = "\"";
    for (char c : text)
        quoted += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
    return quoted + '"';
}

std::string HexBytes(const std::string& bytes)
{
    std::string list;
    for (unsigned char c : bytes)
        list += (list.empty() ? "" : ",") + QString::number(c, 16).rightJustified(2, '0').toStdString();
    return list;
}

std::pair<std::string, bool> Lookup()
{
    InstallDir = "stale";
    ReadInstallDir();
    return {InstallDir, InstallationValid()};
}

// The lookup seen by a user who may read the registry file but not write
// it; root may write any file, so the child becomes nobody.
bool ValidForReadOnlyUser()
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && setuid(65534) != 0)
            _exit(3);
        ReadInstallDir();
        _exit(InstallationValid() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) <= 1);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool AnyUpdateWindow()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (dynamic_cast<TQtUpdateView*>(widget))
            return true;
    return false;
}

// Runs RunUpdater while `step` is polled until it returns true; a loop
// still running after 10 s is ended so that the test fails, not hangs.
int RunUpdaterWhile(const std::function<bool()>& step)
{
    static const TQtBinding binding(TestApplication());
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (step())
            poll.stop();
    });
    poll.start(10);
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
        QApplication::exit(99);
    });
    guard.start(10000);
    return RunUpdater(QtWindowRunner());
}

// Runs RunUpdater, answers its message box and returns the box's text.
QString MessageOfRun(int& exitCode)
{
    QString text;
    exitCode = RunUpdaterWhile([&text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return false;
        EXPECT_FALSE(AnyUpdateWindow());
        EXPECT_EQ(box->windowTitle(), "QVUpdate");
        text = box->text();
        box->accept();
        return true;
    });
    return text;
}

}  // namespace

TEST(InstallLookup, ValueMustNameAnExistingDirectory)
{
    TRegistry registry;
    const std::string dir = registry.MakeDir("Quorvan");
    const std::string file = registry.WriteFile("Quorvan.exe", "MZ");
    const std::pair<std::string, std::pair<std::string, bool>> cases[] = {
        {"", {"", false}},                    // no value
        {"\"\"", {"", false}},                // empty
        {Quoted(dir), {dir, true}},           // an empty directory will do
        {Quoted(dir + "\\"), {dir + "\\", true}},  // kept as stored
        {Quoted(file), {file, false}},
        {Quoted(dir + "/missing"), {dir + "/missing", false}},
        {"hex(1):" + HexBytes(dir + '\0' + "junk" + '\0'), {dir, true}},  // ends at the first NUL
        {"broken", {"", false}},              // a file that does not parse
    };
    for (const auto& [value, expected] : cases) {
        registry.Write(value);
        EXPECT_EQ(Lookup(), expected) << value;
    }
    registry.Write(Quoted(dir), "Other");
    EXPECT_EQ(Lookup(), std::make_pair(std::string(), false));
    TScopedEnv noFile("QVUPDATE_REGISTRY", dir + "/none.reg");
    EXPECT_EQ(Lookup(), std::make_pair(std::string(), false));
}

TEST(InstallLookup, ExpandableStringIsUsedUnexpanded)
{
    TRegistry registry("hex(2):" + HexBytes(std::string("%QVTESTDIR%") + '\0'));
    TScopedEnv variable("QVTESTDIR", registry.MakeDir("expanded"));
    // The literal name is looked up relative to the working folder.
    const std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::current_path(registry.Path());
    EXPECT_EQ(Lookup(), std::make_pair(std::string("%QVTESTDIR%"), false));
    registry.MakeDir("%QVTESTDIR%");
    EXPECT_EQ(Lookup(), std::make_pair(std::string("%QVTESTDIR%"), true));
    std::filesystem::current_path(previous);
}

TEST(InstallLookup, KeyThatCanOnlyBeReadGivesNoInstallation)
{
    TRegistry registry;
    registry.Write(Quoted(registry.MakeDir("Quorvan")));
    ASSERT_EQ(chmod(registry.Path().c_str(), 0755), 0);
    ASSERT_EQ(chmod(registry.File().c_str(), 0666), 0);
    EXPECT_TRUE(ValidForReadOnlyUser());
    ASSERT_EQ(chmod(registry.File().c_str(), 0444), 0);
    EXPECT_FALSE(ValidForReadOnlyUser());
}

TEST(InstallLookup, NonStringValueIsAnError)
{
    TRegistry registry;
    for (const char* value : {"dword:00000001", "hex:2f,74,6d,70"}) {
        registry.Write(value);
        try {
            ReadInstallDir();
            ADD_FAILURE() << "no error for " << value;
        } catch (const ERegistryTypeError& error) {
            // The message names the key as the user finds it in the registry.
            EXPECT_NE(std::string(error.what()).find("\"Install Dir\" of HKEY_LOCAL_MACHINE\\Software\\Quorvan is "),
                      std::string::npos)
                << error.what();
        }
        EXPECT_EQ(InstallDir, "");
    }
}

TEST(StartUp, FailuresAreShownInAMessageBoxWithoutAWindow)
{
    // A missing value is the user's broken installation (exit code 0); a
    // value of the wrong type is an error of its own, with a failing code.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"", "Quorvan install fail, please reinstall", true},
        {"dword:00000001", "REG_DWORD", false},
    };
    for (const auto& [value, message, succeeds] : cases) {
        TRegistry registry(value);
        int exitCode = -1;
        const QString text = MessageOfRun(exitCode);
        EXPECT_TRUE(text.contains(message)) << text.toStdString();
        EXPECT_EQ(exitCode == 0, succeeds) << exitCode;
    }
}

TEST(StartUp, ValidInstallationRunsTheWindowUntilExit)
{
    TRegistry registry;
    registry.Write(Quoted(registry.MakeDir("Quorvan")));
    bool shown = false;
    const int exitCode = RunUpdaterWhile([&shown] {
        if (!UpdateQVWin || !static_cast<TQtUpdateView&>(UpdateQVWin->View()).isVisible())
            return false;
        shown = true;
        UpdateQVWin->ButtExit->Click();
        return true;
    });
    EXPECT_EQ(exitCode, 0);
    EXPECT_TRUE(shown);
    EXPECT_EQ(UpdateQVWin, nullptr);
}
