#include "Support/EventLoopWait.h"
#include "Velmarin/Platform/QtDesktopOpener.h"

#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>

#include <csignal>

namespace tolvex {

void PrintTo(OpenVerdict verdict, std::ostream* out)
{
    constexpr const char* names[] = {"opened", "noApplication", "failed"};
    *out << names[static_cast<int>(verdict)];
}

namespace {

// The desktop's launcher starts for any file and only then looks for an
// application: its verdict is its exit, which may come at once (its own
// failure, or no application) or only when the application it runs in its
// foreground ends, with that application's own status. A launcher that
// cannot be started answers nothing, and that is known at once.
TEST(DesktopOpener, AConfirmedOpeningReadsOnlyTheLaunchersOwnAnswers)
{
    using namespace std::chrono_literals;
    struct Case {
        const char* name;
        // The launcher's script; none: there is no launcher on the path.
        std::optional<QByteArray> script;
        OpenVerdict verdict;
        // Long enough that only an answer of the launcher's own can settle it.
        std::chrono::milliseconds wait = 1h;
    };
    const Case cases[] = {
        {"no launcher on the path", std::nullopt, OpenVerdict::failed},
        {"a launcher that cannot be started", "#!/nonexistent/interpreter\nexit 0\n", OpenVerdict::failed},
        {"a syntax error in its arguments", "exit 1", OpenVerdict::failed},
        {"the file it was given does not exist", "exit 2", OpenVerdict::failed},
        {"no method for the file", "exit 3", OpenVerdict::noApplication},
        {"the desktop's opener found none", "exit 4", OpenVerdict::noApplication},
        {"handed over and ended", "exit 0", OpenVerdict::opened},
        {"the application in its foreground fails", "sh -c 'exit 9'; exit $?", OpenVerdict::opened},
        {"the application ends with its own status", "sh -c 'exit 5'; exit $?", OpenVerdict::opened},
        {"killed by a signal", "kill -9 $$", OpenVerdict::failed},
        {"the application runs in the launcher", "exec sleep 30", OpenVerdict::opened, 300ms},
    };
    const QByteArray path = qgetenv("PATH");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir bin;
        ASSERT_TRUE(bin.isValid());
        const QString file = bin.filePath(QStringLiteral("copy.png"));
        QFile copy(file);
        ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
        copy.close();
        if (c.script) {
            QFile launcher(bin.filePath(QStringLiteral("xdg-open")));
            ASSERT_TRUE(launcher.open(QIODevice::WriteOnly));
            const QByteArray body = *c.script;
            launcher.write(body.startsWith("#!") ? body : "#!/bin/sh\n[ -f \"$1\" ] || exit 2\n" + body + "\n");
            launcher.close();
            launcher.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        // The temporary folder alone when there is no launcher.
        qputenv("PATH", QFile::encodeName(bin.path()) + (c.script ? ':' + path : QByteArray()));

        QtDesktopOpener opener(c.wait);
        QCoro::Task<OpenVerdict> opening = opener.openAndConfirm(QUrl::fromLocalFile(file));
        qputenv("PATH", path);
        EXPECT_TRUE(testing::waitUntil([&] { return opening.isReady(); })) << "no answer of the launcher's own";
        if (opening.isReady()) {
            EXPECT_EQ(QCoro::waitFor(std::move(opening)), c.verdict);
        }
    }
}

const char* const launcherFolderVariable = "TOLVEX_LAUNCHER_FOLDER";

// Writes a launcher into `folder` that notes its process id and then runs
// the application in its own foreground, for as long as a test lets it.
void writeLingeringLauncher(const QString& folder)
{
    QFile launcher(folder + QStringLiteral("/xdg-open"));
    ASSERT_TRUE(launcher.open(QIODevice::WriteOnly));
    launcher.write("#!/bin/sh\necho $$ > \"$(dirname \"$0\")/pid.tmp\"\n"
                   "mv \"$(dirname \"$0\")/pid.tmp\" \"$(dirname \"$0\")/pid\"\nexec sleep 60\n");
    launcher.close();
    launcher.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

// The program of the test below: it opens a file through the launcher in
// the folder it is given, takes the verdict and ends.
TEST(DesktopOpenerChild, DISABLED_OpensAndEnds)
{
    const QString folder = qEnvironmentVariable(launcherFolderVariable);
    ASSERT_FALSE(folder.isEmpty());
    qputenv("PATH", QFile::encodeName(folder) + ':' + qgetenv("PATH"));
    QtDesktopOpener opener(std::chrono::milliseconds(100));
    QCoro::Task<OpenVerdict> opening = opener.openAndConfirm(QUrl::fromLocalFile(folder + QStringLiteral("/copy.png")));
    ASSERT_TRUE(testing::waitUntil([&] { return opening.isReady(); }));
    EXPECT_EQ(QCoro::waitFor(std::move(opening)), OpenVerdict::opened);
    ASSERT_TRUE(testing::waitUntil([&] { return QFile::exists(folder + QStringLiteral("/pid")); }));
}

// A launcher may run the application in its foreground for as long as the
// file is open. The program that asked has no say over it any more: its own
// end leaves the launcher, and the application, running.
TEST(DesktopOpener, ALauncherStillRunningOutlivesTheProgram)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QFile copy(folder.filePath(QStringLiteral("copy.png")));
    ASSERT_TRUE(copy.open(QIODevice::WriteOnly));
    copy.close();
    writeLingeringLauncher(folder.path());

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(launcherFolderVariable), folder.path());
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start(QCoreApplication::applicationFilePath(),
        {QStringLiteral("--gtest_filter=DesktopOpenerChild.*"), QStringLiteral("--gtest_also_run_disabled_tests")});
    ASSERT_TRUE(child.waitForFinished(60000));
    ASSERT_EQ(child.exitCode(), 0);

    QFile noted(folder.filePath(QStringLiteral("pid")));
    ASSERT_TRUE(noted.open(QIODevice::ReadOnly));
    const pid_t launcher = noted.readAll().trimmed().toInt();
    ASSERT_GT(launcher, 0);
    EXPECT_EQ(::kill(launcher, 0), 0) << "the program's end took the launcher with it";
    ::kill(launcher, SIGKILL);
}

} // namespace tolvex
