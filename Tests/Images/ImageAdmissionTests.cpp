#include "TolvexCore/Images/ImageAdmission.h"

#include "TolvexCore/Images/ImageSource.h"

#include "Support/ImageFixtures.h"

#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentMap>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

#include <limits>
#include <optional>
#include <system_error>

#include <sys/stat.h>
#include <unistd.h>

using namespace tolvex;
using namespace tolvex::test;
using Code = ImageAdmissionError::Code;

namespace {

// nullopt when admitted, else the refusal's code.
template <typename Argument>
std::optional<Code> refusal(const Argument& argument)
{
    try {
        ImageAdmission::validate(argument);
        return std::nullopt;
    } catch (const ImageAdmissionError& error) {
        return error.code();
    }
}

std::optional<Code> refusal(std::int64_t width, std::int64_t height)
{
    try {
        ImageAdmission::validate(width, height);
        return std::nullopt;
    } catch (const ImageAdmissionError& error) {
        return error.code();
    }
}

QUrl fileUrl(const QString& path)
{
    return QUrl::fromLocalFile(path);
}

constexpr std::optional<Code> admitted = std::nullopt;

struct Named {
    const char* name;
    QByteArray bytes;
};

std::vector<Named> completeImages()
{
    const QImage image = patternImage(48, 32);
    std::vector<Named> images{
        {"png", encodeImage(image, "png")},
        {"jpeg", encodeImage(image, "jpeg", 90)},
        {"bmp", encodeImage(image, "bmp")},
        {"tiff", encodeImage(image, "tiff")},
        {"webp", encodeImage(image, "webp", 90)},
        {"gif", gifWithFrames(48, 32, {2, 3})},
    };
    const QByteArray heic = heicImage(image);
    if (!heic.isEmpty())
        images.push_back({"heic", heic});
    return images;
}

} // namespace

TEST(ImageAdmissionTest, AdmitsCompleteImagesOfEveryFormatInMemoryAndOnDisk)
{
    QTemporaryDir folder;
    for (const Named& image : completeImages()) {
        SCOPED_TRACE(image.name);
        ASSERT_FALSE(image.bytes.isEmpty());
        EXPECT_EQ(refusal(image.bytes), admitted);
        const QString path = writeFixture(folder, QStringLiteral("image.%1").arg(image.name), image.bytes);
        EXPECT_EQ(refusal(fileUrl(path)), admitted);
        // The local host name of the file scheme is the same machine.
        QUrl localhost = fileUrl(path);
        localhost.setHost(QStringLiteral("localhost"));
        EXPECT_EQ(refusal(localhost), admitted);
    }
    // A complete JPEG needs no trailer test, padding after its end included.
    EXPECT_EQ(refusal(encodeImage(patternImage(20, 20), "jpeg") + QByteArray(64, '\0')), admitted);
}

TEST(ImageAdmissionTest, AppliesThePixelBudgetAtItsEdges)
{
    QTemporaryDir folder;
    // Exactly 33,554,432 pixels pass; one more column does not. Never decoded,
    // so a header with a tiny IDAT is enough.
    const QByteArray atBudget = craftedPng(8192, 4096);
    const QByteArray overBudget = craftedPng(8193, 4096);
    EXPECT_EQ(refusal(atBudget), admitted);
    EXPECT_EQ(refusal(fileUrl(writeFixture(folder, "at.png", atBudget))), admitted);
    EXPECT_EQ(refusal(overBudget), Code::pixelBudgetExceeded);
    EXPECT_EQ(refusal(fileUrl(writeFixture(folder, "over.png", overBudget))), Code::pixelBudgetExceeded);
    // The budget counts pixels whatever the shape (a TIFF takes any side).
    const QByteArray deflated("\x78\x9c\x03\x00\x00\x00\x00\x01", 8);
    EXPECT_EQ(refusal(tiffWithPages({TiffPage{33554432, 1, 8, deflated}})), admitted);
    EXPECT_EQ(refusal(tiffWithPages({TiffPage{1, 33554433, 8, deflated}})), Code::pixelBudgetExceeded);
    // The budget is checked before the decoder's limits on one side.
    EXPECT_EQ(refusal(craftedPng(1, 33554433)), Code::pixelBudgetExceeded);

    // Few pixels, but a side no decoder here takes: refused as undecodable.
    EXPECT_EQ(refusal(craftedPng(1000000, 1)), admitted);
    EXPECT_EQ(refusal(craftedPng(1000001, 1)), Code::invalidImage);
    EXPECT_EQ(refusal(jpegClaiming(65500, 1)), admitted);
    EXPECT_EQ(refusal(jpegClaiming(65501, 1)), Code::invalidImage);
    EXPECT_EQ(refusal(webpClaiming(16384, 1)), admitted);
    EXPECT_EQ(refusal(webpClaiming(16385, 1)), Code::invalidImage);

    EXPECT_EQ(refusal(0, 10), Code::invalidImage);
    EXPECT_EQ(refusal(10, 0), Code::invalidImage);
    EXPECT_EQ(refusal(-4, -4), Code::invalidImage);
    EXPECT_EQ(refusal(std::numeric_limits<std::int64_t>::max(), 2), Code::pixelBudgetExceeded);
    EXPECT_EQ(refusal(std::int64_t(1) << 32, std::int64_t(1) << 32), Code::pixelBudgetExceeded);
    EXPECT_EQ(refusal(8192, 4096), admitted);
    EXPECT_EQ(refusal(8193, 4096), Code::pixelBudgetExceeded);
    EXPECT_EQ(refusal(1, 1), admitted);
    EXPECT_EQ(ImageAdmission::pixelBudget, 33554432);
}

TEST(ImageAdmissionTest, RefusesDecompressionBombsFromTheirHeaders)
{
    QTemporaryDir folder;
    const std::vector<Named> bombs{
        {"png", craftedPng(100000, 100000)},
        {"jpeg", jpegClaiming(65535, 65535)},
        {"gif", gifClaiming(65535, 65535)},
        {"bmp", bmpRleClaiming(100000, 100000)},
        {"webp", webpClaiming(16384, 16384)},
        {"tiff", tiffWithPages({TiffPage{100000, 100000, 8, QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)}})},
    };
    for (const Named& bomb : bombs) {
        SCOPED_TRACE(bomb.name);
        // Each is a few dozen bytes claiming billions of pixels.
        EXPECT_LT(bomb.bytes.size(), 200);
        EXPECT_EQ(refusal(bomb.bytes), Code::pixelBudgetExceeded);
        EXPECT_EQ(refusal(fileUrl(writeFixture(folder, QStringLiteral("bomb.%1").arg(bomb.name), bomb.bytes))),
            Code::pixelBudgetExceeded);
    }
    // A header claiming a size within the budget is admitted the same way.
    EXPECT_EQ(refusal(jpegClaiming(8192, 4096)), admitted);
    EXPECT_EQ(refusal(jpegClaiming(8193, 4096)), Code::pixelBudgetExceeded);
}

TEST(ImageAdmissionTest, HeadersThatUnderstateWhatTheDecoderMakesAreJudgedByTheDecodersSize)
{
    // The logical screen is 65,535 wide and 0 high: the decoder takes the
    // width from the screen and only the height from the first frame.
    QByteArray gifOneZeroSide = gifWithFrames(1, 1000, {1});
    gifOneZeroSide[6] = char(0xFF);
    gifOneZeroSide[7] = char(0xFF);
    gifOneZeroSide[8] = gifOneZeroSide[9] = 0;
    QByteArray gifSmallScreen = gifOneZeroSide;
    gifSmallScreen[6] = 1;
    gifSmallScreen[7] = 0;

    const struct {
        const char* name;
        QByteArray bytes;
        std::optional<Code> expected;
    } cases[] = {
        {"gif, one zero side of the screen", gifOneZeroSide, Code::pixelBudgetExceeded},
        {"gif, screen as narrow as the frame", gifSmallScreen, admitted},
        {"tiff, a second ImageWidth tag", tiffWithRepeatedWidth(11000, 4096, 8), Code::invalidImage},
        {"tiff, one ImageWidth tag", tiffWithPages({greyTiffPage(8, 64, 3)}), admitted},
        {"heic, ispe far below the coded picture", heicClaiming(64, 64, 16384, 8192), Code::pixelBudgetExceeded},
        {"heic, ispe and coded picture alike", heicClaiming(64, 64, 64, 64), admitted},
    };
    QTemporaryDir folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(refusal(c.bytes), c.expected);
        EXPECT_EQ(refusal(fileUrl(writeFixture(folder, QStringLiteral("lying"), c.bytes))), c.expected);
        QFile::remove(folder.filePath(QStringLiteral("lying")));
        // Whatever admission said, no decode goes beyond the budget.
        if (const std::optional<ImageSource> source = ImageSource::create(c.bytes)) {
            const QImage image = source->decodeImage(0);
            EXPECT_LE(std::int64_t(image.width()) * image.height(), ImageAdmission::pixelBudget);
        }
    }
}

TEST(ImageAdmissionTest, RefusesPngsThatDoNotEndWithTheIendTrailer)
{
    QTemporaryDir folder;
    const QByteArray png = encodeImage(patternImage(30, 30), "png");
    const QByteArray cut = png.left(png.size() - 1);
    EXPECT_EQ(refusal(cut), Code::invalidImage);
    EXPECT_EQ(refusal(fileUrl(writeFixture(folder, "cut.png", cut))), Code::invalidImage);
    EXPECT_EQ(refusal(png.left(19)), Code::invalidImage);
    EXPECT_EQ(refusal(fileUrl(writeFixture(folder, "stub.png", png.left(19)))), Code::invalidImage);
    // Whole chunks followed by stray bytes: the structure is complete, but
    // the data does not end as a PNG ends.
    const QByteArray trailing = png + QByteArray("\0", 1);
    ASSERT_EQ(ImageSource::create(trailing)->status(), ImageSource::Status::complete);
    EXPECT_EQ(refusal(trailing), Code::invalidImage);
    EXPECT_EQ(refusal(fileUrl(writeFixture(folder, "trailing.png", trailing))), Code::invalidImage);
}

TEST(ImageAdmissionTest, RefusesCutImagesOfEveryFormatAsInvalid)
{
    QTemporaryDir folder;
    for (const Named& image : completeImages()) {
        for (const qsizetype keep : {image.bytes.size() - 1, image.bytes.size() / 2}) {
            SCOPED_TRACE(std::string(image.name) + " cut to " + std::to_string(keep));
            const QByteArray cut = image.bytes.left(keep);
            EXPECT_EQ(refusal(cut), Code::invalidImage);
            EXPECT_EQ(refusal(fileUrl(writeFixture(folder, QStringLiteral("cut%1.%2").arg(keep).arg(image.name), cut))),
                Code::invalidImage);
        }
    }
}

TEST(ImageAdmissionTest, RefusesWhatIsNoImage)
{
    QTemporaryDir folder;
    const QByteArray text("just some words, not a picture\n");
    EXPECT_EQ(refusal(QByteArray()), Code::invalidImage);
    EXPECT_EQ(refusal(text), Code::invalidImage);
    EXPECT_EQ(refusal(QByteArray("%PDF-1.4\n%%EOF\n")), Code::invalidImage);
    EXPECT_EQ(refusal(fileUrl(writeFixture(folder, "words.png", text))), Code::invalidImage);
    EXPECT_EQ(refusal(fileUrl(writeFixture(folder, "empty.png", {}))), Code::invalidImage);
    EXPECT_EQ(refusal(fileUrl(folder.path())), Code::invalidImage);
    // A FIFO named like an image is refused at once instead of blocking on
    // a writer that never comes.
    const QString fifo = folder.filePath(QStringLiteral("pipe.png"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(refusal(fileUrl(fifo)), Code::invalidImage);
    // A broken header of a known format.
    QByteArray damaged = encodeImage(patternImage(8, 8), "png");
    damaged[20] = char(damaged[20] ^ 0x40);
    EXPECT_EQ(refusal(damaged), Code::invalidImage);
}

TEST(ImageAdmissionTest, AcceptsOnlyLocalFileUrls)
{
    QTemporaryDir folder;
    const QString path = writeFixture(folder, "local.png", encodeImage(patternImage(8, 8), "png"));
    // The same path on another host is refused without being opened.
    QUrl remote = fileUrl(path);
    remote.setHost(QStringLiteral("example.com"));
    EXPECT_EQ(refusal(remote), Code::invalidImage);
    EXPECT_EQ(refusal(QUrl(QStringLiteral("https://example.com") + path)), Code::invalidImage);
    EXPECT_EQ(refusal(QUrl(QStringLiteral("file:local.png"))), Code::invalidImage);
    EXPECT_EQ(refusal(QUrl()), Code::invalidImage);
    EXPECT_EQ(refusal(QUrl(QStringLiteral("FILE://LOCALHOST") + path)), admitted);
    // Names that need escaping in a URL reach the right file.
    const QString awkward = writeFixture(folder, QStringLiteral("shot 100% \u00fc#1?.png"), encodeImage(patternImage(8, 8), "png"));
    EXPECT_EQ(refusal(fileUrl(awkward)), admitted);
    // File-system errors pass as themselves.
    try {
        ImageAdmission::validate(fileUrl(folder.filePath(QStringLiteral("missing.png"))));
        ADD_FAILURE() << "a missing file was admitted";
    } catch (const std::system_error& error) {
        EXPECT_EQ(error.code().value(), ENOENT);
    }
    if (::geteuid() != 0) {
        const QString locked = writeFixture(folder, "locked.png", encodeImage(patternImage(8, 8), "png"));
        ASSERT_EQ(::chmod(QFile::encodeName(locked).constData(), 0), 0);
        try {
            ImageAdmission::validate(fileUrl(locked));
            ADD_FAILURE() << "an unreadable file was admitted";
        } catch (const std::system_error& error) {
            EXPECT_EQ(error.code().value(), EACCES);
        }
    }
}

TEST(ImageAdmissionTest, ExaminesOnlyTheFirstImage)
{
    QTemporaryDir folder;
    // The second page's strip lies past the end; the first page is whole.
    TiffPage broken = greyTiffPage(4, 4, 9);
    broken.claimedStripBytes = 1 << 20;
    const QByteArray secondBroken = tiffWithPages({greyTiffPage(4, 4, 1), broken});
    EXPECT_EQ(refusal(secondBroken), admitted);
    EXPECT_EQ(refusal(fileUrl(writeFixture(folder, "pages.tiff", secondBroken))), admitted);
    // A second page over the budget does not count either.
    TiffPage huge{90000, 90000, 8, QByteArray("\x78\x9c\x03\x00\x00\x00\x00\x01", 8)};
    EXPECT_EQ(refusal(tiffWithPages({greyTiffPage(4, 4, 1), huge})), admitted);
    // The first page broken is refused whatever follows.
    EXPECT_EQ(refusal(tiffWithPages({broken, greyTiffPage(4, 4, 1)})), Code::invalidImage);
    EXPECT_EQ(refusal(tiffWithPages({huge, greyTiffPage(4, 4, 1)})), Code::pixelBudgetExceeded);
}

TEST(ImageAdmissionTest, ErrorsCompareHashAndCrossFutures)
{
    EXPECT_EQ(ImageAdmissionError::invalidImage(), ImageAdmissionError(Code::invalidImage));
    EXPECT_FALSE(ImageAdmissionError::invalidImage() == ImageAdmissionError::pixelBudgetExceeded());
    const QSet<ImageAdmissionError> set{ImageAdmissionError::invalidImage(), ImageAdmissionError::pixelBudgetExceeded(),
        ImageAdmissionError::invalidImage()};
    EXPECT_EQ(set.size(), 2);
    EXPECT_STREQ(ImageAdmissionError::invalidImage().what(), "invalidImage");
    EXPECT_STREQ(ImageAdmissionError::pixelBudgetExceeded().what(), "pixelBudgetExceeded");
    EXPECT_EQ(static_cast<int>(Code::invalidImage), 0);
    EXPECT_EQ(static_cast<int>(Code::pixelBudgetExceeded), 1);

    // Thrown on a worker, caught as itself after the future.
    QFuture<void> future = QtConcurrent::run([] { ImageAdmission::validate(craftedPng(9000, 9000)); });
    try {
        future.waitForFinished();
        ADD_FAILURE() << "no error crossed the future";
    } catch (const ImageAdmissionError& error) {
        EXPECT_EQ(error.code(), Code::pixelBudgetExceeded);
    }
}

TEST(ImageAdmissionTest, IsCallableFromManyThreadsAtOnce)
{
    QTemporaryDir folder;
    struct Case {
        QByteArray bytes;
        QUrl url;
        std::optional<Code> expected;
    };
    std::vector<Case> cases;
    int index = 0;
    const auto add = [&](const QByteArray& bytes, std::optional<Code> expected) {
        const QString path = writeFixture(folder, QStringLiteral("case%1").arg(index++), bytes);
        cases.push_back({bytes, fileUrl(path), expected});
    };
    for (const Named& image : completeImages()) {
        add(image.bytes, admitted);
        add(image.bytes.left(image.bytes.size() - 1), Code::invalidImage);
    }
    add(craftedPng(100000, 400), Code::pixelBudgetExceeded);
    add(jpegClaiming(9000, 9000), Code::pixelBudgetExceeded);

    QList<int> jobs;
    for (int i = 0; i < 200; ++i)
        jobs.append(i);
    // Each job answers -1 when both forms gave the expected verdict, else its case.
    const QList<int> answers = QtConcurrent::blockingMapped(jobs, [&](int job) {
        const std::size_t which = std::size_t(job) % cases.size();
        const Case& c = cases[which];
        return (refusal(c.bytes) == c.expected && refusal(c.url) == c.expected) ? -1 : int(which);
    });
    for (int answer : answers)
        EXPECT_EQ(answer, -1) << "case " << answer << " answered differently on a worker";
}
