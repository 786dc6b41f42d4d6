#pragma once

#include <QPointer>
#include <QUrl>

#include <exception>
#include <functional>

namespace tolvex {

class Alert;
class Line;

// The two error alerts of the running workflow: one for the capture folder,
// one for every other failed action, each offering the remedy that fits
// the error. GUI thread only.
class WorkflowAlerts {
public:
    // What the remedy buttons do; each may be left empty.
    struct Remedies {
        std::function<void(int page)> openSettings;
        std::function<void()> chooseFiles;
        std::function<void()> showRecovery;
        std::function<void()> chooseCaptureFolder;
        // Shows a file selected in the file manager.
        std::function<void(const QUrl& file)> revealFile;
        std::function<void()> quit;
    };
    using AlertRunner = std::function<int(Alert&)>;

    // Without a runner, alerts run through the line (so a cover ends them).
    WorkflowAlerts(Line& line, Remedies remedies, AlertRunner runAlert = {});

    void presentActionError(std::exception_ptr error);
    void presentCaptureError(std::exception_ptr error);

private:
    int run(Alert& alert);

    QPointer<Line> line_;
    Remedies remedies_;
    AlertRunner runAlert_;
};

} // namespace tolvex
