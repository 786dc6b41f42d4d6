#pragma once

#include <QCoro/QCoroTask>
#include <QUrl>

namespace tolvex {

// Hands files to the desktop: open one with its default application, or
// show it selected in the file manager. GUI thread only.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;

    // False when the desktop has no application to open the file with.
    virtual bool open(const QUrl& file) = 0;
    // Opens the file and waits a moment for the desktop's verdict: a
    // launcher that starts may still find no application for the file.
    virtual QCoro::Task<bool> openAndConfirm(const QUrl& file) { co_return open(file); }
    virtual void reveal(const QUrl& file) = 0;
};

} // namespace tolvex
