#include "Velmarin/Platform/QtDesktopOpener.h"

#include "Velmarin/Platform/FileManagerReveal.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>

#include <QCoro/QCoroSignal>

#include <chrono>

namespace tolvex {

bool QtDesktopOpener::open(const QUrl& file)
{
    return QDesktopServices::openUrl(file);
}

QCoro::Task<bool> QtDesktopOpener::openAndConfirm(const QUrl& file)
{
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (launcher.isEmpty() || !file.isLocalFile())
        co_return open(file);
    const QPointer<QProcess> process = new QProcess(QCoreApplication::instance());
    process->setProgram(launcher);
    process->setArguments({file.toLocalFile()});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    process->start();
    // A launcher without an application gives up at once; one still running
    // after this long has handed the file to an application.
    constexpr std::chrono::milliseconds verdict(3000);
    const auto ended = co_await qCoro(process.data(), &QProcess::finished, verdict);
    if (!process)
        co_return false;
    if (!ended && process->state() != QProcess::NotRunning) {
        // It may run the application in its foreground for as long as the
        // file is open: it belongs to the program now, and goes once it ends.
        QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
        co_return true;
    }
    process->deleteLater();
    co_return process->error() != QProcess::FailedToStart && process->exitStatus() == QProcess::NormalExit
        && process->exitCode() == 0;
}

void QtDesktopOpener::reveal(const QUrl& file)
{
    revealInFileManager(file);
}

} // namespace tolvex
