// Joins the main thread's message queue to the Qt event loop. Create one
// after the QApplication, on the main thread, and keep it for as long as the
// application runs.
#pragma once

class QApplication;

class TQtBinding {
public:
    explicit TQtBinding(QApplication& application);
    ~TQtBinding();
    TQtBinding(const TQtBinding&) = delete;
    TQtBinding& operator=(const TQtBinding&) = delete;
};
