// qvupdate-hosts.exe: qvupdate.exe with the update hosts and the release key
// taken from the command line instead of the build, for the demo server on
// a port chosen at run time (the test under Wine):
//   qvupdate-hosts.exe [--host1 HOST[:PORT]] [--host2 HOST[:PORT]] [--update-key KEY]
#include "app/StartUp.h"
#include "app/win32/Win32UpdateView.h"

#include <cstdlib>
#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    TUpdateSource source{QVUPDATE_SERVER1, QVUPDATE_SERVER2, std::nullopt};
    for (int i = 1; i + 1 < __argc; i += 2) {
        const std::string option = __argv[i];
        if (option == "--host1")
            source.Server1 = __argv[i + 1];
        else if (option == "--host2")
            source.Server2 = __argv[i + 1];
        else if (option == "--update-key")
            source.UpdateKey = __argv[i + 1];
        else
            return 2;
    }
    return RunUpdater(Win32WindowRunner(), source);
}
