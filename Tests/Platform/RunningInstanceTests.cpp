#include "Support/EventLoopWait.h"
#include "Velmarin/Platform/RunningInstance.h"

#include <QDir>
#include <QFile>
#include <QFutureWatcher>
#include <QLocalSocket>
#include <QTemporaryDir>
#include <QtConcurrent/QtConcurrentRun>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// Asks from a worker thread, as a second process would, while the GUI
// thread goes on serving events; answers what the asker learnt.
bool askWhileServing(const QString& root)
{
    QFuture<bool> asking = QtConcurrent::run([root] { return RunningInstance::askToShow(root); });
    testing::waitUntil([&] { return asking.isFinished(); });
    return asking.result();
}

TEST(RunningInstance, ALaterStartReachesTheOwnerOfItsDataRootOnly)
{
    QTemporaryDir home;
    const QString root = home.filePath(QStringLiteral("Tolvex"));
    const QString other = home.filePath(QStringLiteral("Other"));
    const QString link = home.filePath(QStringLiteral("link"));
    ASSERT_TRUE(QDir().mkpath(root) && QDir().mkpath(other) && QFile::link(root, link));
    EXPECT_EQ(RunningInstance::socketPath(link), RunningInstance::socketPath(root));
    EXPECT_NE(RunningInstance::socketPath(other), RunningInstance::socketPath(root));

    // Nobody owns the root yet: nobody answers.
    EXPECT_FALSE(askWhileServing(root));

    // What a killed owner leaves is in the way of the next owner.
    QFile leftover(RunningInstance::socketPath(root));
    ASSERT_TRUE(leftover.open(QIODevice::WriteOnly));
    leftover.close();

    int shown = 0;
    RunningInstance owner(root, [&] { ++shown; });
    ASSERT_TRUE(owner.isListening());

    // A peer that connects and says nothing holds up nobody.
    QLocalSocket silent;
    silent.connectToServer(RunningInstance::socketPath(root));
    ASSERT_TRUE(silent.waitForConnected(RunningInstance::answerDeadlineMs));

    EXPECT_TRUE(askWhileServing(link));
    EXPECT_EQ(shown, 1);
    EXPECT_FALSE(askWhileServing(other));
    EXPECT_EQ(shown, 1);
}

} // namespace
} // namespace tolvex
