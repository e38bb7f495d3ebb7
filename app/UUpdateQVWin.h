// The updater's one window: language and server choice, the commands, the
// log and the list of the release's files.
#pragma once

#include "app/AnsiWidgets.h"

#include <QWidget>

#include <string>

class QCloseEvent;
class QFrame;
class QGroupBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QShowEvent;
class QTreeWidget;

class TUpdateQVWin : public QWidget {
public:
    explicit TUpdateQVWin(QWidget* parent = nullptr);

    // Components, owned by the window, in the order they are declared.
    QPushButton* ButtNext = nullptr;
    QPushButton* ButtExit = nullptr;
    QLabel* DownPrecent = nullptr;
    QPushButton* ButtAbort = nullptr;
    QPushButton* ButtUpdate = nullptr;
    TAnsiMemo* UpdateMemo = nullptr;
    QLabel* LabelOnlineUpdate = nullptr;
    QTreeWidget* FilesList = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QRadioButton* UpdateEng = nullptr;
    QRadioButton* UpdateChs = nullptr;
    QGroupBox* GroupBox2 = nullptr;
    QRadioButton* Server1 = nullptr;
    QRadioButton* Server2 = nullptr;
    QPushButton* Button1 = nullptr;
    QFrame* Panel1 = nullptr;
    TAnsiMemo* Memo2 = nullptr;

    // Handlers.
    void FormShow();
    void UpdateEngClick();
    void UpdateChsClick();
    void ButtExitClick();
    void Button1Click();

    void SwitchLanguage(bool chinese);

    // Reads the stored manifest at `fileName` into the log and the file
    // list and sets NewestVersion; true when its release is newer than
    // this one. Raises EManifestError or EStreamError when the file cannot
    // be read or line 1 is not a number. (Manifest.cpp)
    bool ReadManifest(const std::string& fileName);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void CreateComponents();
    void SetTabOrder();
    void CentreOnScreen();
};

// The main window, for the parts that reach it from elsewhere.
extern TUpdateQVWin* UpdateQVWin;
