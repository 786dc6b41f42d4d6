#pragma once

#include <QUrl>

namespace tolvex {

// Hands files to the desktop: open one with its default application, or
// show it selected in the file manager. GUI thread only.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;

    // False when the desktop has no application to open the file with.
    virtual bool open(const QUrl& file) = 0;
    virtual void reveal(const QUrl& file) = 0;
};

} // namespace tolvex
