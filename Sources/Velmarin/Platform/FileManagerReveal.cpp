#include "Velmarin/Platform/FileManagerReveal.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDesktopServices>
#include <QFileInfo>

namespace tolvex {

void revealInFileManager(const QUrl& item, const QDBusConnection& bus, std::function<void(const QUrl&)> openFolder)
{
    const QUrl folder = QUrl::fromLocalFile(QFileInfo(item.toLocalFile()).absolutePath());
    if (!openFolder)
        openFolder = [](const QUrl& url) { QDesktopServices::openUrl(url); };
    if (!bus.isConnected()) {
        openFolder(folder);
        return;
    }
    // Called without introspection, which would be a blocking call of its own.
    QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1"),
        QStringLiteral("ShowItems"));
    call << QStringList{item.toString(QUrl::FullyEncoded)} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
        [folder, openFolder = std::move(openFolder)](QDBusPendingCallWatcher* finished) {
            if (finished->isError())
                openFolder(folder);
            finished->deleteLater();
        });
}

} // namespace tolvex
