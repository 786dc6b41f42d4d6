#include "Velmarin/Windows/RecoveryContent.h"

#include "TolvexCore/Files/SystemFileOperations.h"
#include "TolvexCore/Images/ImageAdmission.h"
#include "TolvexCore/Model/UnicodeText.h"
#include "Velmarin/Actions/ActionButton.h"
#include "Velmarin/Common/ByteCountFormat.h"
#include "Velmarin/Common/TextCut.h"
#include "Velmarin/Windows/RecoveryLists.h"
#include "Velmarin/Windows/TakenDownHistory.h"
#include "Velmarin/Windows/TextEditorController.h"

#include <QLabel>
#include <QVBoxLayout>

namespace tolvex::RecoveryContent {

using namespace RecoveryLists;

namespace {

// A note draft is named by its first line that holds anything, whichever
// newline ends it.
QString firstLine(const QString& text)
{
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !UnicodeText::isNewline(text[i].unicode()))
            continue;
        const QString line = text.mid(start, i - start).trimmed();
        if (!line.isEmpty())
            return line;
        start = i + 1;
    }
    return {};
}

QString stagingLabel(const StagingRecoveryItem& item)
{
    QString label;
    switch (item.disposition) {
    case StagingRecoveryItem::Disposition::unowned:
        label = text(MessageKey::stagingTitle);
        break;
    case StagingRecoveryItem::Disposition::referenced:
        label = text(MessageKey::stagingReferenced);
        break;
    case StagingRecoveryItem::Disposition::needsInspection:
        label = text(MessageKey::stagingInspect);
        break;
    }
    if (item.byteCount)
        label += middleDot() + formatByteCount(*item.byteCount);
    return label;
}

// Whose draft it is, and where it is now, or what it holds and since when it waits.
QString sessionState(const EditSession& session, const SessionFile& file, bool isHeld, bool opens, bool marked)
{
    QString state = text(isHeld ? MessageKey::recoveryHeldDraft
            : opens             ? MessageKey::retainedDraft
                                : MessageKey::recoveryUnopenableDraft);
    if (!isHeld && session.kind == VersionKind::markup)
        state += middleDot() + text(marked ? MessageKey::recoveryWithMarks : MessageKey::recoveryWithoutMarks);
    if (!isHeld && file.written)
        state += middleDot() + when(*file.written);
    return state;
}

} // namespace

QList<SessionFile> inspect(const QList<EditSession>& sessions)
{
    QList<SessionFile> files;
    for (const EditSession& session : sessions) {
        SessionFile file;
        try {
            const FileInfo info = SystemFileOperations::shared()->inspect(session.workingURL);
            if (info.modificationDate != Date::distantPast())
                file.written = info.modificationDate;
            if (session.kind == VersionKind::textEdit) {
                file.opens = info.isRegularFile && info.byteCount <= TextEditorController::maximumTextBytes;
            } else {
                ImageAdmission::validate(session.workingURL);
                file.opens = true;
            }
        } catch (...) {
            file.opens = false;
        }
        files.append(file);
    }
    return files;
}

QWidget* build(const WorkspaceSnapshot& snapshot, bool covered, const Listed& listed, const QSet<QUuid>& held,
    const Actions& actions)
{
    auto* stack = new QWidget;
    QVBoxLayout* layout = listColumn(stack, MessageKey::reviewPendingMessage);

    const auto guarded = [live = actions.live](std::function<void()> act) {
        return [live, act = std::move(act)] {
            if (live())
                act();
        };
    };
    const auto discardAction = [&](QUuid id, bool note) {
        return RowAction{
            MessageKey::recoveryDiscard, guarded([discard = actions.discard, id, note] { discard(id, note); })};
    };
    for (const MaterialRecord& record : snapshot.materials) {
        if (record.status != MaterialStatus::needsReview)
            continue;
        const QUuid id = record.id;
        const QString title
            = covered ? text(MessageKey::recoveryTitle) : cutAtCharacter(record.title, TakenDownHistory::titleLimit);
        // A title one line long: a long one would widen the list past the window.
        addRow(layout, oneLine(title), 10,
            {{MessageKey::open, guarded([open = actions.open, id] { open(id); })},
                {MessageKey::hangReviewed, guarded([hang = actions.hangReviewed, id] { hang(id); })}});
    }
    for (qsizetype index = 0; index < listed.sessions.size(); ++index) {
        const EditSession& session = listed.sessions[index];
        // A working file its editor cannot open can still be copied out.
        const SessionFile file = listed.files.value(index, SessionFile{true, std::nullopt});
        const bool isHeld = held.contains(session.id);
        const bool opens = file.opens || isHeld;
        const RowAction resumeOrExport = opens
            ? RowAction{MessageKey::resumeDraft, guarded([resume = actions.resume, session] { resume(session); })}
            : RowAction{MessageKey::stagingExport,
                  guarded([exportSession = actions.exportSession, session] { exportSession(session); })};
        const MaterialRecord* material = snapshot.findMaterial(session.materialID);
        const QString state = sessionState(session, file, isHeld, opens, listed.marked.contains(session.id));
        addRow(layout, twoLines(covered || !material ? text(MessageKey::recoveryTitle) : material->title, state), 10,
            {resumeOrExport, discardAction(session.id, false)});
    }
    // Never resumed: a record that cannot be read may name anything. Its
    // folder's own file can still be copied out, and the folder discarded.
    for (const EditSessionReview::Unreadable& draft : listed.unreadable) {
        const MaterialRecord* material = draft.materialID ? snapshot.findMaterial(*draft.materialID) : nullptr;
        QList<RowAction> rowActions;
        if (draft.workingFile)
            rowActions.append({MessageKey::stagingExport,
                guarded([exportUnreadable = actions.exportUnreadable, draft] { exportUnreadable(draft); })});
        rowActions.append(discardAction(draft.id, false));
        addRow(layout,
            twoLines(covered || !material ? text(MessageKey::recoveryTitle) : material->title,
                text(draft.workingFile ? MessageKey::recoveryUnopenableDraft : MessageKey::recoveryUnreadableDraft)),
            10, rowActions);
    }
    for (const NoteDraft& draft : listed.drafts) {
        const MaterialRecord* material = draft.materialID.isNull() ? nullptr : snapshot.findMaterial(draft.materialID);
        QString title = covered ? QString() : firstLine(draft.text);
        if (title.isEmpty())
            title = material && !covered ? material->title : text(MessageKey::noteTitle);
        const QString state = held.contains(draft.id) ? text(MessageKey::recoveryHeldDraft)
                                                      : text(MessageKey::noteTitle) + middleDot()
                + text(MessageKey::retainedDraft) + middleDot() + when(draft.updatedAt);
        addRow(layout, twoLines(title, state), -1,
            {{MessageKey::resumeDraft, guarded([resumeNote = actions.resumeNote, draft] { resumeNote(draft); })},
                discardAction(draft.id, true)});
    }
    if (!covered && !listed.staging.isEmpty()) {
        layout->addWidget(label(text(MessageKey::stagingHelp), true));
        for (const StagingRecoveryItem& item : listed.staging) {
            QList<RowAction> rowActions;
            if (item.disposition == StagingRecoveryItem::Disposition::unowned) {
                const QString path = item.relativePath;
                rowActions.append({MessageKey::stagingExport,
                    guarded([exportStaging = actions.exportStaging, path] { exportStaging(path); })});
            }
            addRow(layout, label(stagingLabel(item), true), 10, rowActions);
        }
        layout->addWidget(new ActionButton(text(MessageKey::cleanupPreview), guarded(actions.previewCleanup)), 0,
            Qt::AlignLeft);
    }
    // The help text and nothing below it would read as a list still loading.
    if (layout->count() == 1)
        layout->addWidget(label(text(MessageKey::recoveryNothingToReview), true));
    layout->addStretch(1);
    return stack;
}

} // namespace tolvex::RecoveryContent
