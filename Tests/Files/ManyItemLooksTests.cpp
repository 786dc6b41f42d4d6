#include "TolvexCore/Files/LocalPathEncoding.h"
#include "TolvexCore/Files/SystemFileOperations.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tolvex;

namespace {

void writeRaw(const QByteArray& path, const QByteArray& bytes)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0) << path.toHex().toStdString();
    ASSERT_EQ(::write(fd, bytes.constData(), std::size_t(bytes.size())), bytes.size());
    ::close(fd);
}

} // namespace

// The looks made for many items at once answer exactly as one inspect() or
// one list() of each would, names that are not UTF-8 or look like URL syntax included.
TEST(ManyItemLooksTest, LooksAndNamesAnswerAsInspectAndList)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const FileOperationsRef files = SystemFileOperations::shared();
    const QByteArray folder = QFile::encodeName(dir.path());
    // QTemporaryDir cannot remove names that are not UTF-8.
    struct Removal {
        std::string path;
        ~Removal() { std::filesystem::remove_all(path); }
    } removal{folder.toStdString()};
    const QByteArray names[] = {"plain.txt", "caf\xE9", "\xFF\xFE", "e\xCC\x81", "%41%2F", "#frag?query", " lead", ".hidden"};
    for (const QByteArray& name : names)
        writeRaw(folder + '/' + name, name + name);
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("sub/deeper"))));
    writeRaw(folder + "/sub/inner.bin", QByteArray(1234, 'i'));
    std::filesystem::create_symlink("plain.txt", (folder + "/link").toStdString());

    const QUrl folderURL = QUrl::fromLocalFile(dir.path());
    QStringList listed;
    for (const QUrl& entry : files->list(folderURL))
        listed.append(entry.fileName());
    EXPECT_EQ(files->listNames(folderURL), listed);
    EXPECT_EQ(listed.size(), qsizetype(std::size(names)) + 2);

    QStringList paths = listed;
    paths << QStringLiteral("sub/inner.bin") << QStringLiteral("sub/deeper") << QStringLiteral("missing")
          << QStringLiteral("plain.txt/under") << QStringLiteral("sub/../plain.txt") << QStringLiteral("./plain.txt")
          << QStringLiteral("sub//inner.bin") << QStringLiteral("/plain.txt") << QString();
    const std::optional<std::vector<FileOperations::ItemLook>> looks = files->inspectBelow(folderURL, paths);
    ASSERT_TRUE(looks);
    ASSERT_EQ(looks->size(), std::size_t(paths.size()));
    const int expectedErrors[] = {ENOENT, ENOTDIR, EINVAL, EINVAL, EINVAL, EINVAL, EINVAL};
    for (qsizetype i = 0; i < paths.size(); ++i) {
        SCOPED_TRACE(paths[i].toStdString());
        const FileOperations::ItemLook& look = (*looks)[std::size_t(i)];
        const qsizetype failing = i - (paths.size() - qsizetype(std::size(expectedErrors)));
        if (failing >= 0) {
            EXPECT_EQ(look.error, expectedErrors[failing]);
            continue;
        }
        ASSERT_EQ(look.error, 0);
        const QUrl url = QUrl::fromLocalFile(dir.path() + u'/' + paths[i]);
        EXPECT_EQ(look.info, files->inspect(url));
        // A local volume: the identity is the item's own.
        struct stat status {};
        ASSERT_EQ(::lstat(encodeLocalPath(url.toLocalFile()).constData(), &status), 0);
        ASSERT_TRUE(look.identity);
        EXPECT_EQ(look.identity->device, std::uint64_t(status.st_dev));
        EXPECT_EQ(look.identity->inode, std::uint64_t(status.st_ino));
        EXPECT_EQ(look.identity->isDirectory, S_ISDIR(status.st_mode));
        EXPECT_EQ(look.identity->changeTime, status.st_ctim.tv_sec * std::int64_t{1000000000} + status.st_ctim.tv_nsec);
        EXPECT_EQ(look.identity->modificationTime, status.st_mtim.tv_sec * std::int64_t{1000000000} + status.st_mtim.tv_nsec);
    }

    // Many at once are shared among threads: still each answer in its place.
    QStringList many;
    for (int i = 0; i < 1500; ++i) {
        const QString name = QStringLiteral("many/%1").arg(i);
        many.append(name);
        if (i == 0) {
            ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("many"))));
        } else if (i % 3 != 0) {
            writeRaw(folder + '/' + QFile::encodeName(name), QByteArray(i, 'm'));
        }
    }
    const auto manyLooks = files->inspectBelow(folderURL, many);
    ASSERT_TRUE(manyLooks);
    for (int i = 0; i < 1500; ++i) {
        const FileOperations::ItemLook& look = (*manyLooks)[std::size_t(i)];
        EXPECT_EQ(look.error, i % 3 != 0 ? 0 : ENOENT) << i;
        EXPECT_EQ(look.info.byteCount, i % 3 != 0 ? i : 0) << i;
    }

    EXPECT_EQ(files->inspectBelow(QUrl::fromLocalFile(dir.filePath(QStringLiteral("missing"))), {QStringLiteral("x")})->at(0).error,
        ENOENT);
}
