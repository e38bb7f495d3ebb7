// Pictures of the window in both languages, to look at; they land in the
// build folder.
// ctest-link: qvapp_test_qt
#include "app/qt/QtUpdater.h"
#include "app/support/AppTestSupport.h"

#include <QFontDatabase>
#include <QImage>
#include <QPixmap>

#include <gtest/gtest.h>

TEST(WindowScreenshot, EnglishAndChinese)
{
    TestApplication();
    // Without a CJK font the Chinese captions would show as empty boxes.
    ASSERT_FALSE(QFontDatabase::families(QFontDatabase::SimplifiedChinese).isEmpty())
        << "no simplified Chinese font installed (package fonts-wqy-microhei)";

    TTempDir folder;
    TQtUpdater window;
    window.ReadManifest(folder.WriteFile(
        "update.ini", "1.15\r\nRelease 1.15: faster downloads\r\n[FILESLIST]\r\nQuorvan.exe\r\nlang.dll=Lang\\\r\n"));
    window.Widget().show();
    const QImage english = window.Widget().grab().toImage();
    window.UpdateChs->Click();
    const QImage chinese = window.Widget().grab().toImage();

    EXPECT_EQ(english.size(), QSize(639, 356));
    EXPECT_NE(english, chinese);
    EXPECT_TRUE(english.save(QV_BINARY_DIR "/qvupdate-english.png"));
    EXPECT_TRUE(chinese.save(QV_BINARY_DIR "/qvupdate-chinese.png"));
}
