#pragma once

#include "TolvexCore/Content/EditResultBuffer.h"
#include "TolvexCore/Model/EditResult.h"
#include "TolvexCore/Model/EditSession.h"
#include "Velmarin/Actions/MarkupService.h"

#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QVariantList>

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>

namespace tolvex {

class Alert;
class DesktopOpener;
class Line;
class MaterialStore;

// Marks up one image version at a time. The caller hands over an edit
// session whose working file is a private copy of the image; the editor's
// image is written into that file and the caller hears `save` with its URL,
// or `cancel`. A result that cannot be saved stays in memory (one slot, the
// newest wins) so that the user can retry without editing again. When the
// editor cannot take the file, the desktop opens it and an alert asks
// whether to save the edited file or cancel.
//
// Privacy is read, not observed: nothing opens and no failure is shown while
// the line is covered, and `failed` keeps the retry on offer. GUI thread.
class Markup final : public QObject {
public:
    using Launcher = std::function<void(const QUrl&)>;
    using FailureReporter = std::function<void()>;
    using PersistResult = std::function<QCoro::Task<void>(EditSession, MaterialStore&, QByteArray)>;
    using ServiceLookup = std::function<std::shared_ptr<MarkupService>()>;
    using AlertRunner = std::function<int(Alert&)>;

    // The largest image accepted back from an editor.
    static constexpr std::int64_t maximumResultBytes = 268435456;

    // The program's one session, made on first use with every default.
    static Markup& shared();

    // `launchEditor` replaces the editor service; `reportFailure` replaces
    // the save-failure alert; `persistResult` defaults to the store's
    // writeEditingResult. The rest default to our own editor, the desktop's
    // opener, and alerts run through the line (or on their own without one).
    explicit Markup(Launcher launchEditor = {}, FailureReporter reportFailure = {},
        PersistResult persistResult = defaultPersist(), ServiceLookup lookupService = {},
        DesktopOpener* fallbackOpener = nullptr, AlertRunner runAlert = {});
    ~Markup() override;

    static PersistResult defaultPersist();

    // Set by the application; consulted for the privacy state and to run alerts.
    QPointer<Line> privacyLine;

    // Opens a session, or answers `cancel` at once when one is open.
    void edit(const EditSession& session, MaterialStore& store, std::function<void(EditResult)> onResult);

    bool isEditing() const { return editing_.has_value(); }
    // The open session, whose files the store must keep while it is open.
    const std::optional<EditSession>& session() const { return session_; }
    bool hasPendingResult() const { return resultBuffer_.pending().has_value(); }
    bool canRetrySaving() const;
    bool failed() const { return failed_; }
    bool editorActive() const { return editorActive_; }

    // Saves the pending result, or opens the editor again after a failure
    // that left nothing to save. Never throws.
    QCoro::Task<void> retrySaving();
    // What an editor returned; the first item is used.
    QCoro::Task<void> receive(QVariantList items);

    // Brings the open session's editor to the front; with none showing, a
    // session left failed is retried. False without an open session.
    bool bringEditorForward();

    // Ends the open session with `cancel`, closes its editor and forgets its
    // unsaved result: the way out of the quit check when an editor never
    // answers or a save keeps failing. The store keeps the working file for
    // the recovery window, so nothing the store holds is lost.
    void abandon();

    // The program is being terminated: the open session's working file
    // takes what the editor holds, so that the recovery window's resume
    // shows it. A result waiting to be saved is written as it is; marks
    // still in our editor are drawn into the image at its own size and
    // written in the working file's format where that is quick to write,
    // else as a quickly encoded PNG, so that a picture as large as the
    // pixel budget allows is kept within the termination's bound. A store
    // busy for a moment is waited for until `deadline`.
    // Without marks nothing is written, so the working file differs from
    // the version it was copied from exactly when it holds marks. The
    // session stays open.
    QCoro::Task<void> keepForTermination(QDeadlineTimer deadline);

private:
    // The working file is checked on a worker thread; the editor opens once
    // the check has answered, if the same opening is still wanted.
    void openEditor();
    QCoro::Task<void> openChecked(std::uint64_t opening, QUrl url);
    void launch(std::uint64_t opening, const QUrl& url);
    // The editor's two answers, taken only from the editor of the current
    // opening; both hop to a fresh turn of the event loop first.
    void serviceDidShare(std::uint64_t opening, QVariantList items);
    void serviceDidFail(std::uint64_t opening, MarkupServiceError error);
    void openFallback(const QUrl& url);
    QCoro::Task<QByteArray> returnedData(QVariant item);
    void showSaveError(std::exception_ptr error);
    int runAlert(Alert& alert);
    void finish(EditResult result);

    std::optional<QUrl> editing_;
    EditResultBuffer resultBuffer_{maximumResultBytes};
    std::optional<EditSession> session_;
    MaterialStore* store_ = nullptr;
    bool editorActive_ = false;
    int loadingResults_ = 0;
    bool saving_ = false;
    bool failed_ = false;
    std::shared_ptr<MarkupService> activeService_;
    // Moves on every opening of an editor and at every end of a session, so
    // an answer is matched to its opening, never to an address that a later
    // editor may reuse.
    std::uint64_t opening_ = 0;
    std::function<void(EditResult)> completion_;

    Launcher launchEditor_;
    FailureReporter reportFailure_;
    PersistResult persistResult_;
    ServiceLookup lookupService_;
    DesktopOpener* fallbackOpener_;
    AlertRunner runAlert_;
};

} // namespace tolvex
