#include "Velmarin/Common/ChooserFolders.h"

#include <QDir>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// The test main gives every process a home folder of its own.
TEST(ChooserFoldersTest, TheStandardFolderWhenItExistsElseHome)
{
    struct Case {
        const char* folder;
        QString (*where)();
    };
    const Case cases[]{{"Pictures", &ChooserFolders::pictures}, {"Documents", &ChooserFolders::documents}};
    const QDir home = QDir::home();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        const QString standard = home.filePath(QString::fromLatin1(c.folder));
        QDir(standard).removeRecursively();
        EXPECT_EQ(c.where(), QDir::homePath());
        ASSERT_TRUE(home.mkpath(standard));
        EXPECT_EQ(c.where(), standard);
        QDir(standard).removeRecursively();
    }
}

} // namespace
} // namespace tolvex
