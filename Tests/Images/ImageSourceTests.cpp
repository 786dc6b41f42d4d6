#include "TolvexCore/Images/ImageSource.h"

#include "Support/ImageFixtures.h"

#include <QBuffer>
#include <QDir>
#include <QImageWriter>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentMap>

#include <gtest/gtest.h>

#include <system_error>

using namespace tolvex;
using namespace tolvex::test;
using Status = ImageSource::Status;

namespace {

struct Sample {
    const char* name;
    QByteArray bytes;
    const char* identifier;
    bool pattern = true; // holds patternImage, else a solid red image
};

// One complete image of every format an encoder here can write, 60 x 40.
std::vector<Sample> encodedSamples()
{
    const QImage image = patternImage(60, 40);
    std::vector<Sample> samples{
        {"png", encodeImage(image, "png"), "public.png"},
        {"jpeg", encodeImage(image, "jpeg", 90), "public.jpeg"},
        {"bmp", encodeImage(image, "bmp"), "com.microsoft.bmp"},
        {"tiff", encodeImage(image, "tiff"), "public.tiff"},
        {"webp", encodeImage(image, "webp", 80), "org.webmproject.webp"},
        {"gif", gifWithFrames(60, 40, {1}), "com.compuserve.gif", false},
    };
    const QByteArray heic = heicImage(image);
    if (!heic.isEmpty())
        samples.push_back({"heic", heic, "public.heic"});
    for (const Sample& sample : samples) {
        if (sample.bytes.isEmpty())
            ADD_FAILURE() << "no encoder for " << sample.name;
    }
    return samples;
}

QColor colourAt(const QImage& image, int x, int y)
{
    return image.pixelColor(x, y);
}

bool near(const QColor& a, const QColor& b, int tolerance = 40)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

TEST(ImageSourceTest, ReadsTypeStatusAndSizeOfEveryFormatFromBytesAndFiles)
{
    QTemporaryDir folder;
    for (const Sample& sample : encodedSamples()) {
        SCOPED_TRACE(sample.name);
        // The extension lies on purpose: the content decides the type.
        const QString path = writeFixture(folder, QStringLiteral("sample-%1.dat").arg(sample.name), sample.bytes);
        for (const auto& source : {ImageSource::create(sample.bytes), ImageSource::create(path)}) {
            ASSERT_TRUE(source.has_value());
            EXPECT_EQ(source->typeIdentifier(), QString::fromLatin1(sample.identifier));
            EXPECT_EQ(source->status(), Status::complete);
            EXPECT_EQ(source->imageCount(), 1);
            EXPECT_EQ(source->imageStatus(0), Status::complete);
            EXPECT_EQ(source->imageStatus(1), Status::invalid);
            EXPECT_EQ(source->pixelSize(0), (ImageSource::PixelSize{60, 40}));
            EXPECT_FALSE(source->pixelSize(1).has_value());
            EXPECT_TRUE(source->hasImage(0));
            EXPECT_FALSE(source->hasImage(1));
            EXPECT_FALSE(source->hasImage(-1));
            const QImage decoded = source->decodeImage(0);
            ASSERT_EQ(decoded.size(), QSize(60, 40));
            if (sample.pattern) {
                EXPECT_TRUE(near(colourAt(decoded, 5, 5), QColor(220, 20, 20)));
                EXPECT_TRUE(near(colourAt(decoded, 55, 5), QColor(20, 200, 20)));
                EXPECT_TRUE(near(colourAt(decoded, 5, 35), QColor(20, 20, 220)));
                EXPECT_TRUE(near(colourAt(decoded, 55, 35), QColor(255, 255, 255)));
            } else {
                EXPECT_TRUE(near(colourAt(decoded, 30, 20), QColor(255, 0, 0), 0));
            }
            EXPECT_TRUE(source->decodeImage(1).isNull());
        }
        EXPECT_TRUE(ImageSource::create(path)->isFile());
        EXPECT_FALSE(ImageSource::create(sample.bytes)->isFile());
    }
}

TEST(ImageSourceTest, MakesNoSourceForDataNoDecoderRecognises)
{
    QTemporaryDir folder;
    const QByteArray pdf("%PDF-1.7\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF\n");
    const QByteArray text("BMP is a format; this is only a sentence about it.");
    const QByteArray icon = encodeImage(patternImage(16, 16), "ico");
    for (const QByteArray& bytes : {QByteArray(), text, pdf, icon, QByteArray("\x89PNG", 4), QByteArray("\xFF\xD8", 2)}) {
        SCOPED_TRACE(bytes.left(8).toHex().constData());
        EXPECT_FALSE(ImageSource::create(bytes).has_value());
    }
    // A text file named like an image, an empty file, a folder, a missing file.
    EXPECT_FALSE(ImageSource::create(writeFixture(folder, QStringLiteral("note.png"), text)).has_value());
    EXPECT_FALSE(ImageSource::create(writeFixture(folder, QStringLiteral("empty.png"), {})).has_value());
    EXPECT_FALSE(ImageSource::create(folder.path()).has_value());
    EXPECT_FALSE(ImageSource::create(folder.filePath(QStringLiteral("missing.png"))).has_value());
    EXPECT_FALSE(ImageSource::open(folder.path()).has_value());
    try {
        ImageSource::open(folder.filePath(QStringLiteral("missing.png")));
        ADD_FAILURE() << "a missing file opened";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
}

TEST(ImageSourceTest, JudgesCutDataIncompleteInEveryFormat)
{
    QTemporaryDir folder;
    for (const Sample& sample : encodedSamples()) {
        const qsizetype size = sample.bytes.size();
        for (const qsizetype keep : {size - 1, size / 2, size * 3 / 4}) {
            SCOPED_TRACE(std::string(sample.name) + " cut to " + std::to_string(keep) + " of " + std::to_string(size));
            const QByteArray cut = sample.bytes.left(keep);
            const QString path = writeFixture(folder, QStringLiteral("cut-%1-%2").arg(sample.name).arg(keep), cut);
            for (const auto& source : {ImageSource::create(cut), ImageSource::create(path)}) {
                ASSERT_TRUE(source.has_value());
                EXPECT_EQ(source->status(), Status::incomplete);
                // A GIF cut only in its trailer keeps its one frame whole.
                if (std::string(sample.name) != "gif" || keep != size - 1) {
                    EXPECT_NE(source->imageStatus(0), Status::complete);
                }
            }
        }
    }
}

TEST(ImageSourceTest, ReportsClaimedSizesFromTheHeaderWithoutDecoding)
{
    struct Claim {
        const char* name;
        QByteArray bytes;
        std::int64_t width;
        std::int64_t height;
    };
    const std::vector<Claim> claims{
        {"png", craftedPng(100000, 100000), 100000, 100000},
        {"jpeg", jpegClaiming(65535, 65535), 65535, 65535},
        {"gif", gifClaiming(65535, 65535), 65535, 65535},
        {"bmp", bmpRleClaiming(100000, 100000), 100000, 100000},
        {"webp", webpClaiming(16384, 16384), 16384, 16384},
        {"tiff", tiffWithPages({TiffPage{100000, 100000, 8, QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)}}), 100000,
            100000},
    };
    for (const Claim& claim : claims) {
        SCOPED_TRACE(claim.name);
        const auto source = ImageSource::create(claim.bytes);
        ASSERT_TRUE(source.has_value());
        EXPECT_EQ(source->status(), Status::complete);
        EXPECT_EQ(source->imageStatus(0), Status::complete);
        EXPECT_EQ(source->pixelSize(0), (ImageSource::PixelSize{claim.width, claim.height}));
    }
    // Decoding such a claim is refused by the allocation limit instead of
    // reserving gigabytes.
    EXPECT_TRUE(ImageSource::create(craftedPng(100000, 100000))->decodeImage(0).isNull());
    EXPECT_TRUE(ImageSource::create(jpegClaiming(65535, 65535))->thumbnail(0, 64).isNull());
}

TEST(ImageSourceTest, PngNeedsAWholeChunkListEndingInIend)
{
    const QByteArray png = encodeImage(patternImage(20, 10), "png");
    // Bytes after IEND do not make the structure incomplete.
    EXPECT_EQ(ImageSource::create(png + QByteArray("junk"))->status(), Status::complete);
    // A damaged IHDR (its CRC no longer holds) is invalid, not incomplete.
    QByteArray damaged = png;
    damaged[17] = char(damaged[17] ^ 0x01);
    EXPECT_EQ(ImageSource::create(damaged)->status(), Status::invalid);
    // IEND with no IDAT before it: nothing to decode.
    const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    const auto empty = ImageSource::create(signature + pngHeader(4, 4) + pngChunk("IEND", {}));
    ASSERT_TRUE(empty.has_value());
    EXPECT_EQ(empty->status(), Status::invalid);
    EXPECT_FALSE(empty->hasImage(0));
    // The first 19 bytes: the header is not even there.
    const auto stub = ImageSource::create(png.left(19));
    ASSERT_TRUE(stub.has_value());
    EXPECT_EQ(stub->status(), Status::incomplete);
    EXPECT_EQ(stub->imageCount(), 0);
    EXPECT_FALSE(stub->pixelSize(0).has_value());
}

TEST(ImageSourceTest, JpegEndsWithEoiOrIsWalkedToIt)
{
    const QByteArray jpeg = encodeImage(patternImage(64, 48), "jpeg", 90);
    ASSERT_TRUE(jpeg.endsWith("\xFF\xD9"));
    // Padding after EOI, of zeros or of FF bytes, as some cameras write.
    EXPECT_EQ(ImageSource::create(jpeg + QByteArray(300, '\0'))->status(), Status::complete);
    EXPECT_EQ(ImageSource::create(jpeg + QByteArray(7, '\xFF'))->status(), Status::complete);
    // Data appended after the image (a trailer, a video) is walked past.
    static const char trailer[] = "\x00\x00\x00\x18" "ftypmp42 and some more data \xFF\xD8 not an end";
    const QByteArray appended = jpeg + QByteArray(trailer, sizeof trailer - 1);
    EXPECT_EQ(ImageSource::create(appended)->status(), Status::complete);
    QTemporaryDir folder;
    EXPECT_EQ(ImageSource::create(writeFixture(folder, QStringLiteral("appended.jpg"), appended))->status(),
        Status::complete);

    // An Exif thumbnail inside APP1 ends with FF D9 as well: a file cut right
    // after it must not pass for a whole one.
    const QByteArray thumbnail = encodeImage(patternImage(8, 8), "jpeg", 50);
    QByteArray app1("\xFF\xE1", 2);
    const int app1Length = int(6 + thumbnail.size() + 2);
    app1.append(char(app1Length >> 8)).append(char(app1Length & 0xFF)).append(QByteArray("Exif\0\0", 6)).append(thumbnail);
    const QByteArray withThumbnail = jpeg.left(2) + app1 + jpeg.mid(2);
    EXPECT_EQ(ImageSource::create(withThumbnail)->status(), Status::complete);
    const QByteArray cutAfterThumbnail = withThumbnail.left(2 + app1.size());
    ASSERT_TRUE(cutAfterThumbnail.endsWith("\xFF\xD9"));
    EXPECT_EQ(ImageSource::create(cutAfterThumbnail)->status(), Status::incomplete);

    // A progressive JPEG has many scans with tables between them; the walk
    // past appended data goes through all of them.
    QByteArray progressive;
    {
        QBuffer buffer(&progressive);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, "jpeg");
        writer.setProgressiveScanWrite(true);
        ASSERT_TRUE(writer.write(patternImage(64, 48)));
    }
    ASSERT_GT(progressive.count("\xFF\xDA"), 2);
    EXPECT_EQ(ImageSource::create(progressive)->status(), Status::complete);
    EXPECT_EQ(ImageSource::create(progressive + QByteArray(trailer, sizeof trailer - 1))->status(), Status::complete);
    // Cut between the scans, then with stray bytes after the cut.
    const qsizetype firstScan = progressive.indexOf("\xFF\xDA");
    const QByteArray halfway = progressive.left(firstScan + (progressive.size() - firstScan) / 2);
    EXPECT_EQ(ImageSource::create(halfway)->status(), Status::incomplete);
    EXPECT_NE(ImageSource::create(halfway + QByteArray(trailer, sizeof trailer - 1))->status(), Status::complete);

    // A lossless frame (SOF3) is a JPEG libjpeg cannot decode.
    QByteArray lossless = jpegClaiming(16, 16);
    lossless[3] = char(0xC3);
    EXPECT_EQ(ImageSource::create(lossless)->status(), Status::invalid);
    // A scan before any frame header is broken.
    EXPECT_EQ(ImageSource::create(QByteArray("\xFF\xD8\xFF\xDA\x00\x02\x11\xFF\xD9", 9))->status(), Status::invalid);
}

TEST(ImageSourceTest, GifIsWalkedToItsTrailerFrameByFrame)
{
    const QByteArray gif = gifWithFrames(30, 20, {1, 2, 3});
    const auto source = ImageSource::create(gif);
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->status(), Status::complete);
    ASSERT_EQ(source->imageCount(), 3);
    EXPECT_EQ(source->pixelSize(2), (ImageSource::PixelSize{30, 20}));
    EXPECT_TRUE(near(colourAt(source->decodeImage(0), 10, 10), QColor(255, 0, 0), 0));
    EXPECT_TRUE(near(colourAt(source->decodeImage(1), 10, 10), QColor(0, 255, 0), 0));
    EXPECT_TRUE(near(colourAt(source->decodeImage(2), 10, 10), QColor(0, 0, 255), 0));
    EXPECT_EQ(source->thumbnail(1, 15).size(), QSize(15, 10));

    // Cut inside the last frame: the earlier frames stay whole.
    const QByteArray cut = gif.left(gif.size() - 10);
    const auto partial = ImageSource::create(cut);
    ASSERT_TRUE(partial.has_value());
    EXPECT_EQ(partial->status(), Status::incomplete);
    ASSERT_EQ(partial->imageCount(), 3);
    EXPECT_EQ(partial->imageStatus(0), Status::complete);
    EXPECT_EQ(partial->imageStatus(2), Status::incomplete);
    // A cut that happens to end in 0x3B is still a cut.
    EXPECT_EQ(ImageSource::create(cut + QByteArray(1, 0x3B))->status(), Status::incomplete);
    // No frame at all before the trailer.
    EXPECT_EQ(ImageSource::create(gif.left(13 + 12) + QByteArray(1, 0x3B))->status(), Status::invalid);
}

TEST(ImageSourceTest, TiffChecksIfdsAndStripsAgainstTheData)
{
    const QByteArray twoPages = tiffWithPages({greyTiffPage(8, 6, 40), greyTiffPage(4, 3, 200)});
    const auto source = ImageSource::create(twoPages);
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->status(), Status::complete);
    ASSERT_EQ(source->imageCount(), 2);
    EXPECT_EQ(source->pixelSize(0), (ImageSource::PixelSize{8, 6}));
    EXPECT_EQ(source->pixelSize(1), (ImageSource::PixelSize{4, 3}));
    EXPECT_EQ(qGray(source->decodeImage(0).pixel(1, 1)), 40);
    const QImage second = source->decodeImage(1);
    ASSERT_EQ(second.size(), QSize(4, 3));
    EXPECT_EQ(qGray(second.pixel(1, 1)), 200);

    // The second page's strip reaches past the end: only that page suffers.
    TiffPage overlong = greyTiffPage(4, 3, 200);
    overlong.claimedStripBytes = 5000;
    const auto secondCut = ImageSource::create(tiffWithPages({greyTiffPage(8, 6, 40), overlong}));
    EXPECT_EQ(secondCut->status(), Status::complete);
    EXPECT_EQ(secondCut->imageStatus(0), Status::complete);
    EXPECT_EQ(secondCut->imageStatus(1), Status::incomplete);
    // The first page's strip cut short makes the source incomplete.
    EXPECT_EQ(ImageSource::create(twoPages.left(twoPages.size() - 13))->status(), Status::incomplete);
    // IFD0 beyond the data.
    QByteArray lost = twoPages;
    lost[4] = char(0xF0);
    lost[5] = char(0xFF);
    EXPECT_EQ(ImageSource::create(lost)->status(), Status::incomplete);
    // No IFD at all.
    EXPECT_EQ(ImageSource::create(QByteArray("II*\0\0\0\0\0", 8))->status(), Status::invalid);
}

TEST(ImageSourceTest, BmpAndWebpCompareTheirHeadersWithTheData)
{
    const QByteArray bmp = encodeImage(patternImage(10, 10), "bmp");
    // The file-size field is not trusted; the pixel array is.
    QByteArray zeroSize = bmp;
    zeroSize[2] = zeroSize[3] = zeroSize[4] = zeroSize[5] = '\0';
    EXPECT_EQ(ImageSource::create(zeroSize)->status(), Status::complete);
    EXPECT_EQ(ImageSource::create(bmp.left(bmp.size() - 1))->status(), Status::incomplete);
    QByteArray noPlanes = bmp;
    noPlanes[26] = '\0';
    EXPECT_EQ(ImageSource::create(noPlanes)->status(), Status::invalid);
    // A 56-byte info header is a BMP that Qt's reader does not take.
    QByteArray v3 = bmp.left(54) + QByteArray(16, '\0') + bmp.mid(54);
    v3[14] = char(56);
    v3[10] = char(54 + 16);
    const auto unreadable = ImageSource::create(v3);
    ASSERT_TRUE(unreadable.has_value());
    EXPECT_EQ(unreadable->status(), Status::invalid);
    EXPECT_FALSE(unreadable->hasImage(0));

    const QByteArray webp = encodeImage(patternImage(10, 10), "webp", 80);
    // A RIFF size larger than the data: cut; a chunk larger than the RIFF: broken.
    QByteArray longer = webp;
    longer[4] = char(std::uint8_t(longer[4]) + 2);
    EXPECT_EQ(ImageSource::create(longer)->status(), Status::incomplete);
    QByteArray overflowing = webp;
    overflowing[16] = char(std::uint8_t(overflowing[16]) + 100);
    EXPECT_EQ(ImageSource::create(overflowing)->status(), Status::invalid);
}

TEST(ImageSourceTest, HeicIsCheckedThroughItsBoxesAndItemLocations)
{
    const QByteArray heic = heicImage(patternImage(64, 48));
    if (heic.isEmpty())
        GTEST_SKIP() << "libheif has no HEVC encoder here";
    const auto source = ImageSource::create(heic);
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->typeIdentifier(), u"public.heic");
    EXPECT_EQ(source->status(), Status::complete);
    EXPECT_EQ(source->pixelSize(0), (ImageSource::PixelSize{64, 48}));
    EXPECT_EQ(source->thumbnail(0, 32).size(), QSize(32, 24));
    // Cut anywhere in the media data: some item reaches past the end.
    for (qsizetype keep : {heic.size() - 1, heic.size() - 100}) {
        const auto cut = ImageSource::create(heic.left(keep));
        ASSERT_TRUE(cut.has_value());
        EXPECT_EQ(cut->status(), Status::incomplete);
    }
    // With the media-data box running "to the end of the file" (size 0) the
    // box walk cannot see a cut; the item locations still do.
    const qsizetype mdat = heic.indexOf("mdat");
    ASSERT_GT(mdat, 4);
    QByteArray open = heic;
    open.replace(mdat - 4, 4, QByteArray(4, '\0'));
    EXPECT_EQ(ImageSource::create(open)->status(), Status::complete);
    EXPECT_EQ(ImageSource::create(open.left(open.size() - 1))->status(), Status::incomplete);
    QTemporaryDir folder;
    const QString cutPath = writeFixture(folder, QStringLiteral("cut.heic"), open.left(open.size() - 100));
    EXPECT_EQ(ImageSource::create(cutPath)->status(), Status::incomplete);
    EXPECT_EQ(ImageSource::create(writeFixture(folder, QStringLiteral("whole.heic"), heic))->decodeImage(0).size(),
        QSize(64, 48));
    // Not a HEIF brand: an MP4 file type box names no image.
    QByteArray video = heic;
    video.replace(8, 4, "isom");
    for (qsizetype at = 16; at + 4 <= 24; at += 4)
        video.replace(at, 4, "mp42");
    EXPECT_FALSE(ImageSource::create(video).has_value());
}

TEST(ImageSourceTest, AvifIsReadThroughTheSameContainer)
{
    const QByteArray avif = avifImage(patternImage(40, 30));
    if (avif.isEmpty())
        GTEST_SKIP() << "libheif has no AV1 encoder here";
    const auto source = ImageSource::create(avif);
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->typeIdentifier(), u"public.avif");
    EXPECT_EQ(source->status(), Status::complete);
    EXPECT_EQ(source->pixelSize(0), (ImageSource::PixelSize{40, 30}));
    const QImage decoded = source->decodeImage(0);
    ASSERT_EQ(decoded.size(), QSize(40, 30));
    EXPECT_TRUE(near(colourAt(decoded, 3, 3), QColor(220, 20, 20)));
    EXPECT_EQ(ImageSource::create(avif.left(avif.size() - 1))->status(), Status::incomplete);
}

TEST(ImageSourceTest, ThumbnailsKeepTheAspectAndApplyTheOrientation)
{
    QTemporaryDir folder;
    const QByteArray png = encodeImage(patternImage(400, 200), "png");
    const QByteArray jpeg = encodeImage(patternImage(1000, 600), "jpeg", 85);
    for (const auto& source : {ImageSource::create(png), ImageSource::create(writeFixture(folder, "t.png", png))}) {
        EXPECT_EQ(source->thumbnail(0, 100).size(), QSize(100, 50));
        EXPECT_EQ(source->thumbnail(0, 1).size(), QSize(1, 1));
        EXPECT_EQ(source->thumbnail(0, 480).size(), QSize(400, 200)); // never scaled up
        EXPECT_TRUE(source->thumbnail(0, 0).isNull());
        EXPECT_TRUE(source->thumbnail(0, -5).isNull());
        EXPECT_TRUE(source->thumbnail(1, 100).isNull());
    }
    for (const auto& source : {ImageSource::create(jpeg), ImageSource::create(writeFixture(folder, "t.jpg", jpeg))}) {
        const QImage small = source->thumbnail(0, 64);
        EXPECT_EQ(small.size(), QSize(64, 38));
        EXPECT_TRUE(near(colourAt(small, 5, 5), QColor(220, 20, 20)));
    }

    // Orientation 6: stored 200 x 100, shown 100 x 200, red corner at top right.
    const QByteArray rotated = jpegWithOrientation(patternImage(200, 100), 6);
    const auto source = ImageSource::create(rotated);
    ASSERT_TRUE(source.has_value());
    EXPECT_EQ(source->status(), Status::complete);
    EXPECT_EQ(source->pixelSize(0), (ImageSource::PixelSize{200, 100}));
    const QImage full = source->decodeImage(0);
    ASSERT_EQ(full.size(), QSize(100, 200));
    EXPECT_TRUE(near(colourAt(full, 90, 10), QColor(220, 20, 20)));
    const QImage thumb = source->thumbnail(0, 50);
    ASSERT_EQ(thumb.size(), QSize(25, 50));
    EXPECT_TRUE(near(colourAt(thumb, 22, 3), QColor(220, 20, 20)));
}

TEST(ImageSourceTest, OneSourceServesManyThreadsAtOnce)
{
    QTemporaryDir folder;
    const QByteArray jpeg = encodeImage(patternImage(300, 200), "jpeg", 90);
    const QByteArray gif = gifWithFrames(40, 30, {1, 2});
    const std::vector<std::optional<ImageSource>> sources{ImageSource::create(jpeg),
        ImageSource::create(writeFixture(folder, "shared.jpg", jpeg)), ImageSource::create(gif),
        ImageSource::create(writeFixture(folder, "shared.gif", gif))};
    for (const auto& source : sources)
        ASSERT_TRUE(source.has_value());

    QList<int> jobs;
    for (int i = 0; i < 64; ++i)
        jobs.append(i);
    const QList<QImage> results = QtConcurrent::blockingMapped(jobs, [&](int job) {
        const ImageSource& source = *sources[std::size_t(job % 4)];
        return (job / 4) % 2 ? source.thumbnail(source.imageCount() - 1, 50) : source.decodeImage(0);
    });
    for (int job = 0; job < results.size(); ++job) {
        const ImageSource& source = *sources[std::size_t(job % 4)];
        const QImage expected = (job / 4) % 2 ? source.thumbnail(source.imageCount() - 1, 50) : source.decodeImage(0);
        ASSERT_FALSE(expected.isNull());
        EXPECT_EQ(results[job], expected) << "job " << job;
    }
}

TEST(ImageSourceTest, SurvivesEveryCutAndEveryDamagedByte)
{
    // Small files, so that every prefix and every single-byte damage can be
    // tried: nothing may crash or read out of bounds, and no prefix of a
    // format whose end is marked may pass for a whole file.
    const QImage image = patternImage(16, 12);
    std::vector<Sample> samples{
        {"png", encodeImage(image, "png"), "public.png"},
        {"jpeg", encodeImage(image, "jpeg", 50), "public.jpeg"},
        {"bmp", encodeImage(image, "bmp"), "com.microsoft.bmp"},
        {"webp", encodeImage(image, "webp", 50), "org.webmproject.webp"},
        {"gif", gifWithFrames(16, 12, {1, 2}), "com.compuserve.gif"},
        {"tiff", tiffWithPages({greyTiffPage(4, 4, 1), greyTiffPage(3, 3, 2)}), "public.tiff"},
        {"tiff-qt", encodeImage(image, "tiff"), "public.tiff"},
    };
    const QByteArray heic = heicImage(image);
    if (!heic.isEmpty())
        samples.push_back({"heic", heic, "public.heic"});
    for (const Sample& sample : samples) {
        SCOPED_TRACE(sample.name);
        ASSERT_FALSE(sample.bytes.isEmpty());
        // A TIFF's completeness rests on its first page, wherever that lies.
        const bool endIsMarked = std::string(sample.name).rfind("tiff", 0) != 0;
        for (qsizetype keep = 0; keep < sample.bytes.size(); ++keep) {
            const auto source = ImageSource::create(sample.bytes.left(keep));
            if (source && endIsMarked && source->status() == Status::complete)
                ADD_FAILURE() << "a prefix of " << keep << " bytes passed for whole";
        }
        for (qsizetype at = 0; at < sample.bytes.size(); ++at) {
            QByteArray damaged = sample.bytes;
            damaged[at] = char(damaged[at] ^ 0xA5);
            if (const auto source = ImageSource::create(damaged)) {
                source->imageCount();
                source->pixelSize(0);
            }
        }
    }
}
