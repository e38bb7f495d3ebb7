#include "app/qt/QtUpdater.h"

#include <QApplication>

TWindowRunner QtWindowRunner()
{
    TWindowRunner runner;
    runner.CreateView = [] { return std::make_unique<TQtUpdateView>(); };
    runner.Run = [](TUpdateView& view) {
        static_cast<TQtUpdateView&>(view).show();
        return QApplication::exec();
    };
    return runner;
}
