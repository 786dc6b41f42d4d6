#pragma once

#include <QCoro/QCoroTask>
#include <QUrl>

namespace tolvex {

// What became of a file handed to the desktop to open.
enum class OpenVerdict {
    // An application has it (or the launcher still runs, having handed it on).
    opened,
    // The launcher answered that nothing on this desktop opens such a file.
    noApplication,
    // The launcher could not be started, or gave no answer of its own.
    failed,
};

// Hands files to the desktop: open one with its default application, or
// show it selected in the file manager. GUI thread only.
class DesktopOpener {
public:
    virtual ~DesktopOpener() = default;

    // False when the desktop could not take the file.
    virtual bool open(const QUrl& file) = 0;
    // Opens the file and waits a moment for the desktop's verdict: a
    // launcher that starts may still find no application for the file.
    virtual QCoro::Task<OpenVerdict> openAndConfirm(const QUrl& file)
    {
        co_return open(file) ? OpenVerdict::opened : OpenVerdict::failed;
    }
    // Shows the file selected in the file manager, else its folder. False,
    // once the desktop has answered, when neither could be shown.
    virtual QCoro::Task<bool> reveal(const QUrl& file) = 0;
};

} // namespace tolvex
