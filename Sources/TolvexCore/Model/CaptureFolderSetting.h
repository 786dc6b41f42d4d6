#pragma once

#include <QByteArray>
#include <QString>

namespace tolvex {

// The watched screenshot folder.
struct CaptureFolderSetting {
    // A bookmark of the folder (see the platform layer's Bookmark).
    QByteArray bookmark;
    // The folder's absolute path when it was chosen.
    QString lastKnownPath;
    bool enabled = false;

    friend bool operator==(const CaptureFolderSetting& a, const CaptureFolderSetting& b);
};

} // namespace tolvex
