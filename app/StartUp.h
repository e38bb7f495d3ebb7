// The updater's start: find the Quorvan installation, then run the window
// or say that the installation is broken.
#pragma once

#include <functional>
#include <memory>
#include <stdexcept>

class TUpdateView;

// The installation directory's registry value is not a string.
class ERegistryTypeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Sets InstallDir from the value "Install Dir" of HKEY_LOCAL_MACHINE
// \Software\Quorvan, as stored: empty when the key cannot be opened with
// full access or the value is missing or empty. Raises ERegistryTypeError
// when the value is of a non-string type.
void ReadInstallDir();

// Whether InstallDir names an existing directory.
bool InstallationValid();

// How a toolkit runs the window: CreateView makes it, hidden; Run shows
// it and runs the event loop until it closes, returning the exit code.
struct TWindowRunner {
    std::function<std::unique_ptr<TUpdateView>()> CreateView;
    std::function<int(TUpdateView& view)> Run;
};

// The program after the GUI application exists: the failure message, or
// the main window until it is closed. Returns the exit code.
int RunUpdater(const TWindowRunner& toolkit);
