#pragma once

#include "TolvexCore/Model/EditSession.h"
#include "Velmarin/Common/Published.h"
#include "Velmarin/Windows/EditorWindow.h"

#include <QLabel>
#include <QPushButton>

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDeadlineTimer>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QUuid>

#include <cstdint>
#include <exception>
#include <functional>
#include <optional>




namespace tolvex {

class EditorStore;
class EditorTextView;

class Line;

// The text-version editor: rewrites the text of a text material in an edit
// session of the store and keeps it as a new version (save) or leaves it in
// the session for later (cancel, closing the window). At most one session
// at a time. GUI thread only.
class TextEditorController : public QObject {
public:
    static constexpr std::int64_t maximumTextBytes = 1048576;

    // `line` and `store` must outlive the controller.
    TextEditorController(Line& line, EditorStore& store);
    ~TextEditorController() override;

    std::function<void(std::exception_ptr)> onError = [](std::exception_ptr) {};

    QCoro::Task<void> open(QUuid materialID, bool present);
    QCoro::Task<void> resume(EditSession session, bool present);
    QCoro::Task<void> save();
    QCoro::Task<void> cancel();
    // The program is being terminated: the text as it stands, a composition
    // included, goes into the session's working file, where the recovery
    // window finds it; a store busy for a moment is waited for until
    // `deadline`. Nothing without a session. The session stays open.
    QCoro::Task<void> keepForTermination(QDeadlineTimer deadline);

    virtual bool isEditing() const { return session_.has_value() || opening_; }
    // A write of the session was refused (no room, a file error): its text
    // may be left unsaved, so that the user can always leave.
    virtual bool canDiscardUnsaved() const { return session_ && !saving_ && writeRefused_; }
    // Ends the session here without writing its text; the store keeps the
    // working file, with what was last written to it, as a pending session.
    // False when there is nothing to discard.
    virtual bool discardUnsaved();
    // When set, asked instead of the alert offering to discard; true discards.
    std::function<bool()> chooseDiscard;
    void setHidden(bool hidden);

    // ---- Inspection ----
    EditorTextView& textView() const { return *textView_; }
    EditorWindow* window() const { return window_; }
    const std::optional<EditSession>& session() const { return session_; }
    bool isSaving() const { return saving_; }
    QLabel* helpLabel() const { return helpLabel_; }
    QPushButton* saveButton() const { return saveButton_; }

private:
    // Installs the session the store answers with, as the editor is opening;
    // a base other than `requestedBase` means the session moved onto a newer version.
    QCoro::Task<void> installFrom(
        QFuture<EditSession> pending, bool present, std::uint64_t epoch, std::optional<QUuid> requestedBase);
    QCoro::Task<void> install(EditSession session, bool present, std::uint64_t epoch, bool recoveredOlderVersion);
    QCoro::Task<void> finish(bool keep);
    // Cancel and the close button: the text goes back to the session; when
    // the store refuses it, the user may discard it and leave.
    QCoro::Task<void> leave();
    // What a save or a termination writes into the working file: the text
    // exactly as the editor holds it, line breaks and all, in UTF-8.
    QByteArray workingBytes() const;
    void buildWindow(bool recoveredOlderVersion);
    void endSession();
    void perform(std::function<QCoro::Task<void>(TextEditorController&)> body);
    bool privacyHolds(std::uint64_t epoch) const;

    Line& line_;
    EditorStore& store_;
    std::optional<EditSession> session_;
    bool opening_ = false;
    QPointer<EditorWindow> window_;
    EditorTextView* textView_;
    bool saving_ = false;
    bool writeRefused_ = false;
    bool hidden_ = false;
    Subscription subscription_;
    QPointer<QWidget> content_;
    QPointer<QLabel> hiddenLabel_;
    QPointer<QLabel> helpLabel_;
    QPointer<QPushButton> saveButton_;
};

} // namespace tolvex
