#include "Velmarin/Platform/FileManagerReveal.h"

#include "Velmarin/Platform/QtDesktopOpener.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QFileInfo>

#include <QCoro/QCoroSignal>

#include <memory>

namespace tolvex {

namespace {

QCoro::Task<bool> launchFolder(QUrl folder)
{
    QtDesktopOpener opener;
    auto opening = opener.openAndConfirm(folder);
    co_return co_await std::move(opening) == OpenVerdict::opened;
}

} // namespace

QCoro::Task<bool> revealInFileManager(QUrl item, QDBusConnection bus, FolderOpener openFolder)
{
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(item.toLocalFile()).absolutePath());
    if (!openFolder)
        openFolder = launchFolder;
    if (bus.isConnected()) {
        // Called without introspection, which would be a blocking call of its own.
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
            QStringLiteral("ShowItems"));
        call << QStringList{item.toString(QUrl::FullyEncoded)} << QString();
        const auto watcher = std::make_unique<QDBusPendingCallWatcher>(bus.asyncCall(call));
        if (!watcher->isFinished()) {
            auto answering = qCoro(watcher.get(), &QDBusPendingCallWatcher::finished);
            co_await std::move(answering);
        }
        if (!watcher->isError())
            co_return true;
    }
    auto opening = openFolder(folder);
    co_return co_await std::move(opening);
}

} // namespace tolvex
