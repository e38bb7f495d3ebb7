#include "app/StartUp.h"

#include "app/Globals.h"
#include "app/UUpdateQVWin.h"
#include "platform/FileUtils.h"
#include "platform/Win32.h"

#include <memory>
#include <optional>
#include <string>

namespace {

const char* const kTitle = "QVUpdate";
// Below HKEY_LOCAL_MACHINE; a key's name starts without a separator.
const char* const kKeyName = "Software\\Quorvan";
const char* const kValueName = "Install Dir";

class TRegistryKey {
public:
    TRegistryKey(HKEY root, const char* name, REGSAM access)
    {
        if (RegOpenKeyExA(root, name, 0, access, &m_Key) != ERROR_SUCCESS)
            m_Key = nullptr;
    }
    ~TRegistryKey()
    {
        if (m_Key)
            RegCloseKey(m_Key);
    }
    TRegistryKey(const TRegistryKey&) = delete;
    TRegistryKey& operator=(const TRegistryKey&) = delete;

    HKEY Handle() const { return m_Key; }

private:
    HKEY m_Key = nullptr;
};

std::string TypeName(DWORD type)
{
    switch (type) {
    case REG_NONE: return "REG_NONE";
    case REG_BINARY: return "REG_BINARY";
    case REG_DWORD: return "REG_DWORD";
    default: return "type " + std::to_string(type);
    }
}

// The value's text cut at its first NUL; empty when it is missing.
std::string ReadStringValue(HKEY key, const char* name)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::string();
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        throw ERegistryTypeError(std::string("Invalid registry data: the value \"") + name +
                                 "\" of HKEY_LOCAL_MACHINE\\" + kKeyName + " is " + TypeName(type) +
                                 ", where a string is expected");
    std::string data;
    LSTATUS status = ERROR_MORE_DATA;
    while (status == ERROR_MORE_DATA) {
        data.assign(size, '\0');
        status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    }
    if (status != ERROR_SUCCESS)
        return std::string();
    data.resize(std::min<std::size_t>(size, data.size()));
    return data.substr(0, data.find('\0'));
}

}  // namespace

void ReadInstallDir()
{
    InstallDir.clear();
    // Full access, as the installer's key is meant to be written by an
    // administrator: a user who may only read it gets no installation.
    const TRegistryKey key(HKEY_LOCAL_MACHINE, kKeyName, KEY_ALL_ACCESS);
    if (key.Handle())
        InstallDir = ReadStringValue(key.Handle(), kValueName);
}

bool InstallationValid()
{
    return !InstallDir.empty() && DirectoryExists(InstallDir);
}

namespace {

int RunFrom(const TWindowRunner& toolkit, const std::optional<TUpdateSource>& source)
{
    try {
        ReadInstallDir();
    } catch (const ERegistryTypeError& error) {
        MessageBoxA(nullptr, error.what(), kTitle, MB_OK | MB_ICONERROR);
        return 1;
    }
    if (!InstallationValid()) {
        MessageBoxA(nullptr, "Quorvan install fail, please reinstall", kTitle, MB_OK);
        return 0;
    }

    const std::unique_ptr<TUpdateView> view = toolkit.CreateView();
    std::optional<TUpdateQVWin> window;
    if (source) {
        window.emplace(*view, source->Server1, source->Server2);
        if (source->UpdateKey)
            window->SetUpdateKey(*source->UpdateKey);
    } else {
        window.emplace(*view);
    }
    UpdateQVWin = &*window;
    const int exitCode = toolkit.Run(*view);
    UpdateQVWin = nullptr;
    return exitCode;
}

}  // namespace

int RunUpdater(const TWindowRunner& toolkit)
{
    return RunFrom(toolkit, std::nullopt);
}

int RunUpdater(const TWindowRunner& toolkit, const TUpdateSource& source)
{
    return RunFrom(toolkit, source);
}
