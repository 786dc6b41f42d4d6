#pragma once

#include "TolvexCore/Texts/MessageKey.h"

#include <QCoro/QCoroTask>
#include <QPointer>
#include <QString>
#include <QUrl>

#include <exception>
#include <functional>

namespace tolvex {

class Alert;
class Line;
class ReviewUnavailableError;

// The error alerts of the running workflow: one for the capture folder,
// one for every other failed action, and one for an intake that can save
// nothing more, each offering the remedy that fits the error, except that a
// recovery window that could not be built is never offered again: its alert
// offers its folder instead. An alert that only informs has the one button OK. A file that could not be shown
// in the file manager, by an action or by the remedy itself, gets the
// alert that names its path. GUI thread only.
class WorkflowAlerts {
public:
    // What the remedy buttons do; each may be left empty.
    struct Remedies {
        std::function<void(int page)> openSettings;
        std::function<void()> chooseFiles;
        std::function<void()> showRecovery;
        std::function<void()> chooseCaptureFolder;
        // Shows a file selected in the file manager; answers, once the
        // desktop has, whether it or its folder could be shown.
        std::function<QCoro::Task<bool>(const QUrl& file)> revealFile;
        std::function<void()> quit;
        // Puts the path of a file that could not be shown on the clipboard;
        // without it, the desktop's clipboard.
        std::function<void(const QString& path)> copyPath;
    };
    using AlertRunner = std::function<int(Alert&)>;

    // Without a runner, alerts run through the line (so a cover ends them).
    WorkflowAlerts(Line& line, Remedies remedies, AlertRunner runAlert = {});

    void presentActionError(std::exception_ptr error);
    // A folder error offers to choose another folder; a data root replaced
    // behind the program offers to quit, as every action's alert does.
    void presentCaptureError(std::exception_ptr error);
    // A failure of the clipboard's or the screenshots' intake that only the
    // user can mend (the data root replaced behind the program), titled
    // with what failed. Shown once: every later intake meets the same
    // failure again, and the intakes' status goes on saying so.
    void presentIntakeError(std::exception_ptr error, MessageKey title);

private:
    int run(Alert& alert);
    // Why the recovery window could not be built and in which folder, with
    // Show in File Manager for that folder and OK.
    void presentReviewUnavailable(const ReviewUnavailableError& unavailable);
    // The error's explanation under `title`, with its remedy and Cancel.
    void presentWithRemedy(const QString& title, std::exception_ptr error);
    // The runner as a value, for work that may outlive the alerts.
    AlertRunner runner() const;

    QPointer<Line> line_;
    Remedies remedies_;
    AlertRunner runAlert_;
    bool intakeErrorShown_ = false;
};

} // namespace tolvex
