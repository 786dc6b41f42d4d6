#include "ShelfTesting.h"

#include "Support/DataRootBuilder.h"
#include "Support/ImageFixtures.h"
#include "TolvexCore/Files/AtomicWriteName.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Shelf/FaceLoader.h"
#include "Velmarin/Shelf/ThumbnailDiskCache.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tolvex {
namespace {

using namespace testing;

const QString digestA = QStringLiteral("a").repeated(64);
const QString digestB = QStringLiteral("0123456789abcdef").repeated(4);
const QString kind = QStringLiteral("image-480");
const QUrl dataRoot = QUrl::fromLocalFile(QStringLiteral("/data/Tolvex"));

bool makeFifo(const QString& path)
{
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// Lets go whatever waits for a writer of the FIFO, and takes its name so
// that nothing waits for it again: for a test that finds the code stuck.
void releaseReaders(const QString& fifo)
{
    const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    QFile::remove(fifo);
    if (writer >= 0)
        ::close(writer);
}

// Runs `work` on a thread of its own; false when it is still running at the
// deadline, after the FIFO let it go.
bool finishesWithoutWaitingOn(const QString& fifo, const std::function<void()>& work)
{
    std::future<void> running = std::async(std::launch::async, work);
    if (running.wait_for(std::chrono::seconds(30)) == std::future_status::ready)
        return true;
    releaseReaders(fifo);
    running.wait();
    return false;
}

// Every item of a folder with its bytes (its kind for anything but a file).
std::string contentsOf(const QString& folder)
{
    QStringList items;
    for (const QFileInfo& item : QDir(folder).entryInfoList(
             QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name)) {
        QString text = item.fileName() + QLatin1Char(':');
        if (item.isSymLink()) {
            text += QStringLiteral("link to ") + item.symLinkTarget();
        } else if (item.isFile()) {
            QFile file(item.filePath());
            text += file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll().toHex()) : QStringLiteral("?");
        } else {
            text += item.isDir() ? QStringLiteral("folder") : QStringLiteral("special");
        }
        items.append(text);
    }
    return items.join(QLatin1Char('\n')).toStdString();
}

QImage picture(QImage::Format format)
{
    QImage image(37, 21, format);
    if (format == QImage::Format_Indexed8)
        image.setColorTable({qRgb(10, 20, 30), qRgba(200, 100, 0, 128), qRgb(255, 255, 255)});
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (format == QImage::Format_Indexed8)
                image.setPixel(x, y, uint((x + y) % 3));
            else
                image.setPixelColor(x, y, QColor(x * 6, y * 12, (x * y) % 256, 255 - x));
        }
    }
    return image;
}

bool sameImage(const QImage& a, const QImage& b)
{
    return a.format() == b.format() && a.colorTable() == b.colorTable() && a == b;
}

TEST(ThumbnailDiskCacheTest, PicturesComeBackExactlyUnderTheirDigestInAPrivateFolder)
{
    QTemporaryDir home;
    // A cache folder left open by someone is closed again.
    ASSERT_TRUE(QDir().mkpath(home.filePath(QStringLiteral("Tolvex"))));
    QFile::setPermissions(home.filePath(QStringLiteral("Tolvex")), QFileDevice::Permissions(0x7755));
    ThumbnailDiskCache cache(home.filePath(QStringLiteral("Tolvex")), dataRoot);

    for (const QImage::Format format : {QImage::Format_ARGB32_Premultiplied, QImage::Format_RGB32,
             QImage::Format_ARGB32, QImage::Format_Indexed8, QImage::Format_Grayscale8, QImage::Format_RGB888}) {
        SCOPED_TRACE(int(format));
        const QImage image = picture(format);
        ASSERT_TRUE(cache.write(digestA, kind, image));
        const std::optional<QImage> back = cache.read(digestA, kind);
        ASSERT_TRUE(back);
        EXPECT_TRUE(sameImage(*back, image));
        EXPECT_EQ(cache.size(digestA, kind), image.size());
        // Another digest or another kind of picture has none.
        EXPECT_FALSE(cache.read(digestB, kind));
        EXPECT_FALSE(cache.read(digestA, QStringLiteral("pdf-480")));
    }
    const QFileDevice::Permissions privateFolder =
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
    const QFileDevice::Permissions mode(0x7077); // owner, group, others: not the current user's
    for (const QString& folder : {home.filePath(QStringLiteral("Tolvex")), home.filePath(QStringLiteral("Tolvex/Thumbnails")),
             cache.thumbnailFolder()})
        EXPECT_EQ(QFileInfo(folder).permissions() & mode, privateFolder) << folder.toStdString();

    // Nothing but a digest names a file, and nothing but a plain word a kind.
    for (const QString& digest : {digestA.toUpper(), QStringLiteral("../") + digestA.mid(3), digestA.left(63), QString()})
        EXPECT_TRUE(cache.entryPath(digest, kind).isEmpty()) << digest.toStdString();
    EXPECT_TRUE(cache.entryPath(digestA, QStringLiteral("../x")).isEmpty());
    EXPECT_FALSE(cache.write(digestA.toUpper(), kind, picture(QImage::Format_RGB32)));
}

TEST(ThumbnailDiskCacheTest, ADamagedOrForeignEntryReadsAsAbsentAndIsRewritten)
{
    QTemporaryDir home;
    ThumbnailDiskCache cache(home.filePath(QStringLiteral("Tolvex")), dataRoot);
    const QImage image = picture(QImage::Format_ARGB32_Premultiplied);
    ASSERT_TRUE(cache.write(digestB, kind, image));
    QFile original(cache.entryPath(digestB, kind));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    original.close();
    const qsizetype rowsStart = bytes.size() - 40;

    const auto flipped = [&](qsizetype at) {
        QByteArray changed = bytes;
        changed[at] = char(changed[at] ^ 0x5A);
        return changed;
    };
    const struct {
        const char* name;
        QByteArray stored;
        bool headerSound;
    } cases[] = {
        {"cut short", bytes.left(bytes.size() - 1), true},
        {"with bytes after its end", bytes + "x", true},
        {"a changed row byte", flipped(rowsStart), true},
        {"a changed mark", flipped(0), false},
        {"a changed width", flipped(16 + 4 + 64 + 4 + kind.size() + 3), false},
        {"empty", QByteArray(), false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QFile file(cache.entryPath(digestB, kind));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(c.stored);
        file.close();
        EXPECT_FALSE(cache.read(digestB, kind));
        EXPECT_EQ(cache.size(digestB, kind).has_value(), c.headerSound);
        ASSERT_TRUE(cache.write(digestB, kind, image));
        const std::optional<QImage> back = cache.read(digestB, kind);
        ASSERT_TRUE(back);
        EXPECT_TRUE(sameImage(*back, image));
    }

    // A sound entry of one digest, put under another's name, is not taken for it.
    ASSERT_TRUE(QFile::copy(cache.entryPath(digestB, kind), cache.entryPath(digestA, kind)));
    EXPECT_FALSE(cache.read(digestA, kind));
    EXPECT_FALSE(cache.size(digestA, kind));
}

// Entries whose payload has left the workspace are removed once the line has
// rendered, with anything else the folder holds; the others stay.
TEST(ThumbnailDiskCacheTest, TheLineForgetsPicturesWhosePayloadIsGone)
{
    QTemporaryDir home;
    auto cache = std::make_shared<ThumbnailDiskCache>(home.filePath(QStringLiteral("Tolvex")), dataRoot);
    ShelfFixture cards;
    MaterialRecord& kept = cards.add(QStringLiteral("kept"));
    kept.versions.first().sha256 = digestA;
    const QString stray = cache->thumbnailFolder() + QStringLiteral("/") + digestA + QStringLiteral(".thumb.x1Yz");
    for (const QString& digest : {digestA, digestB})
        ASSERT_TRUE(cache->write(digest, kind, picture(QImage::Format_RGB32)));
    ASSERT_TRUE(QFile(stray).open(QIODevice::WriteOnly));

    ControlledLineStore store;
    MemoryUserDefaults defaults;
    CountingThumbnails thumbnails;
    Line line(store, defaults, thumbnails.maker(), nullptr, cache);
    QCoro::Task<void> task = line.render(cards.snapshot);
    ControlledLineStore::settle(*store.payloadCalls[0], cards.locations(store.payloadCalls[0]->records));
    ASSERT_TRUE(waitUntil([&] { return task.isReady(); }));
    ASSERT_TRUE(waitUntil([&] { return !QFile::exists(cache->entryPath(digestB, kind)) && !QFile::exists(stray); }));
    EXPECT_TRUE(QFile::exists(cache->entryPath(digestA, kind)));
}

// Whatever lies at an entry's name or in place of one of the cache's own
// folders (left by a sync tool, a restored backup or anyone), nothing outside
// the cache changes and nothing waits: a link is never followed, a FIFO never
// opened for a writer, an entry is written by a rename over its name, and a
// linked folder is not used at all.
TEST(ThumbnailDiskCacheTest, NoLinkOrSpecialFileInTheCacheIsFollowed)
{
    QTemporaryDir home;
    const QString outside = home.filePath(QStringLiteral("outside"));
    ASSERT_TRUE(QDir().mkpath(outside));
    {
        QFile notes(outside + QStringLiteral("/notes.txt"));
        ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
        notes.write("the user's own words");
    }
    ASSERT_TRUE(makeFifo(outside + QStringLiteral("/fifo")));
    const QString folder = home.filePath(QStringLiteral("Tolvex"));
    ThumbnailDiskCache cache(folder, dataRoot);
    const QImage image = picture(QImage::Format_RGB32);
    ASSERT_TRUE(cache.write(digestB, kind, image));
    const QString entry = cache.entryPath(digestA, kind);
    const auto linkTo = [](const QString& target) {
        return [target](const QString& path) { return QFile::link(target, path); };
    };
    const struct {
        const char* name;
        QString path;
        std::function<bool(const QString&)> make;
        bool folder;
    } cases[] = {
        {"a link to a user's file", entry, linkTo(outside + QStringLiteral("/notes.txt")), false},
        {"a link to nothing", entry, linkTo(outside + QStringLiteral("/absent")), false},
        {"a FIFO", entry, makeFifo, false},
        {"a link to a FIFO", entry, linkTo(outside + QStringLiteral("/fifo")), false},
        {"the root's folder a link", cache.thumbnailFolder(), linkTo(outside), true},
        {"Thumbnails a link", folder + QStringLiteral("/Thumbnails"), linkTo(outside), true},
        {"the cache folder a link", folder, linkTo(outside), true},
    };
    const std::string before = contentsOf(outside);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString aside = c.path + QStringLiteral(".aside");
        if (c.folder) {
            ASSERT_TRUE(QDir().rename(c.path, aside));
        }
        ASSERT_TRUE(c.make(c.path));
        std::optional<QSize> size;
        std::optional<QImage> absent;
        bool written = false;
        std::optional<QImage> back;
        const QString fifo = c.path == entry && QFileInfo(entry).isSymLink() ? QFileInfo(entry).symLinkTarget() : entry;
        EXPECT_TRUE(finishesWithoutWaitingOn(fifo, [&] {
            size = cache.size(digestA, kind);
            absent = cache.read(digestA, kind);
            written = cache.write(digestA, kind, image);
            back = cache.read(digestA, kind);
            cache.forgetAllBut({digestA});
        }));
        EXPECT_FALSE(size);
        EXPECT_FALSE(absent);
        EXPECT_EQ(contentsOf(outside), before);
        if (c.folder) {
            EXPECT_FALSE(written);
            EXPECT_FALSE(back);
            EXPECT_TRUE(QFileInfo(c.path).isSymLink());
            ASSERT_TRUE(QFile::remove(c.path));
            ASSERT_TRUE(QDir().rename(aside, c.path));
        } else {
            EXPECT_TRUE(written);
            EXPECT_TRUE(QFileInfo(entry).isFile() && !QFileInfo(entry).isSymLink());
            ASSERT_TRUE(back);
            EXPECT_TRUE(sameImage(*back, image));
            ASSERT_TRUE(QFile::remove(entry));
        }
    }
}

// Two data roots share the user's cache: each forgets only its own
// pictures, whatever the other's shelf holds. Pictures left loose in
// "Thumbnails", where every root's pictures lay together before, go.
TEST(ThumbnailDiskCacheTest, EachDataRootForgetsOnlyItsOwnPictures)
{
    QTemporaryDir home;
    const QString folder = home.filePath(QStringLiteral("Tolvex"));
    ThumbnailDiskCache first(folder, QUrl::fromLocalFile(QStringLiteral("/data/first/Tolvex")));
    ThumbnailDiskCache second(folder, QUrl::fromLocalFile(QStringLiteral("/data/second/Tolvex")));
    // The same root, spelled otherwise.
    ThumbnailDiskCache firstAgain(folder, QUrl::fromLocalFile(QStringLiteral("/data//first/./Tolvex/")));
    const QImage image = picture(QImage::Format_RGB32);
    ASSERT_TRUE(first.write(digestA, kind, image));
    ASSERT_TRUE(second.write(digestB, kind, image));
    first.forgetAllBut({digestA});
    second.forgetAllBut({digestB});
    EXPECT_TRUE(firstAgain.read(digestA, kind));
    EXPECT_TRUE(second.read(digestB, kind));
    first.forgetAllBut({});
    EXPECT_FALSE(first.read(digestA, kind));
    EXPECT_TRUE(second.read(digestB, kind));

    const QString loose = folder + QStringLiteral("/Thumbnails/") + digestB + QLatin1Char('.') + kind + QStringLiteral(".thumb");
    ASSERT_TRUE(QFile::copy(second.entryPath(digestB, kind), loose));
    second.forgetAllBut({digestB});
    EXPECT_FALSE(QFileInfo::exists(loose));
    EXPECT_TRUE(second.read(digestB, kind));
}

// A trim leaves the temporary file of a picture still being written, so
// every store that runs beside trims succeeds; a temporary file whose
// writer died long ago goes.
TEST(ThumbnailDiskCacheTest, StoresBesideTrimsAllSucceedAndOnlyAbandonedWritesGo)
{
    QTemporaryDir home;
    ThumbnailDiskCache cache(home.filePath(QStringLiteral("Tolvex")), dataRoot);
    QStringList digests;
    for (int i = 0; i < 200; ++i)
        digests.append(QString::fromLatin1(QCryptographicHash::hash(QByteArray::number(i), QCryptographicHash::Sha256).toHex()));
    const QSet<QString> live(digests.cbegin(), digests.cend());
    const QImage image = picture(QImage::Format_RGB32);

    std::atomic<bool> storing{true};
    std::atomic<int> failed{0};
    std::thread trimmer([&] {
        while (storing.load())
            cache.forgetAllBut(live);
    });
    std::vector<std::thread> writers;
    constexpr int writerCount = 4;
    for (int w = 0; w < writerCount; ++w) {
        writers.emplace_back([&, w] {
            for (qsizetype i = w; i < digests.size(); i += writerCount) {
                if (!cache.write(digests[i], kind, image))
                    ++failed;
            }
        });
    }
    for (std::thread& writer : writers)
        writer.join();
    storing.store(false);
    trimmer.join();
    EXPECT_EQ(failed.load(), 0);
    for (const QString& digest : digests)
        EXPECT_TRUE(cache.read(digest, kind)) << digest.toStdString();

    const std::string entryName = QFile::encodeName(QFileInfo(cache.entryPath(digestA, kind)).fileName()).toStdString();
    const auto leftover = [&](std::uint64_t token, const QDateTime& modified) {
        const QString path = cache.thumbnailFolder() + QLatin1Char('/')
            + QString::fromStdString(atomicWriteTemporaryName(entryName, token));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("part of a picture");
        file.flush();
        EXPECT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
        return path;
    };
    const QString abandoned = leftover(1, QDateTime::currentDateTime().addSecs(-2 * 3600));
    const QString writing = leftover(2, QDateTime::currentDateTime());
    cache.forgetAllBut(live);
    EXPECT_FALSE(QFileInfo::exists(abandoned));
    EXPECT_TRUE(QFileInfo::exists(writing));
}

// The reported case: links named like entries, left to the data root's own
// state, to a committed payload, to a user's file and to nothing, and a FIFO
// in place of an entry. Starts show every picture, leave every target as it
// was (the link to nothing still leads nowhere) and replace each name with
// a picture of its own.
TEST(ThumbnailDiskCacheTest, StartsOverLinksAndAFifoAtEntriesChangeNothingOutsideTheCache)
{
    QTemporaryDir folder;
    DataRootBuilder builder(folder.filePath(QStringLiteral("Tolvex")));
    QList<QUuid> ids;
    for (int i = 0; i < 5; ++i) {
        MaterialRecord& record = builder.addMaterial(
            test::encodeImage(test::patternImage(64 + i, 48), "png"), MaterialStatus::hanging, QStringLiteral("png"));
        record.kind = MaterialKind::image;
        ids.append(record.id);
    }
    builder.writeState();
    const QString userFile = test::writeFixture(folder, QStringLiteral("notes.txt"), "the user's own words");
    const QString nowhere = folder.filePath(QStringLiteral("nowhere"));
    const MaterialVersion& payload = builder.material(ids[0]).versions.first();
    const QStringList targets{builder.path(QStringLiteral("state.json")),
        builder.path(DataRootBuilder::payloadPath(ids[0], payload.id, QStringLiteral("png"))), userFile, nowhere};
    QList<QByteArray> targetBytes;
    for (const QString& target : targets) {
        QFile file(target);
        targetBytes.append(file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray());
    }

    const std::shared_ptr<ThumbnailDiskCache> disk = ThumbnailDiskCache::standard(builder.rootURL());
    ASSERT_TRUE(disk);
    ASSERT_TRUE(QDir().mkpath(disk->thumbnailFolder()));
    const auto entryOf = [&](qsizetype i) {
        const QUuid& id = ids[i];
        const MaterialVersion& version = builder.material(id).versions.first();
        return disk->entryPath(version.sha256,
            FaceLoader::diskKind(builder.url(DataRootBuilder::payloadPath(id, version.id, QStringLiteral("png")))));
    };
    for (qsizetype i = 0; i < targets.size(); ++i)
        ASSERT_TRUE(QFile::link(targets[i], entryOf(i)));
    const QString fifo = entryOf(4);
    ASSERT_TRUE(makeFifo(fifo));

    MaterialStore store(builder.rootURL(), SystemFileOperations::shared(),
        StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0});
    MaterialLineStore lineStore(store);
    MemoryUserDefaults defaults;
    for (const char* start : {"first start", "second start"}) {
        SCOPED_TRACE(start);
        Line line(lineStore, defaults);
        QCoro::Task<void> loading = line.load();
        const bool loaded = waitUntil([&] { return loading.isReady(); }, 30000);
        if (!loaded) {
            releaseReaders(fifo);
            waitUntil([&] { return loading.isReady(); });
        }
        ASSERT_TRUE(loaded);
        ASSERT_TRUE(settlePictures(line));
        ASSERT_EQ(line.items->size(), ids.size());
        for (qsizetype i = 0; i < ids.size(); ++i) {
            EXPECT_EQ(line.items()[i].thumb.size(), QSize(64 + int(i), 48));
            EXPECT_TRUE(waitUntil([&] { return QFileInfo(entryOf(i)).isFile() && !QFileInfo(entryOf(i)).isSymLink(); }))
                << i;
        }
        for (qsizetype i = 0; i < targets.size(); ++i) {
            QFile file(targets[i]);
            EXPECT_TRUE((file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray()) == targetBytes[i])
                << targets[i].toStdString();
        }
        EXPECT_FALSE(QFileInfo::exists(nowhere));
    }
}

} // namespace
} // namespace tolvex
