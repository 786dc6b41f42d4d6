#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QCoro/QCoroTask>
#include <QFuture>
#include <QObject>
#include <QString>
#include <QUrl>

#include <exception>
#include <functional>
#include <optional>

namespace tolvex {

class Alert;
class Line;

// The launch-failure alert, for the delegate: offered again and again until
// the workspace loads or the user quits. It offers to put the previous
// snapshot back when the error allows it and the restore would end with a
// loaded workspace, to show the library folder, and, once the folder has
// been shown or an entry in the way was named, to load it again (never
// after the folder was replaced under the program, nor while it is a link:
// that only a new start mends). A library folder that is a link is named
// with where it leads. A failed restore is not offered again. GUI thread
// only.
class LaunchRecovery final : public QObject {
public:
    // A data root that is a link, which the program never opens.
    struct RootLink {
        QString path;
        QString target;
    };

    struct Hooks {
        // Whether putting the previous snapshot back would end with a loaded
        // workspace; a question that cannot be answered is a no.
        std::function<QFuture<bool>()> canRestorePrevious;
        // Puts the previous snapshot back; without one a restore fails with
        // recoveryRequired.
        std::function<QFuture<WorkspaceSnapshot>()> restorePrevious;
        // Shows the data root's folder.
        std::function<void()> revealDataRoot;
        std::function<int(Alert&)> runAlert;
        // The privacy cover cut the alert short; it is the caller's to offer again.
        std::function<void(std::exception_ptr error, bool allowRestore)> onInterrupted;
        std::function<void()> quit;
        // The workspace is loaded (again, or restored) and rendered.
        std::function<void()> onLoaded;
        // The data root when it is a link (looked at off the GUI thread, for
        // a path the store refused); without one, or when it answers none,
        // the root is taken for no link.
        std::function<QFuture<std::optional<RootLink>>()> rootLink;
    };

    // The data root when it is a link, looked at on the shared pool; the
    // program's own `Hooks::rootLink`.
    static QFuture<std::optional<RootLink>> linkAt(const QUrl& dataRoot);

    // `line` must outlive the recovery.
    LaunchRecovery(Line& line, Hooks hooks);

    // Offers the alert for a failed load; runs on by itself.
    void present(std::exception_ptr error, bool allowRestore);

private:
    QCoro::Task<void> recover(std::exception_ptr error, bool allowRestore, bool offerRetry);
    // Restores the previous snapshot (or loads again), then reports the load.
    QCoro::Task<void> reopen(bool restore);

    Line& line_;
    Hooks hooks_;
};

} // namespace tolvex
