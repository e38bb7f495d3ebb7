// The updater's start: find the Quorvan installation, then run the window
// or say that the installation is broken.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>

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

// Where a run looks for releases when not where the build says: the demo
// server on a port chosen at run time.
struct TUpdateSource {
    std::string Server1;  // "host" or "host:port"
    std::string Server2;
    std::optional<std::string> UpdateKey;  // the build's when none
};
int RunUpdater(const TWindowRunner& toolkit, const TUpdateSource& source);
