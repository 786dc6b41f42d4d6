#include "ShelfTesting.h"

#include "Support/DataRootBuilder.h"
#include "Support/ImageFixtures.h"
#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Images/ImageSource.h"
#include "TolvexCore/Store/FutureResult.h"
#include "TolvexCore/Store/MaterialStore.h"
#include "Velmarin/Shelf/FaceLoader.h"
#include "Velmarin/Shelf/PeggedView.h"
#include "Velmarin/Shelf/ThumbnailDiskCache.h"
#include "Velmarin/Shelf/Thumbnails.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QMutex>

#include <array>
#include <utility>

namespace tolvex {
namespace {

using namespace testing;
using test::encodeImage;
using test::patternImage;
using test::writeFixture;

QByteArray rc4(const QByteArray& key, QByteArray data)
{
    std::array<unsigned char, 256> state;
    for (int i = 0; i < 256; ++i)
        state[i] = static_cast<unsigned char>(i);
    for (int i = 0, j = 0; i < 256; ++i) {
        j = (j + state[i] + static_cast<unsigned char>(key[i % key.size()])) % 256;
        std::swap(state[i], state[j]);
    }
    for (qsizetype n = 0, i = 0, j = 0; n < data.size(); ++n) {
        i = (i + 1) % 256;
        j = (j + state[i]) % 256;
        std::swap(state[i], state[j]);
        data[n] = static_cast<char>(data[n] ^ state[(state[i] + state[j]) % 256]);
    }
    return data;
}

QByteArray md5(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5);
}

// The standard security handler, revision 2 (40-bit RC4), with empty user
// and owner passwords: any reader opens the document without asking.
struct EmptyPasswordEncryption {
    QByteArray id = QByteArray(16, '\x5a');
    QByteArray padding = QByteArray::fromHex("28BF4E5E4E758A4164004E56FFFA01082E2E00B6D0683E802F0CA9FE6453697A");
    QByteArray owner = rc4(md5(padding).left(5), padding);
    QByteArray key = md5(padding + owner + QByteArray::fromHex("FCFFFFFF") + id).left(5);

    QByteArray dictionary() const
    {
        return "<< /Filter /Standard /V 1 /R 2 /P -4 /O <" + owner.toHex() + "> /U <" + rc4(key, padding).toHex()
            + "> >>";
    }
    QByteArray encrypt(int object, const QByteArray& data) const
    {
        const char number[5] = {static_cast<char>(object), 0, 0, 0, 0};
        return rc4(md5(key + QByteArray(number, 5)).left(10), data);
    }
};

// A one-page PDF with the media box and rotation given, with a correct
// cross-reference table; encrypted with an empty password when asked.
QByteArray pdfPage(double width, double height, int rotate = 0, bool encrypted = false)
{
    const EmptyPasswordEncryption encryption;
    const QByteArray drawing = "0 0 1 rg 10 10 50 50 re f";
    const QByteArray content = encrypted ? encryption.encrypt(4, drawing) : drawing;
    QList<QByteArray> objects{
        "<< /Type /Catalog /Pages 2 0 R >>",
        "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
        "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 " + QByteArray::number(width) + ' ' + QByteArray::number(height)
            + "] /Rotate " + QByteArray::number(rotate) + " /Contents 4 0 R >>",
        "<< /Length " + QByteArray::number(content.size()) + " >>\nstream\n" + content + "\nendstream",
    };
    QByteArray trailer = "/Root 1 0 R";
    if (encrypted) {
        objects.append(encryption.dictionary());
        trailer += " /Encrypt 5 0 R /ID [<" + encryption.id.toHex() + "> <" + encryption.id.toHex() + ">]";
    }
    QByteArray pdf = "%PDF-1.4\n";
    QList<qsizetype> offsets;
    for (qsizetype i = 0; i < objects.size(); ++i) {
        offsets.append(pdf.size());
        pdf += QByteArray::number(i + 1) + " 0 obj\n" + objects[i] + "\nendobj\n";
    }
    const qsizetype xref = pdf.size();
    pdf += "xref\n0 " + QByteArray::number(objects.size() + 1) + "\n0000000000 65535 f \n";
    for (qsizetype offset : offsets)
        pdf += QByteArray::number(offset).rightJustified(10, '0') + " 00000 n \n";
    pdf += "trailer\n<< /Size " + QByteArray::number(objects.size() + 1) + ' ' + trailer + " >>\nstartxref\n"
        + QByteArray::number(xref) + "\n%%EOF\n";
    return pdf;
}

TEST(ThumbnailsTests, PicturesOfEachKindOfFile)
{
    QTemporaryDir folder;
    const QImage pattern = patternImage(64, 48);
    const QByteArray png = encodeImage(pattern, "png");
    struct Case {
        const char* name;
        QString file;
        int maxPixels;
        QSize expected; // empty: no thumbnail
    };
    std::vector<Case> cases = {
        {"png", writeFixture(folder, "a.png", png), 32, QSize(32, 24)},
        {"jpeg turned by its orientation", writeFixture(folder, "c.jpg", test::jpegWithOrientation(pattern, 6)), 32,
            QSize(24, 32)},
        {"truncated png", writeFixture(folder, "d.png", png.left(png.size() - 20)), 32, QSize()},
        {"pdf", writeFixture(folder, "f.pdf", pdfPage(600, 800)), 240, QSize(180, 240)},
        {"pdf capped at 480", writeFixture(folder, "g.pdf", pdfPage(600, 800)), 1000, QSize(360, 480)},
        {"pdf turned by 270", writeFixture(folder, "h.PDF", pdfPage(600, 800, 270)), 1000, QSize(480, 360)},
        {"pdf of 20000 x 800 points", writeFixture(folder, "i.pdf", pdfPage(20000, 800)), 480, QSize()},
        {"damaged pdf", writeFixture(folder, "k.pdf", "%PDF-1.4\ngarbage"), 480, QSize()},
        {"pdf encrypted with an empty password", writeFixture(folder, "m.pdf", pdfPage(600, 800, 0, true)), 480,
            QSize()},
    };
    const QByteArray heic = test::heicImage(pattern);
    if (!heic.isEmpty())
        cases.push_back({"heic", writeFixture(folder, "l.heic", heic), 32, QSize(32, 24)});
    for (const Case& c : cases) {
        const std::optional<QImage> thumb = Thumbnails::makeThumbnail(QUrl::fromLocalFile(c.file), c.maxPixels);
        EXPECT_EQ(thumb ? thumb->size() : QSize(), c.expected) << c.name;
    }
}

TEST(ThumbnailsTests, TextPreviewReadsTheFirst4096BytesAndMarksACutCharacter)
{
    QTemporaryDir folder;
    // "é" is two bytes: 4,095 ASCII bytes put its first byte at position 4,096.
    const QByteArray cut = QByteArray(4095, 'a') + QByteArray("\xC3\xA9").repeated(500);
    // "中" is three bytes: 4,094 bytes put its first two at 4,095 and 4,096.
    const QByteArray cutThree = QByteArray(4094, 'b') + QByteArray("\xE4\xB8\xAD").repeated(300);
    const struct {
        const char* name;
        QByteArray bytes;
        MaterialKind kind;
        std::optional<QString> expected;
    } cases[] = {
        {"cut two-byte character", cut, MaterialKind::text, QString(4095, u'a') + QChar::ReplacementCharacter},
        {"cut three-byte character", cutThree, MaterialKind::text, QString(4094, u'b') + QChar::ReplacementCharacter},
        {"invalid byte inside", QByteArray("ok\xFFok"), MaterialKind::text,
            QStringLiteral("ok") + QChar::ReplacementCharacter + QStringLiteral("ok")},
        {"short text", QByteArray("h\xC3\xA9llo"), MaterialKind::text, QString::fromUtf8("h\xC3\xA9llo")},
        {"empty file", QByteArray(), MaterialKind::text, std::nullopt},
        {"not a text", QByteArray("text"), MaterialKind::file, std::nullopt},
    };
    int index = 0;
    for (const auto& c : cases) {
        const QString file = writeFixture(folder, QStringLiteral("t%1.txt").arg(index++), c.bytes);
        EXPECT_EQ(Thumbnails::textPreview(c.kind, QUrl::fromLocalFile(file)), c.expected) << c.name;
    }
    EXPECT_EQ(Thumbnails::textPreview(MaterialKind::text, QUrl::fromLocalFile(folder.filePath("missing"))),
        std::nullopt);
}

// Over the real store: a rename keeps the card and its picture, a PDF too
// large to draw hangs with the fallback picture.
TEST(ThumbnailsTests, RealStoreRenameReusesThePictureAndOversizedPdfGetsTheFallback)
{
    QTemporaryDir folder;
    DataRootBuilder builder(folder.filePath(QStringLiteral("Tolvex")));
    const QUuid image = builder.addMaterial(encodeImage(patternImage(64, 48), "png"), MaterialStatus::hanging,
                                   QStringLiteral("png"))
                            .id;
    builder.material(image).kind = MaterialKind::image;
    const QUuid pdf = builder.addMaterial(pdfPage(20000, 800), MaterialStatus::hanging, QStringLiteral("pdf")).id;
    builder.material(pdf).kind = MaterialKind::pdf;
    builder.writeState();

    MaterialStore store(builder.rootURL(), SystemFileOperations::shared(),
        StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0});
    MaterialLineStore lineStore(store);
    MemoryUserDefaults defaults;
    auto calls = std::make_shared<std::atomic<int>>(0);
    Line line(lineStore, defaults, [calls](const QUrl& url) {
        ++*calls;
        return Thumbnails::makeThumbnail(url, Line::shelfThumbnailPixels);
    });
    finish(line.load());
    ASSERT_TRUE(settlePictures(line));
    ASSERT_EQ(line.items->size(), 2);
    const Pegged picture = line.items()[0];
    EXPECT_EQ(picture.thumb.size(), QSize(64, 48));
    EXPECT_FALSE(line.items()[1].thumb.isNull()); // the fallback, not nothing
    EXPECT_EQ(calls->load(), 2);

    const WorkspaceSnapshot renamed
        = waitForResult(store.apply(MaterialCommand::renameMaterial(image, QStringLiteral("renamed")), Line::maxItems));
    finish(line.render(renamed));
    ASSERT_TRUE(settlePictures(line));
    const Pegged after = line.items()[0];
    EXPECT_EQ(after.displayTitle, QStringLiteral("renamed"));
    EXPECT_EQ(after.tilt, picture.tilt);
    EXPECT_EQ(after.thumb.cacheKey(), picture.thumb.cacheKey());
    EXPECT_EQ(calls->load(), 2);
}

// Every card ends with exactly the picture its file gives, made on the first
// start and read back from the thumbnail cache on the next; a file that gives
// none shows the fallback. The placeholder meanwhile has the picture's
// proportions, so the card keeps its size when the picture comes.
TEST(ThumbnailsTests, CardsEndWithTheirFilesPictureFirstMadeThenFromTheDiskCache)
{
    QTemporaryDir folder;
    DataRootBuilder builder(folder.filePath(QStringLiteral("Tolvex")));
    const struct {
        const char* name;
        QByteArray payload;
        const char* extension;
        MaterialKind kind;
        bool gives;
    } cases[] = {
        {"small PNG", encodeImage(patternImage(64, 48), "png"), "png", MaterialKind::image, true},
        {"large PNG with alpha", encodeImage(patternImage(1000, 600, true), "png"), "png", MaterialKind::image, true},
        {"JPEG turned on its side", test::jpegWithOrientation(patternImage(300, 200), 6), "jpg", MaterialKind::image,
            true},
        {"PDF page", pdfPage(612, 792), "pdf", MaterialKind::pdf, true},
        {"damaged PNG", encodeImage(patternImage(64, 48), "png").left(60), "png", MaterialKind::image, false},
    };
    QList<QUuid> ids;
    for (const auto& c : cases) {
        MaterialRecord& record = builder.addMaterial(c.payload, MaterialStatus::hanging, QString::fromLatin1(c.extension));
        record.kind = c.kind;
        ids.append(record.id);
    }
    builder.writeState();
    MaterialStore store(builder.rootURL(), SystemFileOperations::shared(),
        StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0});
    MaterialLineStore lineStore(store);
    MemoryUserDefaults defaults;
    const std::shared_ptr<ThumbnailDiskCache> disk = ThumbnailDiskCache::standard(builder.rootURL());
    ASSERT_TRUE(disk);

    for (const char* start : {"first start", "second start"}) {
        SCOPED_TRACE(start);
        Line line(lineStore, defaults);
        finish(line.load());
        ASSERT_TRUE(settlePictures(line));
        ASSERT_EQ(line.items->size(), std::size(cases));
        for (std::size_t i = 0; i < std::size(cases); ++i) {
            SCOPED_TRACE(cases[i].name);
            const Pegged& card = line.items()[qsizetype(i)];
            ASSERT_EQ(card.id, ids[qsizetype(i)]);
            const MaterialVersion& version = builder.material(card.id).versions.first();
            const std::optional<QImage> expected = Thumbnails::makeThumbnail(card.url, Line::shelfThumbnailPixels);
            ASSERT_EQ(expected.has_value(), cases[i].gives);
            if (!expected) {
                EXPECT_EQ(card.thumb.size(), QSize(80, 80));
                EXPECT_FALSE(QFile::exists(disk->entryPath(version.sha256, FaceLoader::diskKind(card.url))));
                continue;
            }
            EXPECT_EQ(card.thumb.format(), expected->format());
            EXPECT_EQ(card.thumb.colorTable(), expected->colorTable());
            EXPECT_TRUE(card.thumb == *expected);
            EXPECT_TRUE(waitUntil(
                [&] { return QFile::exists(disk->entryPath(version.sha256, FaceLoader::diskKind(card.url))); }));
            if (card.kind == MaterialKind::image) {
                Pegged placeholder = card;
                placeholder.thumb = Line::placeholderFace(
                    Thumbnails::pictureSize(card.url, Line::shelfThumbnailPixels).value_or(QSize()));
                const QSizeF before = PeggedView::photoSize(placeholder);
                const QSizeF after = PeggedView::photoSize(card);
                EXPECT_NEAR(before.width(), after.width(), 1.0);
                EXPECT_NEAR(before.height(), after.height(), 1.0);
            }
        }
    }
}

// A decode offered with its payload's digest becomes the card's picture with
// no decode of the file, and that picture is exactly the one the file gives;
// a type whose picture is decoded at a reduced scale is still made from its
// file.
TEST(ThumbnailsTests, OfferedDecodesGiveExactlyTheFilesPictureWithoutDecodingIt)
{
    QTemporaryDir folder;
    DataRootBuilder builder(folder.filePath(QStringLiteral("Tolvex")));
    const QImage opaque = patternImage(1000, 600);
    const struct {
        const char* name;
        QByteArray payload;
        const char* extension;
        bool decodedAgain;
    } cases[] = {
        {"large PNG", encodeImage(opaque, "png"), "png", false},
        {"large PNG with alpha", encodeImage(patternImage(600, 1000, true), "png"), "png", false},
        {"small PNG", encodeImage(patternImage(64, 48), "png"), "png", false},
        {"indexed PNG", encodeImage(opaque.convertToFormat(QImage::Format_Indexed8), "png"), "png", false},
        {"16-bit grey PNG", encodeImage(opaque.convertToFormat(QImage::Format_Grayscale16), "png"), "png", false},
        {"JPEG", encodeImage(opaque, "jpg"), "jpg", true},
    };
    QList<QUuid> ids;
    for (const auto& c : cases)
        ids.append(builder.addMaterial(c.payload, MaterialStatus::hanging, QString::fromLatin1(c.extension)).id);
    builder.writeState();
    MaterialStore store(builder.rootURL(), SystemFileOperations::shared(),
        StorageBudget{std::int64_t{1} << 40, std::int64_t{1} << 50, 0});
    MaterialLineStore lineStore(store);
    MemoryUserDefaults defaults;
    auto decodedFiles = std::make_shared<QSet<QString>>();
    auto mutex = std::make_shared<QMutex>();
    Line line(lineStore, defaults, [decodedFiles, mutex](const QUrl& url) {
        const QMutexLocker lock(mutex.get());
        decodedFiles->insert(url.fileName());
        return Thumbnails::makeThumbnail(url, Line::shelfThumbnailPixels);
    });
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const std::optional<ImageSource> source = ImageSource::create(cases[i].payload);
        ASSERT_TRUE(source);
        line.offerPicture(builder.material(ids[qsizetype(i)]).versions.first().sha256, source->decodeImage(0),
            source->typeIdentifier().value_or(QString()));
    }
    finish(line.load());
    ASSERT_TRUE(settlePictures(line));

    ASSERT_EQ(line.items->size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        const Pegged& card = line.items()[qsizetype(i)];
        ASSERT_EQ(card.id, ids[qsizetype(i)]);
        EXPECT_EQ(decodedFiles->contains(card.url.fileName()), cases[i].decodedAgain);
        const std::optional<QImage> expected = Thumbnails::makeThumbnail(card.url, Line::shelfThumbnailPixels);
        ASSERT_TRUE(expected);
        EXPECT_EQ(card.thumb.format(), expected->format());
        EXPECT_EQ(card.thumb.colorTable(), expected->colorTable());
        EXPECT_TRUE(card.thumb == *expected);
    }
}

} // namespace
} // namespace tolvex
