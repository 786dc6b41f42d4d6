// Two installed programs started on one home: the second finds the library
// taken, brings the first one's shelf down and ends without touching the
// library; the first goes on saving. And a library replaced while a program
// runs on it: later starts reach the program that holds the library now in
// its place.
#include "Shell/InstalledWorkspace.h"
#include "TolvexCore/Files/DataRootLock.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "Velmarin/Platform/RunningInstance.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <algorithm>

namespace tolvex {
namespace {

using namespace testing::installed;

QByteArray bytesOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

TEST(SecondInstanceX11, ASecondStartShowsTheRunningShelfAndLeavesTheLibraryAlone)
{
    // The starter workspace with clipboard intake on, as the user would set it.
    const InstalledWorkspace workspace(InstalledWorkspace::starterWithClipboardIntake);
    ASSERT_TRUE(workspace.fault.empty()) << workspace.fault;
    const QString statePath = workspace.root + QLatin1Char('/') + DataRoot::stateFile();

    moveTo({640, 600});
    Program first(workspace.installed, workspace.home.path());
    ASSERT_TRUE(first.process.waitForStarted());
    // The starter's cards arrive and peek the shelf down; with the pointer
    // away it goes up again.
    ASSERT_TRUE(testing::waitUntil([] { return claimedRectangles() > 0; }, 60000));
    ASSERT_TRUE(testing::waitUntil([] { return claimedRectangles() == 0; }, 30000));
    const QByteArray stateBefore = bytesOf(statePath);
    ASSERT_FALSE(stateBefore.isEmpty());

    Program second(workspace.installed, workspace.home.path(), true);
    ASSERT_TRUE(second.ended(60000)) << "the second start runs on";
    EXPECT_EQ(second.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.process.exitCode(), 0);
    const QByteArray said = second.process.readAllStandardError();
    EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains("already running")) << said.toStdString();

    EXPECT_TRUE(testing::waitUntil([] { return claimedRectangles() > 0; })) << "the first one's shelf stays up";
    EXPECT_EQ(bytesOf(statePath), stateBefore);

    // The first one still owns the library and saves what it takes in.
    const auto copiedText = [&] {
        const WorkspaceSnapshot snapshot = Json::decode<WorkspaceSnapshot>(bytesOf(statePath));
        return std::any_of(snapshot.materials.begin(), snapshot.materials.end(), [](const MaterialRecord& record) {
            return record.source.origin == ImportOrigin::clipboard && record.kind == MaterialKind::text;
        });
    };
    EXPECT_TRUE(offerUntil(
        [](int offer) { copyToClipboard(QStringLiteral("Copied beside a second start, offer %1").arg(offer).toUtf8()); },
        [&] {
            try {
                return copiedText();
            } catch (...) {
                return false;
            }
        }));
}

// A start that finds the library taken: it ends at once, saying so in its one line.
void expectTurnedAway(Program& start)
{
    ASSERT_TRUE(start.ended(60000))
        << "the start runs on: nobody answered it";
    EXPECT_EQ(start.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(start.process.exitCode(), 0);
    const QByteArray said = start.process.readAllStandardError();
    EXPECT_EQ(said.count('\n'), 1) << said.toStdString();
    EXPECT_TRUE(said.contains("already running")) << said.toStdString();
}

// The library moved away and a copy put in its place while the first program
// runs, as restoring a backup does. A program started then holds the copy;
// every later start must reach that one, not the first (which can no longer
// save), both while the first still runs and after it ended.
TEST(SecondInstanceX11, AStartReachesTheProgramThatHoldsTheLibraryNowInPlace)
{
    const InstalledWorkspace workspace;
    ASSERT_TRUE(workspace.fault.empty()) << workspace.fault;

    moveTo({640, 600});
    Program first(workspace.installed, workspace.home.path());
    ASSERT_TRUE(first.process.waitForStarted());
    const qint64 firstID = first.process.processId();
    // Its cards arrive and peek the shelf down; with the pointer away it goes up again.
    ASSERT_TRUE(testing::waitUntil([&] { return claimedRectangles(firstID) > 0; }, 60000));
    ASSERT_TRUE(testing::waitUntil([&] { return claimedRectangles(firstID) == 0; }, 30000));

    const QString moved = workspace.root + QStringLiteral(" moved");
    ASSERT_TRUE(QDir().rename(workspace.root, moved));
    ASSERT_EQ(QProcess::execute(QStringLiteral("cp"), {QStringLiteral("-R"), moved, workspace.root}), 0);

    Program second(workspace.installed, workspace.home.path());
    ASSERT_TRUE(second.process.waitForStarted());
    const qint64 secondID = second.process.processId();
    ASSERT_TRUE(testing::waitUntil([&] { return claimedRectangles(secondID) > 0; }, 60000))
        << "the copy is free: a start holds it";
    ASSERT_TRUE(testing::waitUntil([&] { return claimedRectangles(secondID) == 0; }, 30000));

    for (const bool firstRuns : {true, false}) {
        SCOPED_TRACE(firstRuns ? "the first program runs" : "the first program has ended");
        if (!firstRuns) {
            first.process.terminate();
            ASSERT_TRUE(first.ended(60000));
        }
        Program later(workspace.installed, workspace.home.path(), true);
        expectTurnedAway(later);
        EXPECT_TRUE(testing::waitUntil([&] { return claimedRectangles(secondID) > 0; }))
            << "the shelf of the program that holds the library stays up";
        if (firstRuns) {
            EXPECT_EQ(claimedRectangles(firstID), 0) << "the first program was asked";
            // Through the shown shelf and away, as a hand passes, until it
            // goes up again (a resting shelf may look at the pointer late).
            ASSERT_TRUE(testing::waitUntil(
                [&] {
                    moveTo({640, 100});
                    testing::waitUntil([] { return false; }, 400);
                    moveTo({640, 600});
                    return testing::waitUntil([&] { return claimedRectangles(secondID) == 0; }, 4000);
                },
                60000));
        }
    }
}

// An owner claims its library before it listens for later starts, and stops
// listening before it lets the library go. A start that comes in between
// finds the library taken and nobody to ask: it looks again until the owner
// listens, rather than telling the user that a program it cannot reach runs.
TEST(SecondInstanceX11, AStartWhileTheOwnerIsStillStartingReachesItOnceItListens)
{
    const InstalledWorkspace workspace;
    ASSERT_TRUE(workspace.fault.empty()) << workspace.fault;

    // The owner, this test, between its claim and its listening.
    const DataRootLock claim = DataRootLock::acquire(workspace.root);
    Program start(workspace.installed, workspace.home.path(), true);
    ASSERT_TRUE(start.process.waitForStarted());
    testing::waitUntil([] { return false; }, 1000);

    int shown = 0;
    const std::optional<RunningInstance::Folder> folder = RunningInstance::folderAt(workspace.root);
    ASSERT_TRUE(folder);
    RunningInstance owner(*folder, [&] { ++shown; });
    ASSERT_TRUE(owner.isListening());
    EXPECT_TRUE(testing::waitUntil([&] { return start.process.state() == QProcess::NotRunning; }, 30000))
        << "the start told that nobody answered";
    expectTurnedAway(start);
    EXPECT_EQ(shown, 1);
}

} // namespace
} // namespace tolvex
