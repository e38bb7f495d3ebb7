// QVUpdate for Windows: finds the Quorvan installation and runs the update
// window as a native dialog.
#include "app/StartUp.h"
#include "app/win32/Win32UpdateView.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    return RunUpdater(Win32WindowRunner());
}
