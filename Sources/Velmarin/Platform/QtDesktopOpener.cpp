#include "Velmarin/Platform/QtDesktopOpener.h"

#include "Velmarin/Platform/FileManagerReveal.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QFutureInterface>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <QCoro/QCoroFuture>

#include <memory>

namespace tolvex {

bool QtDesktopOpener::open(const QUrl& file)
{
    return QDesktopServices::openUrl(file);
}

OpenVerdict QtDesktopOpener::verdictOfExit(int exitCode)
{
    switch (exitCode) {
    case 3:
    case 4:
        return OpenVerdict::noApplication;
    default:
        return OpenVerdict::opened;
    }
}

QCoro::Task<OpenVerdict> QtDesktopOpener::openAndConfirm(const QUrl& file)
{
    if (!file.isLocalFile())
        co_return open(file) ? OpenVerdict::opened : OpenVerdict::failed;
    const QString launcher = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (launcher.isEmpty())
        co_return OpenVerdict::failed;
    auto* process = new QProcess(QCoreApplication::instance());
    process->setProgram(launcher);
    process->setArguments({file.toLocalFile()});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());

    // Settled by the first of: the launcher's exit, its failure to start
    // (which comes with no exit at all, and is known at once), the end of
    // the wait, or the program's end.
    const auto verdict = std::make_shared<QFutureInterface<OpenVerdict>>();
    verdict->reportStarted();
    const auto settle = [verdict](OpenVerdict answer) {
        if (verdict->isFinished())
            return;
        verdict->reportResult(answer);
        verdict->reportFinished();
    };
    QObject::connect(process, &QProcess::errorOccurred, process, [settle](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            settle(OpenVerdict::failed);
    });
    QObject::connect(process, &QProcess::finished, process, [settle](int exitCode, QProcess::ExitStatus status) {
        settle(status == QProcess::NormalExit ? verdictOfExit(exitCode) : OpenVerdict::failed);
    });
    QObject::connect(process, &QObject::destroyed, [settle] { settle(OpenVerdict::failed); });
    QTimer::singleShot(verdictTime_, process, [settle] { settle(OpenVerdict::opened); });
    process->start();

    const QPointer<QProcess> running(process);
    auto answering = qCoro(verdict->future()).waitForFinished();
    const OpenVerdict answer = co_await std::move(answering);
    if (!running)
        co_return answer;
    if (running->state() == QProcess::NotRunning) {
        running->deleteLater();
    } else {
        // It may run the application in its foreground for as long as the
        // file is open: it belongs to the program now, and goes once it ends.
        QObject::connect(running, &QProcess::finished, running, &QObject::deleteLater);
    }
    co_return answer;
}

QCoro::Task<bool> QtDesktopOpener::reveal(const QUrl& file)
{
    // Its fallback opens the folder through a confirmed opening like ours.
    return revealInFileManager(file);
}

} // namespace tolvex
