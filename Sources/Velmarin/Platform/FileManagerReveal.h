#pragma once

#include <QCoro/QCoroTask>
#include <QDBusConnection>
#include <QUrl>

#include <functional>

namespace tolvex {

// Opens a folder and answers, once the desktop has, whether it was shown.
using FolderOpener = std::function<QCoro::Task<bool>(const QUrl& folder)>;

// Shows an item selected in the desktop's file manager
// (org.freedesktop.FileManager1.ShowItems over D-Bus) without waiting for
// it: the call is sent and answered later, so a slow or hung bus never holds
// the GUI thread. Without a bus, or when the service is missing or answers
// with an error, `openFolder` opens the folder that holds the item (by
// default through the desktop's launcher, whose verdict it awaits). True
// once the item or its folder was shown; false when neither could be, so
// that the caller can say so. GUI thread.
QCoro::Task<bool> revealInFileManager(
    QUrl item, QDBusConnection bus = QDBusConnection::sessionBus(), FolderOpener openFolder = {});

} // namespace tolvex
