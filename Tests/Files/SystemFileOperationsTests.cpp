#include "FilesTesting.h"

#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Files/VolumeCapacity.h"
#include "TolvexCore/Model/StoreError.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>

#include "Support/FaultInjectingFileOperations.h"
#include "Support/LookAlikeNames.h"
#include "TolvexCore/Files/LocalPathEncoding.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <system_error>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    QRandomGenerator generator(static_cast<quint32>(size));
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(generator.bounded(256));
    return bytes;
}

// Lowers the largest file this process may write, so that a write fails with
// EFBIG part-way (SIGXFSZ is ignored meanwhile). Root is not exempt.
class ScopedFileSizeLimit {
public:
    explicit ScopedFileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &old_);
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lowered = old_;
        lowered.rlim_cur = bytes;
        active_ = ::setrlimit(RLIMIT_FSIZE, &lowered) == 0;
    }
    ~ScopedFileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }
    bool active() const { return active_; }

private:
    struct rlimit old_ {};
    void (*oldHandler_)(int) = SIG_DFL;
    bool active_ = false;
};

} // namespace

TEST(SystemFileOperationsTest, RefusesUrlsThatAreNotAbsoluteFileUrls)
{
    const QList<QUrl> bad{QUrl(QStringLiteral("https://example.com/a.txt")), QUrl(QStringLiteral("file:relative/a.txt")),
        QUrl(), QUrl(QStringLiteral("file://server/share/a.txt"))};
    const QUrl good = urlOf(QDir::tempPath());
    for (const QUrl& url : bad) {
        SCOPED_TRACE(url.toString().toStdString());
        EXPECT_EQ(errnoOf([&] { files().inspect(url); }), EINVAL);
        EXPECT_EQ(errnoOf([&] { files().read(url); }), EINVAL);
        EXPECT_EQ(errnoOf([&] { files().createDirectory(url); }), EINVAL);
        EXPECT_EQ(errnoOf([&] { files().copy(url, good); }), EINVAL);
        EXPECT_EQ(errnoOf([&] { files().copy(good, url); }), EINVAL);
        EXPECT_EQ(errnoOf([&] { files().move(url, good); }), EINVAL);
        EXPECT_EQ(errnoOf([&] { files().writeAtomic("x", url); }), EINVAL);
        EXPECT_EQ(errnoOf([&] { files().availableBytes(url); }), EINVAL);
        EXPECT_EQ(errnoOf([&] { files().trash(url); }), EINVAL);
        EXPECT_EQ(errnoOf([&] { files().list(url); }), EINVAL);
    }
    EXPECT_EQ(SystemFileOperations::shared().get(), SystemFileOperations::shared().get());
}

TEST(SystemFileOperationsTest, InspectDescribesTheItemItselfWithoutFollowingLinks)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString file = dir.filePath(QStringLiteral("file.bin"));
    writeFile(file, randomBytes(12345));
    // A modification time with nanoseconds: the date keeps them (to a double's precision).
    const struct timespec times[2] = {{1700000000, 0}, {1700000000, 123456789}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(file).constData(), times, 0), 0);

    const FileInfo info = files().inspect(urlOf(file));
    EXPECT_TRUE(info.isRegularFile);
    EXPECT_FALSE(info.isSymbolicLink);
    EXPECT_EQ(info.byteCount, 12345);
    EXPECT_NEAR(info.modificationDate.secondsSinceReferenceDate, 1700000000.123456789 - Date::unixOffset, 1e-6);
    EXPECT_NE(info.modificationDate.secondsSinceReferenceDate, 1700000000.0 - Date::unixOffset);
    EXPECT_EQ(files().inspect(urlOf(file)), info);

    const QString link = dir.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QFile::link(file, link));
    const FileInfo linkInfo = files().inspect(urlOf(link));
    EXPECT_TRUE(linkInfo.isSymbolicLink);
    EXPECT_FALSE(linkInfo.isRegularFile);
    EXPECT_EQ(linkInfo.byteCount, QFile::encodeName(file).size());

    const QString folder = dir.filePath(QStringLiteral("folder"));
    ASSERT_TRUE(QDir().mkdir(folder));
    const FileInfo folderInfo = files().inspect(urlOf(folder));
    EXPECT_FALSE(folderInfo.isRegularFile);
    EXPECT_FALSE(folderInfo.isSymbolicLink);

    // A link to a folder, named with a trailing slash, is still the link.
    const QString folderLink = dir.filePath(QStringLiteral("folderLink"));
    ASSERT_TRUE(QFile::link(folder, folderLink));
    EXPECT_TRUE(files().inspect(QUrl::fromLocalFile(folderLink + QLatin1Char('/'))).isSymbolicLink);

    const QString dangling = dir.filePath(QStringLiteral("dangling"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere")), dangling));
    EXPECT_TRUE(files().inspect(urlOf(dangling)).isSymbolicLink);

    EXPECT_EQ(errnoOf([&] { files().inspect(urlOf(dir.filePath(QStringLiteral("missing")))); }), ENOENT);
    EXPECT_EQ(errnoOf([&] { files().inspect(urlOf(file + QStringLiteral("/below"))); }), ENOTDIR);
}

TEST(SystemFileOperationsTest, ReadReturnsTheWholeFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray large = randomBytes(3 * 1024 * 1024 + 17);
    writeFile(dir.filePath(QStringLiteral("large")), large);
    writeFile(dir.filePath(QStringLiteral("empty")), {});

    EXPECT_EQ(files().read(urlOf(dir.filePath(QStringLiteral("large")))), large);
    EXPECT_TRUE(files().read(urlOf(dir.filePath(QStringLiteral("empty")))).isEmpty());
    // A file whose size the system reports as 0 still has all its bytes read.
    EXPECT_TRUE(files().read(QUrl::fromLocalFile(QStringLiteral("/proc/self/status"))).contains("Pid:"));

    EXPECT_EQ(errnoOf([&] { files().read(urlOf(dir.filePath(QStringLiteral("missing")))); }), ENOENT);
    EXPECT_EQ(errnoOf([&] { files().read(urlOf(dir.path())); }), EISDIR);
}

TEST(SystemFileOperationsTest, CreateDirectoryMakesEveryMissingFolder)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString nested = dir.filePath(QStringLiteral("a/b/c d/e"));
    files().createDirectory(urlOf(nested));
    EXPECT_TRUE(QFileInfo(nested).isDir());

    // Existing folders, and a link to a folder, are no failure.
    files().createDirectory(urlOf(nested));
    files().createDirectory(urlOf(dir.filePath(QStringLiteral("a"))));
    ASSERT_TRUE(QFile::link(nested, dir.filePath(QStringLiteral("link"))));
    files().createDirectory(urlOf(dir.filePath(QStringLiteral("link"))));

    writeFile(dir.filePath(QStringLiteral("file")), "x");
    EXPECT_EQ(errnoOf([&] { files().createDirectory(urlOf(dir.filePath(QStringLiteral("file")))); }), EEXIST);
    EXPECT_EQ(errnoOf([&] { files().createDirectory(urlOf(dir.filePath(QStringLiteral("file/sub/deeper")))); }),
        ENOTDIR);
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("file"))), "x");
}

TEST(SystemFileOperationsTest, CopyMakesANewFileOrFolderTree)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray payload = randomBytes(2 * 1024 * 1024 + 3);
    const QString source = dir.filePath(QStringLiteral("source.bin"));
    writeFile(source, payload);
    const QString copied = dir.filePath(QStringLiteral("copied.bin"));
    files().copy(urlOf(source), urlOf(copied));
    EXPECT_EQ(readFile(copied), payload);
    EXPECT_EQ(readFile(source), payload);
    EXPECT_EQ(files().inspect(urlOf(copied)).modificationDate, files().inspect(urlOf(source)).modificationDate);

    const QString tree = dir.filePath(QStringLiteral("tree"));
    ASSERT_TRUE(QDir().mkpath(tree + QStringLiteral("/sub/deeper")));
    ASSERT_TRUE(QDir().mkpath(tree + QStringLiteral("/empty")));
    writeFile(tree + QStringLiteral("/top.txt"), "top");
    writeFile(tree + QStringLiteral("/.hidden"), "hidden");
    writeFile(tree + QStringLiteral("/sub/deeper/leaf.bin"), payload.left(1000));
    writeFile(tree + QStringLiteral("/sub/empty-file"), {});
    ASSERT_TRUE(QFile::link(QStringLiteral("../top.txt"), tree + QStringLiteral("/sub/link")));

    const QString treeCopy = dir.filePath(QStringLiteral("tree copy"));
    files().copy(urlOf(tree), urlOf(treeCopy));
    EXPECT_EQ(entriesOf(treeCopy), entriesOf(tree));
    EXPECT_EQ(entriesOf(treeCopy + QStringLiteral("/sub")), entriesOf(tree + QStringLiteral("/sub")));
    EXPECT_EQ(readFile(treeCopy + QStringLiteral("/top.txt")), "top");
    EXPECT_EQ(readFile(treeCopy + QStringLiteral("/.hidden")), "hidden");
    EXPECT_EQ(readFile(treeCopy + QStringLiteral("/sub/deeper/leaf.bin")), payload.left(1000));
    EXPECT_TRUE(readFile(treeCopy + QStringLiteral("/sub/empty-file")).isEmpty());
    EXPECT_TRUE(QFileInfo(treeCopy + QStringLiteral("/empty")).isDir());
    EXPECT_TRUE(files().inspect(urlOf(treeCopy + QStringLiteral("/sub/link"))).isSymbolicLink);
    EXPECT_EQ(QFile::symLinkTarget(treeCopy + QStringLiteral("/sub/link")), treeCopy + QStringLiteral("/top.txt"));

    // A link is copied as a link, never followed.
    const QString link = dir.filePath(QStringLiteral("link-to-source"));
    ASSERT_TRUE(QFile::link(source, link));
    files().copy(urlOf(link), urlOf(dir.filePath(QStringLiteral("link-copy"))));
    EXPECT_TRUE(files().inspect(urlOf(dir.filePath(QStringLiteral("link-copy")))).isSymbolicLink);
}

TEST(SystemFileOperationsTest, CopyAndMoveNeverReplaceAnExistingDestination)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString source = dir.filePath(QStringLiteral("source"));
    const QString destination = dir.filePath(QStringLiteral("destination"));
    writeFile(source, "new bytes");
    writeFile(destination, "old bytes");
    const QString sourceFolder = dir.filePath(QStringLiteral("sourceFolder"));
    const QString emptyFolder = dir.filePath(QStringLiteral("emptyFolder"));
    ASSERT_TRUE(QDir().mkpath(sourceFolder));
    writeFile(sourceFolder + QStringLiteral("/inside"), "inside");
    ASSERT_TRUE(QDir().mkpath(emptyFolder));

    EXPECT_EQ(errnoOf([&] { files().copy(urlOf(source), urlOf(destination)); }), EEXIST);
    EXPECT_EQ(errnoOf([&] { files().move(urlOf(source), urlOf(destination)); }), EEXIST);
    EXPECT_EQ(errnoOf([&] { files().copy(urlOf(sourceFolder), urlOf(destination)); }), EEXIST);
    EXPECT_EQ(errnoOf([&] { files().copy(urlOf(sourceFolder), urlOf(emptyFolder)); }), EEXIST);
    // rename(2) would replace an empty folder without a word.
    EXPECT_EQ(errnoOf([&] { files().move(urlOf(sourceFolder), urlOf(emptyFolder)); }), EEXIST);
    EXPECT_EQ(errnoOf([&] { files().copy(urlOf(source), urlOf(emptyFolder)); }), EEXIST);

    EXPECT_EQ(readFile(source), "new bytes");
    EXPECT_EQ(readFile(destination), "old bytes");
    EXPECT_EQ(entriesOf(sourceFolder), QStringList{QStringLiteral("inside")});
    EXPECT_TRUE(entriesOf(emptyFolder).isEmpty());

    // Missing sources create nothing.
    const QString missing = dir.filePath(QStringLiteral("missing"));
    const QString nowhere = dir.filePath(QStringLiteral("nowhere"));
    EXPECT_EQ(errnoOf([&] { files().copy(urlOf(missing), urlOf(nowhere)); }), ENOENT);
    EXPECT_EQ(errnoOf([&] { files().move(urlOf(missing), urlOf(nowhere)); }), ENOENT);
    EXPECT_FALSE(exists(nowhere));
    EXPECT_EQ(errnoOf([&] { files().copy(urlOf(source), urlOf(dir.filePath(QStringLiteral("no/such/folder")))); }),
        ENOENT);
}

TEST(SystemFileOperationsTest, FailedCopyRemovesOnlyWhatItCreated)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    // A tree whose copy fails part-way: a pipe cannot be copied, and the
    // entries before it have been copied by then in some order.
    const QString tree = dir.filePath(QStringLiteral("tree"));
    ASSERT_TRUE(QDir().mkpath(tree + QStringLiteral("/sub")));
    for (int i = 0; i < 20; ++i)
        writeFile(tree + QStringLiteral("/file%1").arg(i), randomBytes(100 + i));
    writeFile(tree + QStringLiteral("/sub/inner"), "inner");
    ASSERT_EQ(::mkfifo(QFile::encodeName(tree + QStringLiteral("/sub/pipe")).constData(), 0600), 0);
    const QStringList before = entriesOf(tree);

    const QString treeCopy = dir.filePath(QStringLiteral("treeCopy"));
    EXPECT_EQ(errnoOf([&] { files().copy(urlOf(tree), urlOf(treeCopy)); }), ENOTSUP);
    EXPECT_FALSE(exists(treeCopy));
    EXPECT_EQ(entriesOf(tree), before);
    EXPECT_EQ(readFile(tree + QStringLiteral("/sub/inner")), "inner");

    // A folder copied into itself would never end.
    ASSERT_EQ(::unlink(QFile::encodeName(tree + QStringLiteral("/sub/pipe")).constData()), 0);
    EXPECT_EQ(errnoOf([&] { files().copy(urlOf(tree), urlOf(tree + QStringLiteral("/sub/again"))); }), EINVAL);
    EXPECT_FALSE(exists(tree + QStringLiteral("/sub/again")));
    EXPECT_EQ(entriesOf(tree + QStringLiteral("/sub")), QStringList{QStringLiteral("inner")});

    // A file copy that runs out of room part-way leaves no partial destination.
    const QByteArray payload = randomBytes(1024 * 1024);
    const QString source = dir.filePath(QStringLiteral("big"));
    writeFile(source, payload);
    const QString destination = dir.filePath(QStringLiteral("big copy"));
    int error = 0;
    {
        ScopedFileSizeLimit limit(256 * 1024);
        ASSERT_TRUE(limit.active());
        error = errnoOf([&] { files().copy(urlOf(source), urlOf(destination)); });
    }
    EXPECT_EQ(error, EFBIG);
    EXPECT_FALSE(exists(destination));
    EXPECT_EQ(readFile(source), payload);
}

TEST(SystemFileOperationsTest, MoveRenamesFilesAndFolders)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath(QStringLiteral("a")), "a bytes");
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("folder/sub"))));
    writeFile(dir.filePath(QStringLiteral("folder/sub/leaf")), "leaf");
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("elsewhere"))));
    const Date before = files().inspect(urlOf(dir.filePath(QStringLiteral("a")))).modificationDate;

    files().move(urlOf(dir.filePath(QStringLiteral("a"))), urlOf(dir.filePath(QStringLiteral("elsewhere/b"))));
    EXPECT_FALSE(exists(dir.filePath(QStringLiteral("a"))));
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("elsewhere/b"))), "a bytes");
    EXPECT_EQ(files().inspect(urlOf(dir.filePath(QStringLiteral("elsewhere/b")))).modificationDate, before);

    files().move(urlOf(dir.filePath(QStringLiteral("folder"))), urlOf(dir.filePath(QStringLiteral("elsewhere/moved"))));
    EXPECT_FALSE(exists(dir.filePath(QStringLiteral("folder"))));
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("elsewhere/moved/sub/leaf"))), "leaf");
}

TEST(SystemFileOperationsTest, MoveAcrossVolumesFailsWithoutCopying)
{
    // The other volume: the one the test script provides, else shared
    // memory, the build tree or the home folder; whichever is writable and
    // not the temporary folder's.
    struct stat tmp {};
    ASSERT_EQ(::stat(QFile::encodeName(QDir::tempPath()).constData(), &tmp), 0);
    QString elsewhere;
    for (const QString& candidate :
        {qEnvironmentVariable("TOLVEX_OTHER_VOLUME"), QStringLiteral("/dev/shm"),
            QCoreApplication::applicationDirPath(), QDir::homePath()}) {
        if (candidate.isEmpty())
            continue;
        struct stat other {};
        if (::stat(QFile::encodeName(candidate).constData(), &other) == 0 && other.st_dev != tmp.st_dev
            && ::access(QFile::encodeName(candidate).constData(), W_OK) == 0) {
            elsewhere = candidate;
            break;
        }
    }
    if (elsewhere.isEmpty())
        GTEST_SKIP() << "this machine has no second writable file system (TOLVEX_OTHER_VOLUME, /dev/shm, the build "
                        "tree and the home folder all lie on the temporary folder's, and no tmpfs could be mounted)";
    QTemporaryDir here;
    QTemporaryDir there(elsewhere + QStringLiteral("/tolvex-test-XXXXXX"));
    ASSERT_TRUE(here.isValid());
    ASSERT_TRUE(there.isValid());
    const QString source = here.filePath(QStringLiteral("item"));
    writeFile(source, "item");
    EXPECT_EQ(errnoOf([&] { files().move(urlOf(source), urlOf(there.filePath(QStringLiteral("item")))); }), EXDEV);
    EXPECT_EQ(readFile(source), "item");
    EXPECT_TRUE(entriesOf(there.path()).isEmpty());
    // Copying across volumes works.
    files().copy(urlOf(source), urlOf(there.filePath(QStringLiteral("item"))));
    EXPECT_EQ(readFile(there.filePath(QStringLiteral("item"))), "item");
}

TEST(SystemFileOperationsTest, WriteAtomicReplacesTheWholeFileAndLeavesNothingElse)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("state.json"));
    files().writeAtomic("first", urlOf(target));
    EXPECT_EQ(readFile(target), "first");
    const QByteArray large = randomBytes(5 * 1024 * 1024);
    files().writeAtomic(large, urlOf(target));
    EXPECT_EQ(readFile(target), large);
    files().writeAtomic({}, urlOf(target));
    EXPECT_TRUE(readFile(target).isEmpty());
    EXPECT_TRUE(QFileInfo(target).isFile());
    EXPECT_EQ(entriesOf(dir.path()), QStringList{QStringLiteral("state.json")});

    // Failures before the rename take their temporary file with them.
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("folder/inside"))));
    EXPECT_EQ(errnoOf([&] { files().writeAtomic("x", urlOf(dir.filePath(QStringLiteral("folder")))); }), EISDIR);
    EXPECT_EQ(errnoOf([&] { files().writeAtomic("x", urlOf(dir.filePath(QStringLiteral("missing/file")))); }), ENOENT);
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{QStringLiteral("folder"), QStringLiteral("state.json")}));
    EXPECT_EQ(entriesOf(dir.filePath(QStringLiteral("folder"))), QStringList{QStringLiteral("inside")});

    // A link at the target is replaced by the file; what it pointed at stays.
    writeFile(dir.filePath(QStringLiteral("pointed")), "pointed");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("pointed")), dir.filePath(QStringLiteral("link"))));
    files().writeAtomic("replaced", urlOf(dir.filePath(QStringLiteral("link"))));
    EXPECT_FALSE(files().inspect(urlOf(dir.filePath(QStringLiteral("link")))).isSymbolicLink);
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("link"))), "replaced");
    EXPECT_EQ(readFile(dir.filePath(QStringLiteral("pointed"))), "pointed");
}

TEST(SystemFileOperationsTest, WriteAtomicCopyReplacesWithTheSourceBytesAndSurvivesTheSourceBeingReplaced)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString state = dir.filePath(QStringLiteral("state.json"));
    const QString previous = dir.filePath(QStringLiteral("state.previous.json"));
    const QByteArray first = randomBytes(300000);
    writeFile(state, first);

    files().writeAtomicCopy(urlOf(state), urlOf(previous));
    EXPECT_EQ(readFile(previous), first);
    files().writeAtomic("second", urlOf(state));
    EXPECT_EQ(readFile(previous), first) << "replacing the source whole leaves the copy";
    files().writeAtomicCopy(urlOf(state), urlOf(previous));
    EXPECT_EQ(readFile(previous), "second") << "an existing destination is replaced";
    EXPECT_EQ(readFile(state), "second");
    // Copied again before the source changed (a save whose last step failed,
    // then the next save): the two names are already one file.
    files().writeAtomicCopy(urlOf(state), urlOf(previous));
    EXPECT_EQ(readFile(previous), "second");
    EXPECT_EQ(entriesOf(dir.path()), (QStringList{QStringLiteral("state.json"), QStringLiteral("state.previous.json")}));

    // Failures change nothing and leave no temporary name behind; a
    // separate copy, made for someone else, takes no link or folder for a file.
    const struct {
        const char* name;
        QString source;
        QString destination;
        int error;
        bool separateOnly;
    } failures[] = {
        {"missing source", dir.filePath(QStringLiteral("gone.json")), previous, ENOENT, false},
        {"missing folder", state, dir.filePath(QStringLiteral("missing/state.previous.json")), ENOENT, false},
        {"folder in the way", state, dir.filePath(QStringLiteral("sub")), EISDIR, false},
        {"a link as the source", dir.filePath(QStringLiteral("sub/link")), previous, ELOOP, true},
        {"a folder as the source", dir.filePath(QStringLiteral("sub")), previous, ENOTSUP, true},
    };
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("sub"))));
    ASSERT_TRUE(QFile::link(state, dir.filePath(QStringLiteral("sub/link"))));
    for (const auto& failure : failures) {
        SCOPED_TRACE(failure.name);
        if (!failure.separateOnly) {
            EXPECT_EQ(errnoOf([&] { files().writeAtomicCopy(urlOf(failure.source), urlOf(failure.destination)); }),
                failure.error);
        }
        EXPECT_EQ(errnoOf([&] { files().writeAtomicSeparateCopy(urlOf(failure.source), urlOf(failure.destination)); }),
            failure.error);
        EXPECT_EQ(readFile(previous), "second");
        EXPECT_EQ(entriesOf(dir.path()),
            (QStringList{QStringLiteral("state.json"), QStringLiteral("state.previous.json"), QStringLiteral("sub")}));
    }
}

TEST(SystemFileOperationsTest, FailedWriteAtomicKeepsTheOldFileWhole)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("clipboard-settings.json"));
    const QByteArray old = randomBytes(10000);
    writeFile(target, old);

    int error = 0;
    {
        // The write stops with EFBIG after 64 KiB of the new megabyte.
        ScopedFileSizeLimit limit(64 * 1024);
        ASSERT_TRUE(limit.active());
        error = errnoOf([&] { files().writeAtomic(randomBytes(1024 * 1024), urlOf(target)); });
    }
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(readFile(target), old);
    EXPECT_EQ(entriesOf(dir.path()), QStringList{QStringLiteral("clipboard-settings.json")});
}

TEST(SystemFileOperationsTest, ConcurrentReadersNeverSeeATornOrEmptyFile)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString target = dir.filePath(QStringLiteral("shared.json"));
    std::vector<QByteArray> versions;
    for (int i = 0; i < 4; ++i)
        versions.push_back(QByteArray(200 * 1024 + i * 1024, static_cast<char>('a' + i)));
    files().writeAtomic(versions[0], urlOf(target));

    std::atomic<bool> writing{true};
    std::atomic<int> torn{0};
    std::atomic<int> reads{0};
    std::thread reader([&] {
        while (writing.load()) {
            const QByteArray seen = files().read(urlOf(target));
            if (std::find(versions.begin(), versions.end(), seen) == versions.end())
                ++torn;
            ++reads;
        }
    });
    std::vector<std::thread> writers;
    std::atomic<int> failures{0};
    for (int w = 0; w < 2; ++w) {
        writers.emplace_back([&, w] {
            for (int i = 0; i < 15; ++i) {
                try {
                    files().writeAtomic(versions[static_cast<std::size_t>((w + i) % 4)], urlOf(target));
                } catch (...) {
                    ++failures;
                }
            }
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    writing = false;
    reader.join();

    EXPECT_EQ(failures.load(), 0);
    EXPECT_EQ(torn.load(), 0) << "of " << reads.load() << " reads";
    EXPECT_NE(std::find(versions.begin(), versions.end(), readFile(target)), versions.end());
    EXPECT_EQ(entriesOf(dir.path()), QStringList{QStringLiteral("shared.json")});
}

TEST(SystemFileOperationsTest, AvailableBytesReportsTheVolumeFigure)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    EXPECT_GT(files().availableBytes(urlOf(dir.path())), 0);
    EXPECT_EQ(errnoOf([&] { files().availableBytes(urlOf(dir.filePath(QStringLiteral("missing")))); }), ENOENT);

    struct statvfs volume {};
    volume.f_bavail = 1000;
    volume.f_frsize = 4096;
    volume.f_bsize = 65536;
    EXPECT_EQ(availableBytesOfVolume(volume), 4096000);
    volume.f_frsize = 0;
    EXPECT_EQ(availableBytesOfVolume(volume), 65536000);
    volume.f_bavail = ~0UL;
    EXPECT_EQ(availableBytesOfVolume(volume), std::numeric_limits<std::int64_t>::max());
    volume.f_bsize = 0;
    try {
        availableBytesOfVolume(volume);
        ADD_FAILURE() << "a volume without a block size gave a figure";
    } catch (const StoreError& error) {
        EXPECT_EQ(error.code(), StoreError::Code::unavailableSpace);
    }
}

TEST(SystemFileOperationsTest, ListGivesEveryEntryIncludingHiddenOnes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    writeFile(dir.filePath(QStringLiteral("visible.txt")), "v");
    writeFile(dir.filePath(QStringLiteral(".hidden")), "h");
    writeFile(dir.filePath(QStringLiteral("with space")), "s");
    ASSERT_TRUE(QDir().mkpath(dir.filePath(QStringLiteral("sub/deeper"))));
    writeFile(dir.filePath(QStringLiteral("sub/not-listed")), "n");
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("nowhere")), dir.filePath(QStringLiteral("dangling"))));

    const QList<QUrl> entries = files().list(urlOf(dir.path()));
    const QSet<QUrl> listed(entries.begin(), entries.end());
    EXPECT_EQ(entries.size(), listed.size());
    const QSet<QUrl> expected{urlOf(dir.filePath(QStringLiteral("visible.txt"))),
        urlOf(dir.filePath(QStringLiteral(".hidden"))), urlOf(dir.filePath(QStringLiteral("with space"))),
        urlOf(dir.filePath(QStringLiteral("sub"))), urlOf(dir.filePath(QStringLiteral("dangling")))};
    EXPECT_EQ(listed, expected);

    EXPECT_TRUE(files().list(urlOf(dir.filePath(QStringLiteral("sub/deeper")))).isEmpty());
    EXPECT_EQ(errnoOf([&] { files().list(urlOf(dir.filePath(QStringLiteral("visible.txt")))); }), ENOTDIR);
    EXPECT_EQ(errnoOf([&] { files().list(urlOf(dir.filePath(QStringLiteral("missing")))); }), ENOENT);
}

TEST(SystemFileOperationsTest, NamesThatAreNotUtf8AreListedAsThemselves)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray folder = QFile::encodeName(dir.path());
    const QByteArray names[] = {
        QByteArray("caf\xE9.txt"),          // Latin-1
        QByteArray("\xFF\xFE"),              // never UTF-8
        QByteArray("cut\xC3"),              // a sequence cut short
        QByteArray("a\xED\xA0\x80" "b"),       // an encoded surrogate
        QByteArray("over\xC0\xAFlong"),      // an overlong slash
        QByteArray("caf\xC3\xA9.txt"),       // valid UTF-8 beside its Latin-1 twin
    };
    for (const QByteArray& name : names) {
        const QByteArray path = folder + '/' + name;
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        ASSERT_GE(fd, 0) << name.toHex().toStdString();
        ASSERT_EQ(::write(fd, name.constData(), std::size_t(name.size())), name.size());
        ::close(fd);
    }

    const QList<QUrl> entries = files().list(urlOf(dir.path()));
    ASSERT_EQ(entries.size(), qsizetype(std::size(names)));
    QSet<QByteArray> seen;
    for (const QUrl& entry : entries) {
        // Each listed entry reaches the very file it names, and no other.
        const QByteArray bytes = files().read(entry);
        seen.insert(bytes);
        EXPECT_TRUE(files().inspect(entry).isRegularFile);
        const QUrl moved = QUrl::fromLocalFile(entry.toLocalFile() + QStringLiteral(".moved"));
        files().move(entry, moved);
        EXPECT_EQ(files().read(moved), bytes);
        files().move(moved, entry);
        const QByteArray rawPath = folder + '/' + bytes;
        EXPECT_EQ(::access(rawPath.constData(), F_OK), 0) << bytes.toHex().toStdString();
    }
    EXPECT_EQ(seen.size(), qsizetype(std::size(names)));
}

TEST(SystemFileOperationsTest, AUrlParsedFromTextReachesTheFileItsEscapedBytesName)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const test::LookAlikeNames names = test::LookAlikeNames::make(dir.path());
    writeFile(dir.filePath(QStringLiteral("a")), "not a folder");
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("a%2Fb")));

    const QUrl parsed(QString::fromLatin1(names.uri));
    EXPECT_EQ(files().read(parsed), names.rawBytes);
    EXPECT_EQ(files().read(*localFileURL(names.uri)), names.rawBytes);
    EXPECT_EQ(files().read(QUrl::fromLocalFile(names.lookAlikePath)), names.lookAlikeBytes);
    const OpenFile opened = files().open(parsed);
    EXPECT_EQ(files().inspect(opened).byteCount, names.rawBytes.size());
    // An escaped "/" names no file: it is refused, not read as a separator.
    const QUrl slash(QUrl::fromLocalFile(dir.path()).toString() + QStringLiteral("/a%2Fb"));
    EXPECT_EQ(errnoOf([&] { files().inspect(slash); }), EINVAL);
}

TEST(SystemFileOperationsTest, ReadsAndCopiesOfAnOpenFileStopOnePastTheirLimit)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("source"));
    const QByteArray bytes = randomBytes(3 * 1024 * 1024 + 5);
    writeFile(path, bytes);
    const qint64 size = bytes.size();

    for (const qint64 limit : {size, size + 1, size - 1, qint64(1024 * 1024), qint64(0)}) {
        SCOPED_TRACE(limit);
        const OpenFile file = files().open(urlOf(path));
        QByteArray consumed;
        const int readError = errnoOf([&] {
            files().read(file, [&](const char* data, std::size_t count) { consumed.append(data, qsizetype(count)); }, limit);
        });
        const QString copyName = QStringLiteral("copy-%1").arg(limit);
        const int copyError =
            errnoOf([&] { files().copy(file, urlOf(dir.path()), copyName, FileOperations::MissingFolders::fail, limit); });
        if (limit >= size) {
            EXPECT_EQ(readError, -1);
            EXPECT_EQ(consumed, bytes);
            EXPECT_EQ(copyError, -1);
            EXPECT_EQ(readFile(dir.filePath(copyName)), bytes);
        } else {
            EXPECT_EQ(readError, EFBIG);
            EXPECT_LE(consumed.size(), limit);
            EXPECT_TRUE(bytes.startsWith(consumed));
            EXPECT_EQ(copyError, EFBIG);
            EXPECT_FALSE(exists(dir.filePath(copyName)));
        }
    }

    // Grown to a gigabyte after it was opened: read no further than the limit.
    const OpenFile file = files().open(urlOf(path));
    ASSERT_EQ(::truncate(QFile::encodeName(path).constData(), off_t(1) << 30), 0);
    qint64 total = 0;
    EXPECT_EQ(errnoOf([&] { files().read(file, [&](const char*, std::size_t count) { total += qint64(count); }, size); }),
        EFBIG);
    EXPECT_LE(total, size);
    EXPECT_EQ(errnoOf([&] { files().copy(file, urlOf(dir.path()), QStringLiteral("grown"), FileOperations::MissingFolders::fail, size); }),
        EFBIG);
    EXPECT_FALSE(exists(dir.filePath(QStringLiteral("grown"))));
}

TEST(SystemFileOperationsTest, NoReadOfAPathWaitsForAFifosWriter)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString fifo = dir.filePath(QStringLiteral("fifo"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    // Each call must come back by itself; should one wait for a writer, a
    // writer comes so that the test ends, and the wait fails it.
    const std::function<void()> calls[] = {
        [&] { files().read(urlOf(fifo)); },
        [&] { files().writeAtomicSeparateCopy(urlOf(fifo), urlOf(dir.filePath(QStringLiteral("separate")))); },
        [&] { files().copy(urlOf(fifo), urlOf(dir.filePath(QStringLiteral("copied")))); },
        [&] { files().read(files().open(urlOf(fifo)), [](const char*, std::size_t) {}, 1); },
    };
    for (std::size_t i = 0; i < std::size(calls); ++i) {
        SCOPED_TRACE(i);
        std::atomic<int> error{0};
        std::thread call([&] { error = errnoOf(calls[i]); });
        bool waited = false;
        for (int tick = 0; tick < 3000 && error == 0; ++tick)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (error == 0) {
            waited = true;
            const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
        call.join();
        EXPECT_FALSE(waited) << "the call waited for a writer";
        EXPECT_NE(error, -1) << "a FIFO was read as a file";
    }
}

TEST(SystemFileOperationsTest, MovesWithoutReplacingWhereTheFileSystemLacksNoReplaceRename)
{
    // As a file system without RENAME_NOREPLACE answers.
    const auto lacking = [](int, const char*, int, const char*) {
        errno = EINVAL;
        return -1;
    };
    FaultInjectingFileOperations layer(std::make_shared<SystemFileOperations>(lacking));
    constexpr int moved = -1; // errnoOf of a call that did not throw
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const auto at = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    writeFile(at("file"), "file bytes");
    writeFile(at("taken"), "taken bytes");
    ASSERT_TRUE(QFile::link(at("file"), at("link")));
    ASSERT_TRUE(QDir().mkpath(at("folder")));

    const struct {
        const char* source;
        const char* destination;
        int expectedErrno;
    } cases[] = {
        {"file", "renamed", moved},
        {"renamed", "taken", EEXIST},
        {"link", "moved-link", moved},
        {"folder", "moved-folder", EINVAL}, // a folder cannot be linked: no silent rename
        {"missing", "anywhere", ENOENT},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const QByteArray before = readFile(at(c.destination));
        EXPECT_EQ(errnoOf([&] { layer.move(urlOf(at(c.source)), urlOf(at(c.destination))); }), c.expectedErrno);
        if (c.expectedErrno == moved) {
            EXPECT_FALSE(QFileInfo::exists(at(c.source)) || QFileInfo(at(c.source)).isSymLink());
            EXPECT_TRUE(QFileInfo::exists(at(c.destination)) || QFileInfo(at(c.destination)).isSymLink());
        } else {
            EXPECT_EQ(readFile(at(c.destination)), before);
        }
    }
    EXPECT_EQ(readFile(at("renamed")), "file bytes");
    EXPECT_EQ(readFile(at("taken")), "taken bytes");
    EXPECT_TRUE(QFileInfo(at("moved-link")).isSymLink());
    EXPECT_TRUE(QFileInfo(at("folder")).isDir());
    EXPECT_EQ(layer.callCount(FileOperation::move), qsizetype(std::size(cases)));
}
