// ctest-link: qvapp_test_qt
#include "app/Globals.h"
#include "app/ManifestRules.h"
#include "app/qt/QtUpdater.h"
#include "app/support/AppTestSupport.h"

#include <gtest/gtest.h>

namespace {

using Lines = std::vector<std::string>;
using Rows = std::vector<Lines>;  // caption, status, destination, "x" when checked

class ReadManifest : public ::testing::Test, private TApplicationFirst {
protected:
    bool Read(const std::string& bytes)
    {
        const std::string path = folder.WriteFile("update.ini", bytes);
        const bool newer = window.ReadManifest(path);
        // Closed again: the check deletes or recreates it right after.
        EXPECT_NO_THROW(TFileStream(path, TFileStream::Mode::Create));
        return newer;
    }

    Lines Log() const { return window.UpdateMemo->Lines(); }

    Rows ListRows() const
    {
        Rows rows;
        const TViewFileList& list = *window.FilesList;
        for (int i = 0; i < list.RowCount(); ++i)
            rows.push_back({list.Cell(i, 0), list.Cell(i, 1), list.Cell(i, 2), list.Checked(i) ? "x" : ""});
        return rows;
    }

    TTempDir folder;
    TQtUpdater window;
};

}  // namespace

TEST_F(ReadManifest, CurrentReleaseReadsNothingFurther)
{
    for (const char* version : {"1.14", " 1.14 ", "1.140", "1.1", "1.13"}) {
        window.UpdateMemo->Clear();
        EXPECT_FALSE(Read(std::string(version) + "\r\nnotes\r\n[FILESLIST]\r\nQuorvan.exe\r\n")) << version;
        EXPECT_EQ(NewestVersion, version);
        EXPECT_EQ(Log(), Lines{"Current Quorvan is newest"});
        EXPECT_EQ(ListRows(), Rows{});
    }
}

TEST_F(ReadManifest, NewerReleaseLogsNotesAndListsFiles)
{
    EXPECT_TRUE(Read("1.15 \r\n"
                     "Release notes\r\n"
                     "\r\n"
                     "  \xd6\xd0\xce\xc4 note\r\n"  // 中文
                     "[other]\r\n"
                     " [FilesList]\t\r\n"
                     "Quorvan.exe\r\n"
                     "\r\n"
                     " lang.dll = Lang\\ \r\n"
                     "   \t \r\n"
                     "a=b=c\n"
                     "[FILESLIST]\r\n"
                     "=Plugins\\\r\n"
                     "  spaced.txt\r\r\n"
                     "[FILESLIST] [other]\r\n"
                     "\x1a"
                     "ignored.dll\r\n"));
    EXPECT_EQ(NewestVersion, "1.15 ");
    EXPECT_EQ(Log(), (Lines{"Get newest version infomation", "Newest version : 1.15 ", "Release notes", "",
                            "  \xd6\xd0\xce\xc4 note", "[other]", "Unsafe file entry skipped: =Plugins\\"}));
    EXPECT_EQ(ListRows(), (Rows{{"Quorvan.exe", "0", "", "x"},
                                {"lang.dll", "0", "Lang\\", "x"},
                                {"a", "0", "b=c", "x"},
                                {"  spaced.txt", "0", "", "x"},
                                {"[FILESLIST] [other]", "0", "", "x"}}));
}

TEST_F(ReadManifest, WithoutSectionEveryLineIsANote)
{
    EXPECT_TRUE(Read("1.2\nfirst\n\nQuorvan.exe=\n"));
    EXPECT_EQ(Log(), (Lines{"Get newest version infomation", "Newest version : 1.2", "first", "", "Quorvan.exe="}));
    EXPECT_EQ(ListRows(), Rows{});
}

TEST_F(ReadManifest, VersionLineThatIsNoNumberFails)
{
    TScopedEnv all("LC_ALL", "C");
    for (const char* bytes : {"", "\r\n1.15\r\n", "<html><body>Not Found</body></html>\r\n", "1.15a\r\n"}) {
        EXPECT_THROW(Read(bytes), EManifestError) << bytes;
        EXPECT_EQ(Log(), Lines{});
        EXPECT_EQ(ListRows(), Rows{});
    }
    EXPECT_THROW(window.ReadManifest(folder.Path() + "/missing.ini"), EStreamError);
}

TEST_F(ReadManifest, VersionInALocaleWithDecimalComma)
{
    const std::string comma = DecimalCommaLocale();
    ASSERT_FALSE(comma.empty()) << "localedef could not build de_DE.UTF-8 (package locales)";
    TScopedEnv all("LC_ALL", comma);
    EXPECT_THROW(Read("1.15\r\n"), EManifestError);
    EXPECT_TRUE(Read("1,15\r\n[FILESLIST]\r\nQuorvan.exe\r\n"));
    EXPECT_EQ(ListRows(), (Rows{{"Quorvan.exe", "0", "", "x"}}));
    EXPECT_FALSE(Read(" 1,14 \r\n"));
}
