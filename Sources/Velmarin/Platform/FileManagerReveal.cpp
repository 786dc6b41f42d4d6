#include "Velmarin/Platform/FileManagerReveal.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QFileInfo>

namespace tolvex {

void revealInFileManager(const QUrl& item)
{
    QDBusInterface manager(QStringLiteral("org.freedesktop.FileManager1"), QStringLiteral("/org/freedesktop/FileManager1"),
        QStringLiteral("org.freedesktop.FileManager1"), QDBusConnection::sessionBus());
    if (manager.isValid()) {
        const QDBusMessage reply
            = manager.call(QStringLiteral("ShowItems"), QStringList{item.toString()}, QString());
        if (reply.type() == QDBusMessage::ReplyMessage)
            return;
    }
    QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(item.toLocalFile()).absolutePath()));
}

} // namespace tolvex
