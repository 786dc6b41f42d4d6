#include "Velmarin/Platform/QtDesktopOpener.h"

#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

// The desktop's launcher starts for any file and only then looks for an
// application: its verdict is its exit, which may come at once (no
// application) or only when the application it runs in its foreground ends.
TEST(DesktopOpener, AConfirmedOpeningFollowsTheLaunchersVerdict)
{
    struct Case {
        const char* name;
        const char* script;
        bool opened;
    };
    const Case cases[] = {
        {"no application for the file", "exit 3", false},
        {"the launcher's own failure", "exit 4", false},
        {"handed over and ended", "exit 0", true},
        {"the application runs in the launcher", "exec sleep 30", true},
        {"killed by a signal", "kill -9 $$", false},
    };
    const QByteArray path = qgetenv("PATH");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir bin;
        ASSERT_TRUE(bin.isValid());
        QFile launcher(bin.filePath(QStringLiteral("xdg-open")));
        ASSERT_TRUE(launcher.open(QIODevice::WriteOnly));
        launcher.write(QByteArray("#!/bin/sh\n[ -f \"$1\" ] || exit 2\n") + c.script + "\n");
        launcher.close();
        launcher.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("PATH", QFile::encodeName(bin.path()) + ':' + path);
        const QUrl file = QUrl::fromLocalFile(bin.filePath(QStringLiteral("xdg-open")));

        QtDesktopOpener opener;
        EXPECT_EQ(QCoro::waitFor(opener.openAndConfirm(file)), c.opened);
        qputenv("PATH", path);
    }
}

} // namespace
} // namespace tolvex
