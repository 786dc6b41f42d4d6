#include "Support/EventLoopWait.h"
#include "Velmarin/Platform/QtDesktopOpener.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <ostream>

namespace tolvex {

void PrintTo(OpenVerdict verdict, std::ostream* out)
{
    constexpr const char* names[] = {"opened", "noApplication", "failed"};
    *out << names[static_cast<int>(verdict)];
}

namespace {

// The desktop's launcher starts for any file and only then looks for an
// application: its verdict is its exit, which may come at once (no
// application) or only when the application it runs in its foreground
// ends, with that application's own status. A launcher that cannot be
// started answers nothing, and that is known at once.
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
        {"no method for the file", "exit 3", OpenVerdict::noApplication},
        {"the desktop's opener found none", "exit 4", OpenVerdict::noApplication},
        {"handed over and ended", "exit 0", OpenVerdict::opened},
        {"the application in its foreground fails", "sh -c 'exit 1'; exit $?", OpenVerdict::opened},
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

} // namespace
} // namespace tolvex
