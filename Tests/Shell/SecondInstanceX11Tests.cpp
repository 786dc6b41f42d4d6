// Two installed programs started on one home: the second finds the library
// taken, brings the first one's shelf down and ends without touching the
// library; the first goes on saving.
#include "Shell/InstalledProgram.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QFile>
#include <QTemporaryDir>

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
    QTemporaryDir home;
    QTemporaryDir prefix;
    ASSERT_TRUE(home.isValid() && prefix.isValid());
    const QString installed = install(prefix.path());
    ASSERT_FALSE(installed.isEmpty());

    // The starter workspace with clipboard intake on, as the user would set it.
    const QString root = placeStarterWorkspace(prefix.path(), home.path());
    ASSERT_FALSE(root.isEmpty());
    ASSERT_TRUE(enableClipboardIntake(root));
    const QString statePath = root + QLatin1Char('/') + DataRoot::stateFile();

    moveTo({640, 600});
    Program first(installed, home.path());
    ASSERT_TRUE(first.process.waitForStarted());
    // The starter's cards arrive and peek the shelf down; with the pointer
    // away it goes up again.
    ASSERT_TRUE(testing::waitUntil([] { return claimedRectangles() > 0; }, 60000));
    ASSERT_TRUE(testing::waitUntil([] { return claimedRectangles() == 0; }, 30000));
    const QByteArray stateBefore = bytesOf(statePath);
    ASSERT_FALSE(stateBefore.isEmpty());

    Program second(installed, home.path(), true);
    ASSERT_TRUE(second.process.waitForFinished(60000)) << "the second start runs on";
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

} // namespace
} // namespace tolvex
