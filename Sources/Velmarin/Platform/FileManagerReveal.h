#pragma once

#include <QDBusConnection>
#include <QUrl>

#include <functional>

namespace tolvex {

// Shows an item selected in the desktop's file manager
// (org.freedesktop.FileManager1.ShowItems over D-Bus) without waiting for
// it: the call is sent and answered later, so a slow or hung bus never holds
// the GUI thread. Without a bus, or when the service is missing or answers
// with an error, `openFolder` opens the folder that holds the item (by
// default through the desktop's URL handler). GUI thread.
void revealInFileManager(const QUrl& item, const QDBusConnection& bus = QDBusConnection::sessionBus(),
    std::function<void(const QUrl& folder)> openFolder = {});

} // namespace tolvex
