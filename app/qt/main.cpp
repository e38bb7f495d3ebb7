// QVUpdate: finds the Quorvan installation and runs the update window.
#include "app/StartUp.h"
#include "app/qt/QtUpdater.h"
#include "platform/qt/QtBinding.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const TQtBinding binding(application);
    return RunUpdater(QtWindowRunner());
}
