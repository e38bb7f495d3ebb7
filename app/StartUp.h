// The updater's start: find the Quorvan installation, then run the window
// or say that the installation is broken.
#pragma once

#include <stdexcept>

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

// The program after the GUI application exists: the failure message, or
// the main window until it is closed. Returns the exit code.
int RunUpdater();
