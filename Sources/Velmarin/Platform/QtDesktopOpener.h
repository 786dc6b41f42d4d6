#pragma once

#include "Velmarin/Platform/DesktopOpener.h"

#include <chrono>

namespace tolvex {

// QDesktopServices for opening; the file manager's D-Bus interface, else the
// enclosing folder, for revealing. A confirmed opening runs the desktop's
// launcher (xdg-open) itself, since QDesktopServices reports success as soon
// as the launcher starts, even when it then finds no application.
class QtDesktopOpener final : public DesktopOpener {
public:
    // How long a launcher has to answer; one still running then has handed
    // the file to an application it runs in its foreground.
    static constexpr std::chrono::milliseconds defaultVerdictTime{3000};

    explicit QtDesktopOpener(std::chrono::milliseconds verdictTime = defaultVerdictTime) : verdictTime_(verdictTime) {}

    bool open(const QUrl& file) override;
    QCoro::Task<OpenVerdict> openAndConfirm(const QUrl& file) override;
    QCoro::Task<bool> reveal(const QUrl& file) override;

    // What the launcher's exit says. Its own answers are documented: 1 a
    // syntax error in its arguments and 2 a file that does not exist are
    // its own failures, so nothing was opened; 3 no method for the file and
    // 4 the desktop's opener failed are how the desktops' own openers say
    // that they know no application. Any other status is the application's
    // own, passed on by a launcher that ran it in its foreground: the file
    // was handed on. An application of that kind ending with 1 or 2 reads as
    // a failure too, since its exit cannot be told from the launcher's.
    static OpenVerdict verdictOfExit(int exitCode);

private:
    std::chrono::milliseconds verdictTime_;
};

} // namespace tolvex
