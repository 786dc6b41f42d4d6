#include "Velmarin/Platform/QtDesktopOpener.h"

#include "Velmarin/Platform/FileManagerReveal.h"

#include <QDesktopServices>
#include <QFutureInterface>
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
    case 1:
    case 2:
        return OpenVerdict::failed;
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
    // Nothing owns the launcher: it may run the application in its
    // foreground for as long as the file is open, and an owner ending with
    // the program (the application object) would kill it then. It deletes
    // itself once it has ended or failed to start.
    auto* process = new QProcess;
    process->setProgram(launcher);
    process->setArguments({file.toLocalFile()});
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());

    // Settled by the first of: the launcher's exit, its failure to start
    // (which comes with no exit at all, and is known at once), or the end of
    // the wait.
    const auto verdict = std::make_shared<QFutureInterface<OpenVerdict>>();
    verdict->reportStarted();
    const auto settle = [verdict](OpenVerdict answer) {
        if (verdict->isFinished())
            return;
        verdict->reportResult(answer);
        verdict->reportFinished();
    };
    QObject::connect(process, &QProcess::errorOccurred, process, [settle, process](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        settle(OpenVerdict::failed);
        process->deleteLater();
    });
    QObject::connect(process, &QProcess::finished, process, [settle, process](int exitCode, QProcess::ExitStatus status) {
        settle(status == QProcess::NormalExit ? verdictOfExit(exitCode) : OpenVerdict::failed);
        process->deleteLater();
    });
    QTimer::singleShot(verdictTime_, process, [settle] { settle(OpenVerdict::opened); });
    process->start();

    auto answering = qCoro(verdict->future()).waitForFinished();
    co_return co_await std::move(answering);
}

QCoro::Task<bool> QtDesktopOpener::reveal(const QUrl& file)
{
    // Its fallback opens the folder through a confirmed opening like ours.
    return revealInFileManager(file);
}

} // namespace tolvex
