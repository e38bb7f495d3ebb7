// QVUpdate for Windows: finds the Quorvan installation and runs the update
// window as a native dialog.
#include "app/StartUp.h"
#include "app/win32/Win32UpdateView.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    TWindowRunner runner;
    runner.CreateView = [] { return std::make_unique<TWin32UpdateView>(); };
    runner.Run = [](TUpdateView& view) {
        auto& dialog = static_cast<TWin32UpdateView&>(view);
        dialog.Show();
        return dialog.Run();
    };
    return RunUpdater(runner);
}
