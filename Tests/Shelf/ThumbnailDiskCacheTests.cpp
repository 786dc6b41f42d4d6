#include "ShelfTesting.h"

#include "Velmarin/Shelf/ThumbnailDiskCache.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace tolvex {
namespace {

using namespace testing;

const QString digestA = QStringLiteral("a").repeated(64);
const QString digestB = QStringLiteral("0123456789abcdef").repeated(4);
const QString kind = QStringLiteral("image-480");

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
    ThumbnailDiskCache cache(home.filePath(QStringLiteral("Tolvex")));

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
    EXPECT_EQ(QFileInfo(home.filePath(QStringLiteral("Tolvex"))).permissions() & mode, privateFolder);
    EXPECT_EQ(QFileInfo(cache.thumbnailFolder()).permissions() & mode, privateFolder);

    // Nothing but a digest names a file, and nothing but a plain word a kind.
    for (const QString& digest : {digestA.toUpper(), QStringLiteral("../") + digestA.mid(3), digestA.left(63), QString()})
        EXPECT_TRUE(cache.entryPath(digest, kind).isEmpty()) << digest.toStdString();
    EXPECT_TRUE(cache.entryPath(digestA, QStringLiteral("../x")).isEmpty());
    EXPECT_FALSE(cache.write(digestA.toUpper(), kind, picture(QImage::Format_RGB32)));
}

TEST(ThumbnailDiskCacheTest, ADamagedOrForeignEntryReadsAsAbsentAndIsRewritten)
{
    QTemporaryDir home;
    ThumbnailDiskCache cache(home.filePath(QStringLiteral("Tolvex")));
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
    auto cache = std::make_shared<ThumbnailDiskCache>(home.filePath(QStringLiteral("Tolvex")));
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

} // namespace
} // namespace tolvex
