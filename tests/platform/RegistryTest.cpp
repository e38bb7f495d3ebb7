// ctest-linux-only: the Linux layer's registry file
#include "platform/AnsiText.h"
#include "platform/Registry.h"
#include "platform/Win32.h"
#include "platform/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

namespace {

class RegistryFile : public ::testing::Test {
protected:
    void Use(const std::string& text) { WriteFileText(m_File, text); }

    // Opens `subKey` of HKEY_LOCAL_MACHINE and reads `name` as bytes.
    LSTATUS Read(const char* subKey, const char* name, std::string& data, DWORD& type, REGSAM access = KEY_READ)
    {
        HKEY key = nullptr;
        LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, subKey, 0, access, &key);
        if (status != ERROR_SUCCESS) return status;
        DWORD size = 0;
        status = RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        if (status == ERROR_SUCCESS) {
            data.assign(size, '\x7f');
            status = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
            data.resize(size);
        }
        EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
        return status;
    }

    ScratchFolder m_Folder;
    std::string m_File = m_Folder / "registry.reg";
    ScopedEnv m_Env{"QVUPDATE_REGISTRY", m_File};
};

const char kVersion5[] =
    "Windows Registry Editor Version 5.00\r\n"
    "\r\n"
    "; the installer's keys\r\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvan]\r\n"
    "\"Install Dir\"=\"C:\\\\Program Files\\\\Quorvan\\\\\"\r\n"
    "@=\"default \\\"quoted\\\"\"\r\n"
    "\"Chinese\"=\"\xe6\x9c\x8d\xe5\x8a\xa1\xe5\x99\xa8\"\r\n"
    "\"Expand\"=hex(2):25,00,54,00,4d,00,50,00,25,00,5c,00,71,00,00,00\r\n"
    "\"Count\"=dword:0000002a\r\n"
    "\"Blob\"=hex:01,02,\\\r\n"
    "  ff,00\r\n"
    "\r\n"
    "[HKEY_CURRENT_USER\\Software\\Quorvan]\r\n"
    "\"Install Dir\"=\"elsewhere\"\r\n";

TEST_F(RegistryFile, EachValueTypeOfAVersion5File)
{
    Use(kVersion5);
    std::string data;
    DWORD type = 0;
    // A leading separator is refused, as by Windows; doubled ones are not.
    EXPECT_EQ(Read("\\Software\\Quorvan", "Install Dir", data, type), ERROR_BAD_PATHNAME);
    ASSERT_EQ(Read("Software\\\\Quorvan\\", "Install Dir", data, type), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(data, std::string("C:\\Program Files\\Quorvan\\") + '\0');

    ASSERT_EQ(Read("Software\\Quorvan", nullptr, data, type), ERROR_SUCCESS);
    EXPECT_EQ(data, std::string("default \"quoted\"") + '\0');

    // Text comes out in the ANSI code page.
    ASSERT_EQ(Read("Software\\Quorvan", "Chinese", data, type), ERROR_SUCCESS);
    EXPECT_EQ(data, Utf8ToAnsi("\xe6\x9c\x8d\xe5\x8a\xa1\xe5\x99\xa8") + '\0');

    // Expandable strings are handed out unexpanded.
    ASSERT_EQ(Read("Software\\Quorvan", "Expand", data, type), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(data, std::string("%TMP%\\q") + '\0');

    ASSERT_EQ(Read("Software\\Quorvan", "Count", data, type), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_DWORD);
    EXPECT_EQ(data, std::string("\x2a\0\0\0", 4));

    ASSERT_EQ(Read("Software\\Quorvan", "Blob", data, type), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_BINARY);
    EXPECT_EQ(data, std::string("\x01\x02\xff\x00", 4));
}

TEST_F(RegistryFile, Regedit4AndUtf16FilesHoldAnsiText)
{
    Use("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Quorvan]\n\"Expand\"=hex(2):25,41,25,00\n");
    std::string data;
    DWORD type = 0;
    ASSERT_EQ(Read("Software\\Quorvan", "Expand", data, type), ERROR_SUCCESS);
    EXPECT_EQ(type, REG_EXPAND_SZ);
    EXPECT_EQ(data, std::string("%A%") + '\0');

    // The registry editor's own export: UTF-16LE with a byte order mark.
    std::string utf8 = "Windows Registry Editor Version 5.00\r\n[HKEY_LOCAL_MACHINE\\Software\\Q]\r\n\"V\"=\"x\"\r\n";
    std::string utf16 = "\xff\xfe";
    for (char c : utf8) utf16 += std::string{c, '\0'};
    Use(utf16);
    ASSERT_EQ(Read("Software\\Q", "V", data, type), ERROR_SUCCESS);
    EXPECT_EQ(data, std::string("x") + '\0');
}

TEST_F(RegistryFile, NamesIgnoreCaseAndKeysNest)
{
    Use(kVersion5);
    std::string data;
    DWORD type = 0;
    EXPECT_EQ(Read("SOFTWARE\\quorvan\\", "INSTALL dir", data, type), ERROR_SUCCESS);

    HKEY software = nullptr;
    HKEY quorvan = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "software", 0, KEY_READ, &software), ERROR_SUCCESS);
    ASSERT_EQ(RegOpenKeyExA(software, "QUORVAN", 0, KEY_READ, &quorvan), ERROR_SUCCESS);
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(quorvan, "count", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 4u);
    // Other hives are read for syntax only.
    EXPECT_EQ(RegQueryValueExA(software, "Install Dir", nullptr, nullptr, nullptr, &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(RegCloseKey(quorvan), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(software), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(software), ERROR_INVALID_HANDLE);
}

TEST_F(RegistryFile, MissingThingsAreNotFound)
{
    std::string data;
    DWORD type = 0;
    EXPECT_EQ(Read("Software\\Quorvan", "Install Dir", data, type), ERROR_FILE_NOT_FOUND);  // no file
    Use(kVersion5);
    EXPECT_EQ(Read("Software\\Other", "Install Dir", data, type), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Read("Software\\Quorvan", "Missing", data, type), ERROR_FILE_NOT_FOUND);
    Use("REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\\Quorvan]\n\"Install Dir\"=\"x\"\n"
        "[-HKEY_LOCAL_MACHINE\\Software\\Quorvan]\n");
    EXPECT_EQ(Read("Software\\Quorvan", "Install Dir", data, type), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryFile, BufferRules)
{
    Use(kVersion5);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Quorvan", 0, KEY_READ, &key), ERROR_SUCCESS);
    const std::string expected = std::string("C:\\Program Files\\Quorvan\\") + '\0';

    DWORD type = 0;
    DWORD size = 0;
    EXPECT_EQ(RegQueryValueExA(key, "Install Dir", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, expected.size());

    char small[8] = "keep";
    size = sizeof small;
    EXPECT_EQ(RegQueryValueExA(key, "Install Dir", nullptr, &type, reinterpret_cast<BYTE*>(small), &size),
              ERROR_MORE_DATA);
    EXPECT_EQ(size, expected.size());
    EXPECT_EQ(type, REG_SZ);

    std::string exact(expected.size(), '\x7f');
    EXPECT_EQ(RegQueryValueExA(key, "Install Dir", nullptr, nullptr, reinterpret_cast<BYTE*>(exact.data()), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(exact, expected);
    EXPECT_EQ(RegQueryValueExA(key, "Install Dir", nullptr, nullptr, reinterpret_cast<BYTE*>(exact.data()), nullptr),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

TEST_F(RegistryFile, BrokenFileFailsWithItsLineNumber)
{
    struct Case {
        const char* text;
        int line;
    } cases[] = {
        {"Windows Registry Editor Version 4.00\n", 1},
        {"REGEDIT4\n\"Install Dir\"=\"x\"\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\"a\"=\"fine\"\n\"b\"=\"open\n", 4},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software\n", 2},
        {"REGEDIT4\n[HKEY_NOWHERE\\Software]\n", 2},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\n\"b\"=hex:01,\\\n  zz\n", 4},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\"c\"=dword:123456789\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\n\"d\"=\"a\\tb\"\n", 3},
        {"Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\Software]\n\"e\"=hex(2):41\n", 3},
        {"REGEDIT4\n[HKEY_LOCAL_MACHINE\\Software]\nInstall Dir=\"x\"\n", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        Use(c.text);
        HKEY key = nullptr;
        // Never half-read: the key before the fault is not there either.
        EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key), ERROR_BADDB);
        EXPECT_EQ(key, nullptr);
        std::string prefix = m_File + ":" + std::to_string(c.line) + ": ";
        EXPECT_EQ(RegistryFileError().substr(0, prefix.size()), prefix) << RegistryFileError();
    }
    Use(kVersion5);
    std::string data;
    DWORD type = 0;
    EXPECT_EQ(Read("Software\\Quorvan", "Count", data, type), ERROR_SUCCESS);
    EXPECT_EQ(RegistryFileError(), "");
}

// Runs `check` in a child process that cannot override file permissions,
// and returns whether it passed.
bool PassesWithoutPrivileges(const std::function<bool()>& check)
{
    pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(2);
        _exit(check() ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(RegistryFile, FullAccessNeedsAWritableFile)
{
    Use(kVersion5);
    chmod(m_Folder.Path().c_str(), 0755);
    chmod(m_File.c_str(), 0444);
    EXPECT_TRUE(PassesWithoutPrivileges([] {
        HKEY key = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Quorvan", 0, KEY_ALL_ACCESS, &key) != ERROR_ACCESS_DENIED)
            return false;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Quorvan", 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
        HKEY below = nullptr;
        return RegOpenKeyExA(key, nullptr, 0, KEY_WRITE, &below) == ERROR_ACCESS_DENIED
            && RegCloseKey(key) == ERROR_SUCCESS;
    }));
    chmod(m_File.c_str(), 0);
    EXPECT_TRUE(PassesWithoutPrivileges([] {
        HKEY key = nullptr;
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_READ, &key) == ERROR_ACCESS_DENIED;
    }));
    chmod(m_File.c_str(), 0644);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Quorvan", 0, KEY_ALL_ACCESS, &key), ERROR_SUCCESS);
    EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
}

}  // namespace
