#include "Intake/CaptureTesting.h"

#include "Support/ImageFixtures.h"
#include "Velmarin/Intake/CaptureMonitor.h"

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <optional>

#include <sys/xattr.h>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

QByteArray png()
{
    static const QByteArray bytes = test::encodeImage(test::patternImage(40, 30), "png");
    return bytes;
}

class CaptureMonitorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temporary.isValid());
        folder = temporary.filePath(QStringLiteral("shots"));
        ASSERT_TRUE(QDir().mkpath(folder));
    }

    // Points `folder` at one whose file system keeps user attributes: the
    // temporary folder's, else one in the build tree (tmpfs before Linux 6.6
    // keeps none). False when neither does.
    bool useFolderKeepingUserAttributes()
    {
        const auto keeps = [](const QString& dir) {
            const QString probe = dir + QStringLiteral("/probe");
            writeFile(probe, "x");
            const bool kept = ::setxattr(QFile::encodeName(probe).constData(), CaptureProbe::screenCaptureAttribute,
                                  "1", 1, 0)
                == 0;
            QFile::remove(probe);
            return kept;
        };
        if (keeps(folder))
            return true;
        buildTree.emplace(QCoreApplication::applicationDirPath() + QStringLiteral("/attributes-XXXXXX"));
        if (!buildTree->isValid() || !keeps(buildTree->path()))
            return false;
        folder = buildTree->path();
        return true;
    }

    QString at(const QString& name) const { return folder + QLatin1Char('/') + name; }
    QUrl url(const QString& name) const { return QUrl::fromLocalFile(at(name)); }

    void start(bool onlyTagged = false)
    {
        monitor.start(
            QUrl::fromLocalFile(folder), onlyTagged, [this](const QUrl& url) { ready.append(url.fileName()); },
            [this](const QUrl& url) { failed.append(url.fileName()); }, {});
    }

    QTemporaryDir temporary;
    std::optional<QTemporaryDir> buildTree;
    QString folder;
    CaptureMonitor monitor;
    QStringList ready;
    QStringList failed;
};

} // namespace

TEST_F(CaptureMonitorTest, EveryNewWholeImageIsReportedOnceAndNothingElse)
{
    writeFile(at(QStringLiteral("old.png")), png());
    start();

    // Present at start, then changed: still never reported.
    writeFile(at(QStringLiteral("old.png")), png() + png());
    // Written in three chunks with pauses, as a slow writer does.
    const QByteArray image = png();
    const qsizetype third = image.size() / 3;
    writeFile(at(QStringLiteral("chunks.png")), image.left(third));
    spinFor(250);
    writeFile(at(QStringLiteral("chunks.png")), image.mid(third, third), QIODevice::Append);
    spinFor(250);
    writeFile(at(QStringLiteral("chunks.png")), image.mid(2 * third), QIODevice::Append);
    // A tool that writes a hidden file and renames it into place.
    writeFile(at(QStringLiteral(".tmp-shot")), png());
    ASSERT_TRUE(QFile::rename(at(QStringLiteral(".tmp-shot")), at(QStringLiteral("renamed.png"))));
    writeFile(at(QStringLiteral("UPPER.PNG")), png());
    writeFile(at(QStringLiteral("page.pdf")), png());

    const QStringList expected{QStringLiteral("UPPER.PNG"), QStringLiteral("chunks.png"), QStringLiteral("renamed.png")};
    ASSERT_TRUE(waitUntil([&] { return ready.size() >= 3; })) << ready.join(u',').toStdString();
    spinFor(600);
    ready.sort();
    EXPECT_EQ(ready, expected);
    EXPECT_TRUE(failed.isEmpty());
    EXPECT_TRUE(monitor.waitingURLs().isEmpty());

    // An import that failed is seen again through a retry; one that succeeded never is.
    monitor.acknowledge(url(QStringLiteral("renamed.png")), false);
    monitor.retry(url(QStringLiteral("renamed.png")));
    ASSERT_TRUE(waitUntil([&] { return ready.size() == 4; }));
    EXPECT_EQ(ready.last(), QStringLiteral("renamed.png"));
    monitor.acknowledge(url(QStringLiteral("renamed.png")), true);
    monitor.retry(url(QStringLiteral("renamed.png")));
    writeFile(at(QStringLiteral("renamed.png")), png() + "changed");
    spinFor(600);
    EXPECT_EQ(ready.size(), 4);
}

TEST_F(CaptureMonitorTest, AWaitingFileThatCanNoLongerBeTakenIsForgotten)
{
    start();
    const QString outside = temporary.filePath(QStringLiteral("outside.png"));
    writeFile(outside, png());
    const std::vector<std::pair<const char*, std::function<void(const QString&)>>> replacements{
        {"a link", [&](const QString& path) { ASSERT_TRUE(QFile::link(outside, path)); }},
        {"a folder", [&](const QString& path) { ASSERT_TRUE(QDir().mkdir(path)); }},
    };
    for (const auto& [name, replace] : replacements) {
        const QString path = at(QStringLiteral("shot-%1.png").arg(QString::fromLatin1(name).split(u' ').last()));
        // Cut short: never decodable, so it keeps waiting.
        writeFile(path, png().left(30));
        ASSERT_TRUE(waitUntil([&] { return monitor.waitingURLs().contains(QUrl::fromLocalFile(path)); })) << name;
        ASSERT_TRUE(QFile::remove(path));
        replace(path);
        EXPECT_TRUE(waitUntil([&] { return monitor.waitingURLs().isEmpty(); })) << name;
    }
    EXPECT_TRUE(ready.isEmpty());
    EXPECT_TRUE(failed.isEmpty());
}

TEST_F(CaptureMonitorTest, AFileThatNeverCompletesFailsOnceAndStartsAfreshWhenItChanges)
{
    start();
    const QByteArray jpeg = test::encodeImage(test::patternImage(64, 48), "jpeg");
    writeFile(at(QStringLiteral("cut.jpg")), jpeg.left(jpeg.size() / 2));
    ASSERT_TRUE(waitUntil([&] { return !failed.isEmpty(); }, 15000));
    spinFor(500);
    EXPECT_EQ(failed, QStringList{QStringLiteral("cut.jpg")});
    EXPECT_TRUE(ready.isEmpty());

    writeFile(at(QStringLiteral("cut.jpg")), jpeg);
    monitor.retry(url(QStringLiteral("cut.jpg")));
    ASSERT_TRUE(waitUntil([&] { return !ready.isEmpty(); }));
    EXPECT_EQ(ready, QStringList{QStringLiteral("cut.jpg")});
    EXPECT_EQ(failed.size(), 1);
}

TEST_F(CaptureMonitorTest, WhereOnlyMarkedCapturesCountUnmarkedImagesAreNeverReported)
{
    if (!useFolderKeepingUserAttributes())
        GTEST_SKIP() << "neither the temporary folder's nor the build tree's file system keeps user attributes";
    start(/*onlyTagged=*/true);
    writeFile(at(QStringLiteral("plain.png")), png());
    writeFile(at(QStringLiteral("marked.png")), png());
    ASSERT_EQ(::setxattr(QFile::encodeName(at(QStringLiteral("marked.png"))).constData(),
                  CaptureProbe::screenCaptureAttribute, "1", 1, 0),
        0);
    ASSERT_TRUE(waitUntil([&] { return !ready.isEmpty(); }));
    spinFor(500);
    EXPECT_EQ(ready, QStringList{QStringLiteral("marked.png")});
}
