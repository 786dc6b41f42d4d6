#pragma once

// xdotool as the x11 tests drive the desktop with it.
#include "Support/EventLoopWait.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace tolvex::testing {

// Runs xdotool to its end while the GUI thread keeps handling events, so a
// window of this process can answer what xdotool does to it; answers
// whether it succeeded.
inline bool xdotool(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    if (!process.waitForStarted())
        return false;
    return waitUntil([&] { return process.state() == QProcess::NotRunning; })
        && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// Runs xdotool synchronously and answers its standard output, for queries
// (window ids, geometry) and for driving other processes' windows.
inline QString xdotoolOutput(const QStringList& arguments)
{
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    process.waitForFinished(10000);
    return QString::fromUtf8(process.readAllStandardOutput()).trimmed();
}

} // namespace tolvex::testing
