#include "Intake/CaptureTesting.h"

#include "TolvexCore/Model/StoreError.h"
#include "Velmarin/Platform/DirectoryObservation.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>


using namespace tolvex;
using namespace tolvex::testing;

namespace {

QStringList names(const DirectoryObservation::Listing& listing)
{
    QStringList result;
    for (const QUrl& url : listing)
        result.append(url.fileName());
    result.sort();
    return result;
}

class DirectoryObservationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(temporary.isValid());
        watched = temporary.filePath(QStringLiteral("shots"));
        ASSERT_TRUE(QDir().mkpath(watched));
    }

    void start(const std::function<void()>& afterBaseline = {})
    {
        observation.start(
            QUrl::fromLocalFile(watched), [this](const auto& listing) { baseline = names(listing); }, afterBaseline,
            [this](const auto& listing) { scans.append(names(listing)); }, [this] { ++invalidations; });
    }

    QTemporaryDir temporary;
    QString watched;
    DirectoryObservation observation;
    QStringList baseline;
    QList<QStringList> scans;
    int invalidations = 0;
};

} // namespace

TEST_F(DirectoryObservationTest, RefusesALinkToAFolderAndAFile)
{
    ASSERT_TRUE(QFile::link(watched, temporary.filePath(QStringLiteral("link"))));
    writeFile(temporary.filePath(QStringLiteral("plain.png")), "x");
    for (const QString& name : {QStringLiteral("link"), QStringLiteral("plain.png")}) {
        try {
            observation.start(QUrl::fromLocalFile(temporary.filePath(name)), {}, {}, {}, {});
            ADD_FAILURE() << name.toStdString() << " was accepted";
        } catch (const StoreError& error) {
            EXPECT_EQ(error.code(), StoreError::Code::invalidPath) << name.toStdString();
        }
        EXPECT_FALSE(observation.isWatching());
    }
}

TEST_F(DirectoryObservationTest, CatchUpListingArrivesBeforeStartReturnsAndHidesHiddenEntries)
{
    writeFile(watched + QStringLiteral("/before.png"), "a");
    writeFile(watched + QStringLiteral("/.hidden.png"), "a");
    start([this] { writeFile(watched + QStringLiteral("/during.png"), "b"); });
    EXPECT_EQ(baseline, QStringList{QStringLiteral("before.png")});
    ASSERT_EQ(scans.size(), 1);
    EXPECT_EQ(scans[0], (QStringList{QStringLiteral("before.png"), QStringLiteral("during.png")}));
}

TEST_F(DirectoryObservationTest, BurstOfChangesCostsOneRescan)
{
    start();
    scans.clear();
    // Created, written, renamed into place, attributes changed, deleted: all
    // before the event loop runs again.
    for (int i = 0; i < 10; ++i)
        writeFile(watched + QStringLiteral("/.tmp%1").arg(i), "data");
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(QFile::rename(watched + QStringLiteral("/.tmp%1").arg(i), watched + QStringLiteral("/shot%1.png").arg(i)));
    ASSERT_TRUE(QFile::remove(watched + QStringLiteral("/shot9.png")));
    ASSERT_TRUE(waitUntil([&] { return !scans.isEmpty(); }));
    spinFor(300);
    ASSERT_EQ(scans.size(), 1);
    EXPECT_EQ(scans[0].size(), 9);
    EXPECT_EQ(invalidations, 0);

    // A stop drops the rescan already scheduled and every later event.
    writeFile(watched + QStringLiteral("/late.png"), "x");
    spinFor(10);
    observation.stop();
    writeFile(watched + QStringLiteral("/later.png"), "x");
    spinFor(300);
    EXPECT_EQ(scans.size(), 1);
}

TEST_F(DirectoryObservationTest, TheFolderGoingAwayEndsTheWatchOnce)
{
    const QString moved = temporary.filePath(QStringLiteral("moved"));
    const std::vector<std::pair<const char*, std::function<void()>>> endings{
        {"renamed", [&] { ASSERT_TRUE(QDir().rename(watched, moved)); }},
        {"deleted", [&] { ASSERT_TRUE(QDir(watched).removeRecursively()); }},
        {"replaced by a link",
            [&] {
                ASSERT_TRUE(QDir().rename(watched, moved));
                ASSERT_TRUE(QFile::link(moved, watched));
            }},
    };
    for (const auto& [name, end] : endings) {
        QDir(moved).removeRecursively();
        QFile::remove(watched);
        ASSERT_TRUE(QDir().mkpath(watched));
        writeFile(watched + QStringLiteral("/inside.png"), "x");
        invalidations = 0;
        start();
        end();
        ASSERT_TRUE(waitUntil([&] { return invalidations > 0; })) << name;
        EXPECT_FALSE(observation.isWatching()) << name;
        // Later changes at the old or the new place are not reported again.
        writeFile((QFileInfo(moved).isDir() ? moved : temporary.path()) + QStringLiteral("/after.png"), "x");
        spinFor(200);
        EXPECT_EQ(invalidations, 1) << name;
    }
}
