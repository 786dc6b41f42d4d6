#include "FilesTesting.h"

#include "TolvexCore/Files/FreedesktopTrash.h"
#include "TolvexCore/Files/PosixFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tolvex;
using namespace tolvex::testing;

TEST(SystemFileOperationsTest, TrashUsesTheHomeTrashAndCreatesIt)
{
    // A home of its own, without ~/.local/share, as on a fresh account.
    QTemporaryDir home;
    QTemporaryDir dir;
    ASSERT_TRUE(home.isValid());
    ASSERT_TRUE(dir.isValid());
    ScopedEnvironment homeVariable("HOME", QFile::encodeName(home.path()));
    ScopedEnvironment dataHome("XDG_DATA_HOME", std::nullopt);
    const QString trash = home.filePath(QStringLiteral(".local/share/Trash"));
    ASSERT_FALSE(exists(home.filePath(QStringLiteral(".local"))));

    const QString item = dir.filePath(QStringLiteral("my file.txt"));
    writeFile(item, "first");
    const FileInfo before = files().inspect(urlOf(item));
    const QUrl trashed = files().trash(urlOf(item));

    EXPECT_EQ(trashed, urlOf(trash + QStringLiteral("/files/my file.txt")));
    EXPECT_FALSE(exists(item));
    EXPECT_EQ(readFile(trashed.toLocalFile()), "first");
    EXPECT_EQ(files().inspect(trashed), before);
    EXPECT_EQ(modeOf(trash + QStringLiteral("/files")), 0700u);
    EXPECT_EQ(modeOf(trash + QStringLiteral("/info")), 0700u);
    EXPECT_EQ(modeOf(trash), 0700u);

    const QString info = QString::fromUtf8(readFile(trash + QStringLiteral("/info/my file.txt.trashinfo")));
    const QString encodedFolder = QString::fromStdString(FreedesktopTrash::percentEncoded(realPath(dir.path())));
    const QRegularExpression expected(QStringLiteral("^\\[Trash Info\\]\nPath=%1/my%20file\\.txt\n"
                                                     "DeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n$")
            .arg(QRegularExpression::escape(encodedFolder)));
    EXPECT_TRUE(expected.match(info).hasMatch()) << info.toStdString();

    // A second item of the same name gets a name of its own, and so does a
    // third whose name is taken in "files" without a record.
    writeFile(item, "second");
    EXPECT_EQ(files().trash(urlOf(item)), urlOf(trash + QStringLiteral("/files/my file.txt.2")));
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/my file.txt")), "first");
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/my file.txt.2")), "second");
    writeFile(trash + QStringLiteral("/files/my file.txt.3"), "orphan");
    writeFile(item, "third");
    EXPECT_EQ(files().trash(urlOf(item)), urlOf(trash + QStringLiteral("/files/my file.txt.4")));
    EXPECT_EQ(readFile(trash + QStringLiteral("/files/my file.txt.3")), "orphan");
    EXPECT_EQ(entriesOf(trash + QStringLiteral("/info")),
        (QStringList{QStringLiteral("my file.txt.2.trashinfo"), QStringLiteral("my file.txt.4.trashinfo"),
            QStringLiteral("my file.txt.trashinfo")}));

    // Folders go whole; links go as links.
    const QString folder = dir.filePath(QStringLiteral("Materials"));
    ASSERT_TRUE(QDir().mkpath(folder + QStringLiteral("/inner")));
    writeFile(folder + QStringLiteral("/inner/payload.png"), "png");
    const QUrl trashedFolder = files().trash(urlOf(folder));
    EXPECT_EQ(readFile(trashedFolder.toLocalFile() + QStringLiteral("/inner/payload.png")), "png");
    writeFile(dir.filePath(QStringLiteral("target")), "target");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("target")), dir.filePath(QStringLiteral("link"))));
    EXPECT_TRUE(files().inspect(files().trash(urlOf(dir.filePath(QStringLiteral("link"))))).isSymbolicLink);
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("target"))), "target");

    // A missing item leaves no record behind.
    const QStringList records = entriesOf(trash + QStringLiteral("/info"));
    EXPECT_EQ(errnoOf([&] { files().trash(urlOf(dir.filePath(QStringLiteral("missing")))); }), ENOENT);
    EXPECT_EQ(entriesOf(trash + QStringLiteral("/info")), records);
}

TEST(SystemFileOperationsTest, TrashFollowsXdgDataHomeAndEncodesNames)
{
    QTemporaryDir dataHome;
    QTemporaryDir dir;
    ASSERT_TRUE(dataHome.isValid());
    ASSERT_TRUE(dir.isValid());
    ScopedEnvironment variable("XDG_DATA_HOME", QFile::encodeName(dataHome.filePath(QStringLiteral("data"))));

    const QString name = QStringLiteral("caf\u00e9 50% #1.txt");
    writeFile(dir.filePath(name), "bytes");
    const QUrl trashed = files().trash(urlOf(dir.filePath(name)));
    EXPECT_EQ(trashed, urlOf(dataHome.filePath(QStringLiteral("data/Trash/files/")) + name));
    const QByteArray info = readFile(dataHome.filePath(QStringLiteral("data/Trash/info/")) + name + QStringLiteral(".trashinfo"));
    EXPECT_TRUE(info.contains("/caf%C3%A9%2050%25%20%231.txt\n")) << info.toStdString();
    EXPECT_EQ(QByteArray::fromPercentEncoding(info.mid(info.indexOf("Path=") + 5).split('\n').first()),
        QByteArray::fromStdString(realPath(dir.path())) + "/" + name.toUtf8());
}

TEST(FreedesktopTrashTest, TopDirectoryTrashIsChosenAndCreatedSafely)
{
    const uid_t uid = ::getuid();
    const QString uidText = QString::number(uid);
    QTemporaryDir top;
    ASSERT_TRUE(top.isValid());
    const std::string topPath = realPath(top.path());
    const QString topDir = QString::fromStdString(topPath);

    // No shared .Trash: the user's own .Trash-$uid, private.
    FreedesktopTrash trash(topPath + "/unused-home-trash", uid);
    FreedesktopTrash::Location location = trash.topDirectoryLocation(topPath);
    EXPECT_EQ(location.directory, topPath + "/.Trash-" + uidText.toStdString());
    EXPECT_EQ(location.topDirectory, topPath);
    EXPECT_EQ(modeOf(QString::fromStdString(location.directory)), 0700u);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(location.directory) + QStringLiteral("/files")).isDir());
    EXPECT_TRUE(QFileInfo(QString::fromStdString(location.directory) + QStringLiteral("/info")).isDir());

    // Records of a volume's trash hold paths relative to the volume's top.
    ASSERT_TRUE(QDir().mkpath(topDir + QStringLiteral("/data root")));
    writeFile(topDir + QStringLiteral("/data root/old export.pdf"), "pdf");
    const PosixFile folder = PosixFile::open(topPath + "/data root", O_PATH | O_DIRECTORY);
    ASSERT_TRUE(folder.isOpen());
    const std::string moved = FreedesktopTrash::moveInto(folder.fd(), "old export.pdf",
        topPath + "/data root/old export.pdf", topPath + "/data root/old export.pdf", location);
    EXPECT_EQ(moved, location.directory + "/files/old export.pdf");
    EXPECT_EQ(readFile(QString::fromStdString(moved)), "pdf");
    const QByteArray info = readFile(QString::fromStdString(location.directory + "/info/old export.pdf.trashinfo"));
    EXPECT_TRUE(info.startsWith("[Trash Info]\nPath=data%20root/old%20export.pdf\nDeletionDate=")) << info.toStdString();

    // A shared .Trash without the sticky bit, or a link to one, is never used.
    const QString shared = topDir + QStringLiteral("/.Trash");
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 0777), 0);
    EXPECT_EQ(trash.topDirectoryLocation(topPath).directory, location.directory);
    EXPECT_FALSE(exists(shared + QLatin1Char('/') + uidText));
    ASSERT_TRUE(QDir(shared).removeRecursively());
    ASSERT_TRUE(QDir().mkpath(topDir + QStringLiteral("/sticky")));
    ASSERT_EQ(::chmod(QFile::encodeName(topDir + QStringLiteral("/sticky")).constData(), 01777), 0);
    ASSERT_TRUE(QFile::link(topDir + QStringLiteral("/sticky"), shared));
    EXPECT_EQ(trash.topDirectoryLocation(topPath).directory, location.directory);
    EXPECT_TRUE(entriesOf(topDir + QStringLiteral("/sticky")).isEmpty());
    ASSERT_TRUE(QFile::remove(shared));

    // A proper shared .Trash holds a folder per user.
    ASSERT_TRUE(QDir().mkpath(shared));
    ASSERT_EQ(::chmod(QFile::encodeName(shared).constData(), 01777), 0);
    const FreedesktopTrash::Location sharedLocation = trash.topDirectoryLocation(topPath);
    EXPECT_EQ(sharedLocation.directory, topPath + "/.Trash/" + uidText.toStdString());
    EXPECT_EQ(modeOf(QString::fromStdString(sharedLocation.directory)), 0700u);
    EXPECT_TRUE(QFileInfo(QString::fromStdString(sharedLocation.directory) + QStringLiteral("/info")).isDir());

    // A .Trash-$uid that is not a folder is refused, never written through.
    QTemporaryDir other;
    ASSERT_TRUE(other.isValid());
    const std::string otherPath = realPath(other.path());
    writeFile(QString::fromStdString(otherPath + "/.Trash-" + uidText.toStdString()), "not a folder");
    EXPECT_EQ(errnoOf([&] { trash.topDirectoryLocation(otherPath); }), ENOTDIR);

    // The volume's top of the root folder gives paths without the leading slash.
    const std::string text = FreedesktopTrash::infoText("/srv/a b", FreedesktopTrash::Location{"/.Trash-0", "/"}, 0);
    EXPECT_TRUE(text.starts_with("[Trash Info]\nPath=srv/a%20b\nDeletionDate=")) << text;
    const std::string home = FreedesktopTrash::infoText("/srv/a b", FreedesktopTrash::Location{"/t", {}}, 0);
    EXPECT_TRUE(home.starts_with("[Trash Info]\nPath=/srv/a%20b\nDeletionDate=")) << home;
}

TEST(FreedesktopTrashTest, FindsTheVolumeTopAndKeepsSameVolumeItemsInTheHomeTrash)
{
    EXPECT_EQ(FreedesktopTrash::mountTopDirectory("/proc/1"), "/proc");
    EXPECT_EQ(FreedesktopTrash::mountTopDirectory("/"), "/");
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string path = realPath(dir.path());
    const std::string top = FreedesktopTrash::mountTopDirectory(path);
    EXPECT_TRUE(top == "/" || path.starts_with(top + "/")) << top;
    struct stat pathStatus {};
    struct stat topStatus {};
    ASSERT_EQ(::stat(path.c_str(), &pathStatus), 0);
    ASSERT_EQ(::stat(top.c_str(), &topStatus), 0);
    EXPECT_EQ(pathStatus.st_dev, topStatus.st_dev);

    // An item on the home trash's volume goes there, even when that trash
    // (and the folders above it) do not exist yet.
    const FreedesktopTrash trash(path + "/home/.local/share/Trash", ::getuid());
    writeFile(dir.filePath(QStringLiteral("item")), "item");
    const std::string moved = trash.trash(path + "/item");
    EXPECT_EQ(moved, path + "/home/.local/share/Trash/files/item");
    EXPECT_EQ(readFile(QString::fromStdString(moved)), "item");
    EXPECT_FALSE(exists(dir.filePath(QStringLiteral("item"))));
    EXPECT_EQ(errnoOf([&] { trash.trash("relative/item"); }), EINVAL);
    EXPECT_EQ(errnoOf([&] { trash.trash(path + "/.."); }), EINVAL);
}
