#include "TolvexCore/Files/AtomicWriteName.h"
#include "TolvexCore/Files/SystemFileOperations.h"

#include "Support/FaultInjectingFileOperations.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <system_error>

using namespace tolvex;

namespace {

QByteArray contentsOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

QStringList namesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
}

} // namespace

// A write prepared ahead touches nothing a reader sees until it is
// committed; uncommitted, it leaves nothing behind; committed, it is
// writeAtomic. The file layer's own split and the default one over
// writeAtomic() alike.
TEST(PreparedAtomicWriteTest, NothingShowsUntilTheCommitAndNothingStaysWithoutOne)
{
    const FileOperationsRef layers[] = {SystemFileOperations::shared(),
        std::make_shared<FaultInjectingFileOperations>(SystemFileOperations::shared())};
    for (const FileOperationsRef& files : layers) {
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString target = dir.filePath(QStringLiteral("state.json"));
        const QUrl url = QUrl::fromLocalFile(target);
        files->writeAtomic("old", url);

        {
            PreparedAtomicWrite dropped = files->prepareAtomicWrite("dropped", url);
            EXPECT_EQ(contentsOf(target), "old");
            for (const QString& name : namesIn(dir.path())) {
                EXPECT_TRUE(name == u"state.json" || isAtomicWriteTemporaryName(name.toStdString())) << name.toStdString();
            }
        }
        EXPECT_EQ(namesIn(dir.path()), QStringList{QStringLiteral("state.json")});
        EXPECT_EQ(contentsOf(target), "old");

        PreparedAtomicWrite first = files->prepareAtomicWrite("first", url);
        PreparedAtomicWrite second = files->prepareAtomicWrite("second", url);
        EXPECT_EQ(contentsOf(target), "old");
        second.commit();
        EXPECT_EQ(contentsOf(target), "second");
        PreparedAtomicWrite moved = std::move(first);
        moved.commit();
        EXPECT_EQ(contentsOf(target), "first");
        moved.commit(); // at most once
        EXPECT_EQ(contentsOf(target), "first");
        EXPECT_EQ(namesIn(dir.path()), QStringList{QStringLiteral("state.json")});

        // A commit into a folder that is gone fails as writeAtomic fails.
        const QUrl gone = QUrl::fromLocalFile(dir.filePath(QStringLiteral("sub/state.json")));
        ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("sub"))));
        PreparedAtomicWrite orphan = files->prepareAtomicWrite("orphan", gone);
        ASSERT_TRUE(QDir(dir.filePath(QStringLiteral("sub"))).removeRecursively());
        try {
            orphan.commit();
            ADD_FAILURE() << "no error";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code(), std::errc::no_such_file_or_directory);
        }
    }
}
