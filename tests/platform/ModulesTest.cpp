#include "platform/Win32.h"
#include "platform/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using CountProc = int (*)();

int NextCount(HMODULE module)
{
    auto proc = reinterpret_cast<CountProc>(GetProcAddress(module, "QvTestNextCount"));
    return proc ? proc() : -1;
}

TEST(Modules, LoadResolveUnloadReload)
{
    // A Windows name maps to lib<lower-case name>.so next to the program.
    HMODULE module = LoadLibraryA("QvTestModule.DLL");
    ASSERT_NE(module, nullptr) << GetLastError();
    auto answer = reinterpret_cast<CountProc>(GetProcAddress(module, "QvTestAnswer"));
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    EXPECT_EQ(NextCount(module), 1);

    SetLastError(0);
    EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    // Found through the library's dependencies, but not exported by it.
    EXPECT_EQ(GetProcAddress(module, "puts"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    // Counted like Windows: the second load shares the first, one free keeps it.
    HMODULE again = LoadLibraryA("qvtestmodule");
    EXPECT_EQ(again, module);
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_EQ(NextCount(module), 2);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetProcAddress(module, "QvTestAnswer"), nullptr);
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    module = LoadLibraryA("qvtestmodule.dll");
    ASSERT_NE(module, nullptr);
    EXPECT_EQ(NextCount(module), 1);  // really unloaded in between
    EXPECT_TRUE(FreeLibrary(module));
}

TEST(Modules, SearchPathAndMissingLibraries)
{
    SetLastError(0);
    EXPECT_EQ(LoadLibraryA("qvnosuchmodule.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    ScratchFolder folder;
    std::filesystem::copy_file(QV_BINARY_DIR "/bin/libqvtestmodule.so", folder / "libqvtestalias.so");
    EXPECT_EQ(LoadLibraryA("qvtestalias.dll"), nullptr);
    {
        ScopedEnv path("QVUPDATE_MODULE_PATH", "/nonexistent:" + folder.Path());
        HMODULE module = LoadLibraryA("QVTESTALIAS.DLL");
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(NextCount(module), 1);
        EXPECT_TRUE(FreeLibrary(module));
    }
    // A name with a folder is used as given.
    HMODULE module = LoadLibraryA(folder.WinPath("libqvtestalias.so").c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(LoadLibraryA(folder.WinPath("qvtestalias.dll").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    // Not a library at all.
    WriteFileText(folder / "libqvbroken.so", "not an ELF file");
    ScopedEnv path("QVUPDATE_MODULE_PATH", folder.Path());
    EXPECT_EQ(LoadLibraryA("qvbroken.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

}  // namespace
