#include "Velmarin/Shell/StatusMenu.h"

#include "Velmarin/Presentation/AppLocalizer.h"

#include <QAction>
#include <QKeySequence>
#include <QMenu>

namespace tolvex::StatusMenu {

namespace {

QString text(MessageKey key)
{
    return appLocalizer().string(key);
}

// "Retry (3)": the row's text, a space and the count in brackets.
QString counted(MessageKey key, qsizetype count)
{
    return text(key) + QStringLiteral(" (") + QString::number(count) + QLatin1Char(')');
}

QAction* row(QMenu& menu, const QString& title, bool enabled, const std::function<void()>& action,
    const QKeySequence& shortcut = {})
{
    QAction* item = menu.addAction(title);
    item->setEnabled(enabled);
    if (!shortcut.isEmpty())
        item->setShortcut(shortcut);
    if (action)
        QObject::connect(item, &QAction::triggered, item, [action] { action(); });
    return item;
}

void statusRow(QMenu& menu, const QString& title)
{
    menu.addAction(title)->setEnabled(false);
}

void addPrivacyItems(QMenu& menu, const State& state, const Actions& actions)
{
    QAction* privacy = row(menu, text(state.privacyHidden ? MessageKey::privacyShow : MessageKey::privacyHide),
        !state.privacySaving, [actions, hidden = state.privacyHidden] {
            if (actions.setPrivacyHidden)
                actions.setPrivacyHidden(!hidden);
        });
    privacy->setCheckable(true);
    privacy->setChecked(state.privacyHidden);
    if (state.privacySaveFailed) {
        statusRow(menu, text(MessageKey::privacySaveFailed));
        row(menu, text(MessageKey::privacyRetry), true, actions.retryPrivacy);
    }
    statusRow(menu, text(MessageKey::privacyExternalBoundary));
    menu.addSeparator();
}

void addTakenDownItems(QMenu& menu, const State& state, const Actions& actions)
{
    row(menu, text(MessageKey::takenDownMaterials), state.hasRecovery && !state.privacyHidden, actions.showTakenDown);
    if (state.hasRecovery && state.canUndoTakeDown)
        row(menu, text(MessageKey::undoTakeDown), true, actions.undoTakeDown);
}

QString showHideTitle(const State& state)
{
    return text(state.isRevealed ? MessageKey::hideLine : MessageKey::showLine);
}

bool canReceiveManual(const State& state)
{
    return state.clipboard && state.clipboard->canReceiveManual;
}

} // namespace

void buildStatusMenu(QMenu& menu, const State& state, const Actions& actions)
{
    menu.clear();
    if (actions.offerRecoveryAlert) {
        row(menu, text(MessageKey::recoveryTitle), true, actions.offerRecoveryAlert);
        menu.addSeparator();
    }
    addPrivacyItems(menu, state, actions);

    // The show/hide row with the hot key's equivalent while it works, its status, and a retry.
    const bool registered = state.hotKey == HotKey::Status::registered;
    row(menu, showHideTitle(state), true, actions.toggleShelf,
        registered ? QKeySequence(Qt::CTRL | Qt::ALT | Qt::Key_T) : QKeySequence());
    statusRow(menu, text(HotKey::messageKey(state.hotKey.value_or(HotKey::Status::failed))));
    if (state.hotKey && !registered)
        row(menu, text(MessageKey::shortcutRetry), true, actions.retryHotKey);

    row(menu, text(MessageKey::shelfKeyboardBrowse), !state.privacyHidden, actions.keyboardBrowse);
    row(menu, text(MessageKey::takeDownAll), state.liveCount >= 1, actions.takeDownAll);
    addTakenDownItems(menu, state, actions);
    menu.addSeparator();

    row(menu, text(MessageKey::noteNew), state.hasNoteEditor && !state.privacyHidden, actions.newNote);
    row(menu, text(MessageKey::pasteInput), canReceiveManual(state), actions.pasteInput);
    row(menu, text(MessageKey::importFiles), canReceiveManual(state) && !state.privacyHidden, actions.importFiles,
        QKeySequence(Qt::CTRL | Qt::Key_O));
    row(menu, text(MessageKey::intakeSettings), state.hasSettings, actions.openSettings,
        QKeySequence(Qt::CTRL | Qt::Key_Comma));
    menu.addSeparator();

    const std::optional<ClipboardRows>& clipboard = state.clipboard;
    statusRow(menu, text(clipboard ? clipboard->stateKey : MessageKey::clipboardPaused));
    row(menu, text(clipboard && !clipboard->isEnabled ? MessageKey::resumeClipboard : MessageKey::pauseClipboard),
        clipboard && !clipboard->isSavingPreferences, actions.toggleClipboard);
    // A retry of nothing is no remedy: the row counts what it would take in.
    if (clipboard && clipboard->pendingCount >= 1)
        row(menu, counted(MessageKey::retryClipboard, clipboard->pendingCount), true, actions.retryClipboard);
    if (clipboard && clipboard->pendingCount >= 1)
        row(menu, text(MessageKey::discardClipboard), clipboard->canDiscardPending, actions.discardClipboard);
    menu.addSeparator();

    const std::optional<CaptureRows>& capture = state.capture;
    if (capture)
        statusRow(menu, text(capture->statusKey));
    row(menu, text(MessageKey::chooseCaptureFolder), true, actions.chooseCaptureFolder);
    row(menu, text(capture && capture->isEnabled ? MessageKey::pauseCapture : MessageKey::resumeCapture), true,
        actions.toggleCapture);
    if (capture && capture->pendingCount >= 1)
        row(menu, counted(MessageKey::retryCapture, capture->pendingCount), true, actions.retryCapture);
    if (state.markupCanRetry)
        row(menu, text(MessageKey::retryMarkup), true, actions.retryMarkup);
    row(menu, text(MessageKey::reviewPendingTitle), true, actions.reviewPending);
    menu.addSeparator();

    QAction* sounds = row(menu, text(MessageKey::sounds), true, actions.toggleSound);
    sounds->setCheckable(true);
    sounds->setChecked(!state.soundOff);
    menu.addSeparator();
    row(menu, text(MessageKey::quit), true, actions.quit, QKeySequence(Qt::CTRL | Qt::Key_Q));
}

void buildRopeMenu(QMenu& menu, const State& state, const Actions& actions)
{
    menu.clear();
    addPrivacyItems(menu, state, actions);
    addTakenDownItems(menu, state, actions);
    menu.addSeparator();
    row(menu, text(MessageKey::noteNew), state.hasNoteEditor && !state.privacyHidden, actions.newNote);
    row(menu, text(MessageKey::pasteInput), canReceiveManual(state), actions.pasteInput);
    row(menu, text(MessageKey::importFiles), canReceiveManual(state) && !state.privacyHidden, actions.importFiles);
    menu.addSeparator();
    row(menu, text(MessageKey::intakeSettings), state.hasSettings, actions.openSettings,
        QKeySequence(Qt::CTRL | Qt::Key_Comma));
    row(menu, showHideTitle(state), true, actions.toggleShelf);
}

ItemText itemText(const State& state, const QString& displayName)
{
    ItemText result;
    const QString clipboardText = state.clipboard ? text(state.clipboard->stateKey) : QString();
    if (state.privacySaveFailed) {
        result.toolTip = text(MessageKey::privacySaveFailed);
    } else {
        const MessageKey captureKey = state.capture ? state.capture->statusKey : MessageKey::capturePaused;
        result.toolTip = displayName + QStringLiteral(" · ") + text(captureKey) + QStringLiteral(" · ") + clipboardText;
    }
    const bool captureTrouble = state.capture && state.capture->statusKey != MessageKey::captureActive
        && state.capture->statusKey != MessageKey::capturePaused;
    const bool clipboardTrouble = state.clipboard && state.clipboard->needsAttention;
    if (state.privacySaveFailed || captureTrouble || clipboardTrouble)
        result.title = QStringLiteral("!");
    return result;
}

} // namespace tolvex::StatusMenu
