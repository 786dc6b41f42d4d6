#pragma once

#include <QUrl>

namespace tolvex {

// Shows an item selected in the desktop's file manager
// (org.freedesktop.FileManager1.ShowItems over D-Bus); without one, opens
// the folder that holds it.
void revealInFileManager(const QUrl& item);

} // namespace tolvex
