#include "EditTesting.h"

#include "TolvexCore/Files/AtomicWriteName.h"

#include <QCoreApplication>
#include <QDirIterator>
#include <QProcess>
#include <QProcessEnvironment>
#include <QThread>

#include <csignal>

using namespace tolvex;
using namespace tolvex::testing;

namespace {

const char* const targetVariable = "TOLVEX_KILLED_WRITE_TARGET";

// Every leftover temporary file below `folder`, as paths.
QStringList leftoversBelow(const QString& folder)
{
    QStringList found;
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isAtomicWriteTemporaryName(QFile::encodeName(it.fileName()).toStdString()))
            found << path;
    }
    return found;
}

// Runs the child below, which rewrites `target` atomically without end, and
// kills it with SIGKILL as soon as its temporary file is there. A kill that
// lands just after a rename leaves nothing, so it tries again.
QString killInTheMiddleOfAWrite(const QString& target)
{
    const QString folder = QFileInfo(target).path();
    for (int attempt = 0; attempt < 50; ++attempt) {
        QProcess child;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QString::fromLatin1(targetVariable), target);
        child.setProcessEnvironment(environment);
        child.start(QCoreApplication::applicationFilePath(),
            {QStringLiteral("--gtest_filter=AtomicWriteKilledChild.*"), QStringLiteral("--gtest_also_run_disabled_tests")});
        if (!child.waitForStarted())
            return {};
        while (leftoversBelow(folder).isEmpty() && child.state() == QProcess::Running)
            QThread::usleep(200);
        ::kill(pid_t(child.processId()), SIGKILL);
        child.waitForFinished();
        const QStringList left = leftoversBelow(folder);
        if (!left.isEmpty())
            return left.first();
    }
    return {};
}

class AtomicWriteLeftoverTest : public EditTestCase {};

} // namespace

TEST(AtomicWriteKilledChild, DISABLED_RewritesItsTargetUntilKilled)
{
    const QString target = qEnvironmentVariable(targetVariable);
    ASSERT_FALSE(target.isEmpty());
    // Large enough that most of each write's time is spent filling its
    // temporary file, where the kill should land.
    const QByteArray bytes(32 << 20, '{');
    for (;;)
        SystemFileOperations::shared()->writeAtomic(bytes, QUrl::fromLocalFile(target));
}

TEST_F(AtomicWriteLeftoverTest, AWriteKilledHalfWayIsRemovedByTheNextLoadAndHidesNothing)
{
    const MaterialRecord text = addText("text");
    builder().writeState();
    QString noteFolder;
    QString sessionFolder;
    {
        auto store = makeStore();
        noteFolder = path("Drafts/" + uuidText(createNote(*store).id));
        sessionFolder = path(folderOf(create(*store, text.id, VersionKind::textEdit)));
    }

    // A real leftover, from a real kill, in a note draft's folder...
    const QString leftover = killInTheMiddleOfAWrite(noteFolder + "/note.json");
    ASSERT_FALSE(leftover.isEmpty()) << "no kill landed in the middle of a write";
    // ...and the same debris everywhere else the store writes records.
    const QString name = QFileInfo(leftover).fileName();
    for (const QString& folder : {sessionFolder, path("Drafts"), path("Transactions"), rootPath})
        ASSERT_TRUE(QFile::copy(leftover, folder + "/" + name));
    ASSERT_EQ(leftoversBelow(rootPath).size(), 5);

    auto store = makeStore();
    EXPECT_EQ(pending(*store).size(), 1);
    EXPECT_EQ(leftoversBelow(rootPath), QStringList());
    EXPECT_NO_THROW(waitForResult(store->previewStorageCleanup()));
    EXPECT_NO_THROW(waitForResult(store->stagingRecoveryInventory()));
    EXPECT_NO_THROW(createNote(*store));
}
