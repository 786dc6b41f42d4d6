// Drives the `tolvex` executable itself: the exit status and the exact bytes
// it writes, from the build tree and from an installed layout. A program
// that starts runs until it is asked to quit; these runs end it with SIGTERM
// once it has loaded its workspace.
#include "DevFolder.h"
#include "QtPrinting.h"
#include "StartupFixtures.h"

#include "TolvexCore/Texts/MessageKey.h"
#include "TolvexCore/Model/MatterGroup.h"
#include "TolvexCore/Startup/PathResolution.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

const QByteArray okLine = "Tolvex resources OK: en, es, zh-Hans\n";
const QByteArray failureLine = "Tolvex: invalid arguments or missing resources\n";

struct ProcessRun {
    int status = -1;
    QByteArray out;
    QByteArray err;
};

// Runs the program with a home folder of its own and no XDG_DATA_HOME, so
// that its default data root is "<home>/.local/share/Tolvex".
ProcessRun run(const QString& program, const QStringList& arguments, const QString& home)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// Whether the process has its SIGTERM handler in place, so that asking it to
// quit goes through its quit checks rather than killing it.
bool catchesTermination(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    }
    return false;
}

// Starts the program, waits until it has loaded the workspace of `root` (the
// load lays out the folders a starter does not carry), then asks it to quit.
ProcessRun runUntilLoaded(const QString& program, const QStringList& arguments, const QString& home, const QString& root)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home);
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    process.setProcessEnvironment(environment);
    process.start(program, arguments);
    process.waitForStarted(120'000);
    QDeadlineTimer deadline(120'000);
    while ((!QFileInfo::exists(root + QStringLiteral("/Transactions")) || !catchesTermination(process.processId()))
        && process.state() == QProcess::Running && !deadline.hasExpired())
        QThread::msleep(20);
    process.terminate();
    if (!process.waitForFinished(120'000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), process.readAllStandardOutput(), process.readAllStandardError()};
}

// A program that started: status 0, nothing on standard output, and no start-up failure.
void expectStarted(const ProcessRun& start)
{
    EXPECT_EQ(start.status, 0);
    EXPECT_EQ(start.out, QByteArray());
    EXPECT_FALSE(start.err.contains(failureLine));
}

// No starter in the data root: its load left it without materials.
void expectNoStarter(const QString& root)
{
    EXPECT_FALSE(QFileInfo::exists(root + QStringLiteral("/state.json")));
    EXPECT_TRUE(QDir(root + QStringLiteral("/Materials")).isEmpty());
}

// Every file of the starter, byte for byte, in the data root.
void expectStarterIn(const QString& root, const QString& starter)
{
    const auto installed = treeContents(root);
    for (const auto& file : treeContents(starter))
        EXPECT_TRUE(installed.contains(file)) << file.first.toStdString();
}

class TolvexProcessTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home_.isValid());
        ASSERT_TRUE(QFileInfo(builtExecutablePath()).isExecutable());
    }
    QString home() const { return home_.path(); }
    QString defaultRoot() const { return home_.path() + QStringLiteral("/.local/share/Tolvex"); }

    void expectFailure(const QString& program, const QStringList& arguments)
    {
        const ProcessRun result = run(program, arguments, home());
        EXPECT_EQ(result.status, 2) << arguments.join(u' ').toStdString();
        EXPECT_EQ(result.out, QByteArray()) << arguments.join(u' ').toStdString();
        EXPECT_EQ(result.err, failureLine) << arguments.join(u' ').toStdString();
    }

private:
    QTemporaryDir home_;
};

} // namespace

TEST_F(TolvexProcessTest, BuildTreeProgramChecksAndStartsWithoutAStarter)
{
    const ProcessRun check = run(builtExecutablePath(), {QStringLiteral("--check-resources")}, home());
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.out, okLine);
    EXPECT_EQ(check.err, QByteArray());

    // A bare executable neither checks nor installs a starter: the data root
    // it loads stays empty, with or without "--data-root".
    const DevFolderEntry root(QStringLiteral("process-bare"));
    expectStarted(runUntilLoaded(builtExecutablePath(), {}, home(), defaultRoot()));
    expectStarted(runUntilLoaded(builtExecutablePath(), {QStringLiteral("--data-root"), root.path()}, home(), root.path()));
    expectNoStarter(root.path());
    expectNoStarter(defaultRoot());

    // A bare copy elsewhere finds the bundle beside itself and never looks at
    // a starter folder, not even a broken one; without a bundle it stops.
    QTemporaryDir elsewhere;
    ASSERT_TRUE(elsewhere.isValid());
    const QString bare = elsewhere.filePath(QStringLiteral("tolvex"));
    ASSERT_TRUE(QFile::copy(builtExecutablePath(), bare));
    expectFailure(bare, {QStringLiteral("--check-resources")});
    copyTree(builtBundlePath(), elsewhere.filePath(QStringLiteral("Tolvex_TolvexCore.bundle")));
    writeFile(elsewhere.filePath(QStringLiteral("StarterWorkspace/state.json")), "broken");
    const ProcessRun bareCheck = run(bare, {QStringLiteral("--check-resources")}, home());
    EXPECT_EQ(bareCheck.status, 0);
    EXPECT_EQ(bareCheck.out, okLine);
    EXPECT_EQ(bareCheck.err, QByteArray());
    expectStarted(runUntilLoaded(bare, {QStringLiteral("--data-root"), root.path()}, home(), root.path()));
    expectNoStarter(root.path());
}

TEST_F(TolvexProcessTest, EveryCommandLineFaultGivesTheOneErrorLine)
{
    const DevFolderEntry root(QStringLiteral("process-args"));
    const DevFolderEntry other(QStringLiteral("process-args-other"));
    const QString program = builtExecutablePath();
    expectFailure(program, {QStringLiteral("--bogus")});
    expectFailure(program, {QStringLiteral("--check-resources"), QStringLiteral("--check-resources")});
    expectFailure(program, {QStringLiteral("--check-resources"), QStringLiteral("--bogus")});
    expectFailure(program, {QStringLiteral("--data-root")});
    expectFailure(program, {QStringLiteral("--data-root"), QStringLiteral("--check-resources")});
    expectFailure(program, {QStringLiteral("--data-root"), root.path(), QStringLiteral("--data-root"), other.path()});
    expectFailure(program, {QStringLiteral("--data-root"), QStringLiteral("/tmp/tolvex-dev/")});
    expectFailure(program, {QStringLiteral("--check-resources"), QStringLiteral("--data-root"), QStringLiteral("relative")});
    expectFailure(program, {QString()});

    // Both orders of the two options are accepted.
    for (const QStringList& arguments :
        {QStringList{QStringLiteral("--data-root"), root.path(), QStringLiteral("--check-resources")},
            QStringList{QStringLiteral("--check-resources"), QStringLiteral("--data-root"), root.path()}}) {
        const ProcessRun result = run(program, arguments, home());
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(result.out, okLine);
    }
    EXPECT_FALSE(QFileInfo::exists(root.path()));
}

TEST_F(TolvexProcessTest, InstalledProgramInstallsTheStarterIntoANewDataRoot)
{
    const InstalledTree tree(true);
    ASSERT_TRUE(tree.isValid());

    // Check mode validates the starter but never creates the data root.
    const DevFolderEntry root(QStringLiteral("process-installed"));
    const ProcessRun check = run(tree.executable(), {QStringLiteral("--check-resources"), QStringLiteral("--data-root"), root.path()}, home());
    EXPECT_EQ(check.status, 0);
    EXPECT_EQ(check.out, okLine);
    EXPECT_EQ(check.err, QByteArray());
    EXPECT_FALSE(QFileInfo::exists(root.path()));
    EXPECT_FALSE(QFileInfo::exists(defaultRoot()));

    expectStarted(runUntilLoaded(tree.executable(), {QStringLiteral("--data-root"), root.path()}, home(), root.path()));
    const WorkspaceSnapshot snapshot = readSnapshot(root.path());
    EXPECT_EQ(snapshot.generation, 0u);
    ASSERT_EQ(snapshot.materials.size(), 3);
    for (const MaterialRecord& material : snapshot.materials) {
        EXPECT_EQ(material.status, MaterialStatus::hanging);
        EXPECT_EQ(material.matterID, MatterGroup::ungroupedID());
    }
    expectStarterIn(root.path(), tree.starter());

    // A second start finds the data root and leaves it alone.
    writeFile(root.path() + QStringLiteral("/marker"), "kept");
    const auto before = treeContents(root.path());
    expectStarted(runUntilLoaded(tree.executable(), {QStringLiteral("--data-root"), root.path()}, home(), root.path()));
    EXPECT_EQ(treeContents(root.path()), before);

    // Without "--data-root": the default data root in the user's data folder.
    expectStarted(runUntilLoaded(tree.executable(), {}, home(), defaultRoot()));
    expectStarterIn(defaultRoot(), tree.starter());
}

TEST_F(TolvexProcessTest, DamagedInstallationStopsBeforeTouchingTheDataRoot)
{
    const DevFolderEntry root(QStringLiteral("process-damaged"));
    {
        // One key removed from the Spanish table.
        const InstalledTree tree(true);
        ASSERT_TRUE(tree.isValid());
        editTable(tree.table(QStringLiteral("es")),
            [](QHash<QString, QString>& entries) { entries.remove(messageKeyString(allMessageKeys()[100])); });
        expectFailure(tree.executable(), {QStringLiteral("--check-resources")});
        expectFailure(tree.executable(), {QStringLiteral("--data-root"), root.path()});
        expectFailure(tree.executable(), {});
        EXPECT_FALSE(QFileInfo::exists(root.path()));
        EXPECT_FALSE(QFileInfo::exists(defaultRoot()));
    }
    {
        // An extra file in the starter fails the check and the installation.
        const InstalledTree tree(true);
        writeFile(tree.starter() + QStringLiteral("/stray.txt"), "stray");
        expectFailure(tree.executable(), {QStringLiteral("--check-resources")});
        expectFailure(tree.executable(), {QStringLiteral("--data-root"), root.path()});
        EXPECT_FALSE(QFileInfo::exists(root.path()));
    }
    {
        // No starter at all.
        const InstalledTree tree(true);
        ASSERT_TRUE(QDir(tree.starter()).removeRecursively());
        expectFailure(tree.executable(), {QStringLiteral("--check-resources")});
        expectFailure(tree.executable(), {QStringLiteral("--data-root"), root.path()});
        EXPECT_FALSE(QFileInfo::exists(root.path()));
    }
    {
        // The resource folder linked to a complete copy elsewhere.
        const InstalledTree tree(true);
        copyTree(tree.resources(), tree.scratch(QStringLiteral("tolvex")));
        ASSERT_TRUE(QDir(tree.resources()).removeRecursively());
        makeSymlink(tree.scratch(QStringLiteral("tolvex")), tree.resources());
        expectFailure(tree.executable(), {QStringLiteral("--check-resources")});
        expectFailure(tree.executable(), {QStringLiteral("--data-root"), root.path()});
        EXPECT_FALSE(QFileInfo::exists(root.path()));
    }
    {
        // A data root that is a link is refused, and its target untouched.
        const InstalledTree tree(true);
        const QString target = tree.scratch(QStringLiteral("target"));
        ASSERT_TRUE(QDir().mkpath(target));
        const DevFolderEntry link(QStringLiteral("process-link"));
        makeSymlink(target, link.path());
        expectFailure(tree.executable(), {QStringLiteral("--data-root"), link.path()});
        EXPECT_TRUE(QDir(target).isEmpty());
    }
}

// A default data root that is a link is refused by the store. The program
// must not claim the folder behind the link meanwhile: a start that names
// that folder would be turned away as a second one.
TEST_F(TolvexProcessTest, ALinkedDataRootLeavesTheFolderBehindItFree)
{
    const DevFolderEntry real(QStringLiteral("process-behind-link"));
    ASSERT_TRUE(QDir().mkpath(real.path()));
    ASSERT_TRUE(QDir().mkpath(home() + QStringLiteral("/.local/share")));
    ASSERT_TRUE(QFile::link(real.path(), defaultRoot()));

    QProcess linked;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HOME"), home());
    environment.remove(QStringLiteral("XDG_DATA_HOME"));
    linked.setProcessEnvironment(environment);
    linked.start(builtExecutablePath(), {});
    ASSERT_TRUE(linked.waitForStarted(120'000));
    // Past its claim on the data root once it catches SIGTERM.
    QDeadlineTimer deadline(120'000);
    while (!catchesTermination(linked.processId()) && linked.state() == QProcess::Running && !deadline.hasExpired())
        QThread::msleep(20);
    ASSERT_TRUE(catchesTermination(linked.processId()));

    const ProcessRun direct = runUntilLoaded(builtExecutablePath(), {QStringLiteral("--data-root"), real.path()}, home(), real.path());
    expectStarted(direct);
    EXPECT_FALSE(direct.err.contains("already running")) << direct.err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(real.path() + QStringLiteral("/Transactions")));

    linked.terminate();
    if (!linked.waitForFinished(60'000)) {
        linked.kill();
        linked.waitForFinished(60'000);
    }
}
