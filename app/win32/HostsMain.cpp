// qvupdate-hosts.exe: qvupdate.exe with the update hosts and the release key
// taken from the command line instead of the build, for the demo server on
// a port chosen at run time (the test under Wine):
//   qvupdate-hosts.exe [--host1 HOST[:PORT]] [--host2 HOST[:PORT]] [--update-key KEY]
#include "app/Globals.h"
#include "app/StartUp.h"
#include "app/UUpdateQVWin.h"
#include "app/win32/Win32UpdateView.h"

#include <cstdlib>
#include <optional>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    std::string host1 = QVUPDATE_SERVER1;
    std::string host2 = QVUPDATE_SERVER2;
    std::optional<std::string> key;
    for (int i = 1; i + 1 < __argc; i += 2) {
        const std::string option = __argv[i];
        if (option == "--host1")
            host1 = __argv[i + 1];
        else if (option == "--host2")
            host2 = __argv[i + 1];
        else if (option == "--update-key")
            key = __argv[i + 1];
        else
            return 2;
    }

    ReadInstallDir();
    if (!InstallationValid()) {
        MessageBoxA(nullptr, "Quorvan install fail, please reinstall", "QVUpdate", MB_OK);
        return 0;
    }
    TWin32UpdateView view;
    TUpdateQVWin window(view, host1, host2);
    if (key)
        window.SetUpdateKey(*key);
    UpdateQVWin = &window;
    view.Show();
    const int exitCode = view.Run();
    UpdateQVWin = nullptr;
    return exitCode;
}
