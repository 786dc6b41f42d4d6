#pragma once

#include "TolvexCore/Texts/MessageKey.h"
#include "Velmarin/Platform/HotKey.h"

#include <QString>
#include <QUuid>

#include <functional>
#include <optional>

class QMenu;

namespace tolvex {

// The status item's menu, rebuilt from scratch on every opening, and the
// rope's menu. Both are built from a picture of the program's state taken
// at that moment (no row keeps state between openings) and a set of actions.
namespace StatusMenu {

// The clipboard intake as the menus show it.
struct ClipboardRows {
    MessageKey stateKey = MessageKey::clipboardPaused;
    // The state asks for the user's attention (pending, changed file,
    // unavailable, rejected).
    bool needsAttention = false;
    bool isEnabled = false;
    bool isSavingPreferences = false;
    bool canReceiveManual = false;
    bool canDiscardPending = false;
    qsizetype pendingCount = 0;
};

// The screenshot intake as the menus show it.
struct CaptureRows {
    MessageKey statusKey = MessageKey::capturePaused;
    bool isEnabled = false;
    qsizetype pendingCount = 0;
};

struct State {
    bool privacyHidden = false;
    bool privacySaving = false;
    bool privacySaveFailed = false;
    bool isRevealed = false;
    int liveCount = 0;
    std::optional<HotKey::Status> hotKey;
    bool hasRecovery = false;
    bool canUndoTakeDown = false;
    bool hasNoteEditor = false;
    bool hasSettings = false;
    bool markupCanRetry = false;
    bool soundOff = false;
    // Absent before the workspace has loaded.
    std::optional<ClipboardRows> clipboard;
    std::optional<CaptureRows> capture;
};

// Every row's action; an empty one does nothing.
struct Actions {
    std::function<void(bool hidden)> setPrivacyHidden;
    std::function<void()> retryPrivacy;
    std::function<void()> toggleShelf;
    std::function<void()> retryHotKey;
    std::function<void()> keyboardBrowse;
    std::function<void()> takeDownAll;
    std::function<void()> showTakenDown;
    std::function<void()> undoTakeDown;
    std::function<void()> newNote;
    std::function<void()> pasteInput;
    std::function<void()> importFiles;
    std::function<void()> openSettings;
    std::function<void()> toggleClipboard;
    std::function<void()> retryClipboard;
    std::function<void()> discardClipboard;
    std::function<void()> chooseCaptureFolder;
    std::function<void()> toggleCapture;
    std::function<void()> retryCapture;
    std::function<void()> retryMarkup;
    std::function<void()> reviewPending;
    std::function<void()> toggleSound;
    std::function<void()> quit;
    // Offered until a workflow runs when the launch alert was cut short.
    std::function<void()> offerRecoveryAlert;
};

void buildStatusMenu(QMenu& menu, const State& state, const Actions& actions);
void buildRopeMenu(QMenu& menu, const State& state, const Actions& actions);

// The status item's tooltip and title ("!" when something needs attention).
struct ItemText {
    QString toolTip;
    QString title;
};
ItemText itemText(const State& state, const QString& displayName);

} // namespace StatusMenu

} // namespace tolvex
