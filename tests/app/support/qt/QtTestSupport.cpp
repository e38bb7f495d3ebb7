// The app tests' helpers that need Qt: the application, its binding to the
// main thread's queue and the answering of message boxes.
#include "app/Globals.h"
#include "app/qt/QtUpdater.h"
#include "app/support/AppTestSupport.h"
#include "app/support/UpdateTestSupport.h"
#include "platform/qt/QtBinding.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>
#include <sstream>

QApplication& TestApplication()
{
    static int argc = 1;
    static char name[] = "qvapp-test";
    static char* argv[] = {name, nullptr};
    static QApplication* application = new QApplication(argc, argv);
    return *application;
}

void UseQtBinding()
{
    static const TQtBinding binding(TestApplication());
}

QTreeWidget& ShownFilesList(const TQtUpdater& window)
{
    return *window.Widget().findChild<QTreeWidget*>("FilesList");
}

TUpdaterTest::TUpdaterTest(const std::string& locations) : web(locations)
{
    UseQtBinding();
    InstallDir = install.Path();
    RunMode = 0;
}

void TUpdaterTest::SetUp()
{
    if (!web.Running())
        GTEST_SKIP() << "nginx is not installed";
}

std::string TUpdaterTest::Installed(const std::string& path) const
{
    std::ifstream file(install.Path() + "/" + path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return file ? bytes.str() : "<missing>";
}

bool TUpdaterTest::Exists(const std::string& path) const
{
    return std::filesystem::exists(install.Path() + "/" + path);
}

std::string AnswerMessageBox(const std::function<void()>& action)
{
    std::string text;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            text = box->text().toStdString();
            box->accept();
        }
    });
    poll.start(10);
    QTimer guard;  // a box nobody finds must not hang the test
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    guard.start(10000);
    action();
    return text;
}
