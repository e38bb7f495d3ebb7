#include "platform/Win32.h"
#include "platform/support/ScratchFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace {

using CountProc = int (*)();

#ifdef _WIN32
// Windows looks in the folders of PATH after the program's own.
constexpr const char* kSearchPath = "PATH";
constexpr char kSearchPathSeparator = ';';
std::string LibraryFile(const std::string& name)
{
    return name + ".dll";
}
#else
// The Linux layer looks in its override first.
constexpr const char* kSearchPath = "QVUPDATE_MODULE_PATH";
constexpr char kSearchPathSeparator = ':';
std::string LibraryFile(const std::string& name)
{
    return "lib" + name + ".so";
}
#endif

CountProc CountFunction(HMODULE module, const char* name)
{
    return reinterpret_cast<CountProc>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

int NextCount(HMODULE module)
{
    auto proc = CountFunction(module, "QvTestNextCount");
    return proc ? proc() : -1;
}

TEST(Modules, LoadResolveUnloadReload)
{
    // A Windows name, in any case, with or without its extension.
    HMODULE module = LoadLibraryA("QvTestModule.DLL");
    ASSERT_NE(module, nullptr) << GetLastError();
    auto answer = CountFunction(module, "QvTestAnswer");
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
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

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
    std::filesystem::copy_file(QV_BINARY_DIR "/bin/" + LibraryFile("qvtestmodule"),
                               folder / LibraryFile("qvtestalias"));
    EXPECT_EQ(LoadLibraryA("qvtestalias.dll"), nullptr);
    {
        ScopedEnv path(kSearchPath, std::string("/nonexistent") + kSearchPathSeparator + folder.Path());
        HMODULE module = LoadLibraryA("QVTESTALIAS.DLL");
        ASSERT_NE(module, nullptr);
        EXPECT_EQ(NextCount(module), 1);
        EXPECT_TRUE(FreeLibrary(module));
    }
    // A name with a folder is used as given.
    HMODULE module = LoadLibraryA(folder.WinPath(LibraryFile("qvtestalias")).c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(LoadLibraryA(folder.WinPath("qvnosuchmodule.dll").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
#ifndef _WIN32
    // Only bare names are mapped to the Linux file names.
    EXPECT_EQ(LoadLibraryA(folder.WinPath("qvtestalias.dll").c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
#endif

    // Not a library at all.
    WriteFileText(folder / LibraryFile("qvbroken"), "not a library");
    ScopedEnv path(kSearchPath, folder.Path());
    EXPECT_EQ(LoadLibraryA("qvbroken.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_BAD_EXE_FORMAT);
}

}  // namespace
