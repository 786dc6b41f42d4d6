#pragma once

#include "TolvexCore/Texts/MessageKey.h"

namespace tolvex {

// What the clipboard intake shows. Not persisted.
enum class ClipboardIntakeState {
    // Automatic intake is on and idle.
    active,
    // Automatic intake is off.
    paused,
    // Content may not be read now (the workspace is privacy-hidden).
    hidden,
    // Inputs wait that can be retried.
    pending,
    // A waiting file input failed for a reason other than the storage
    // budget, free space or a busy store.
    changedFile,
    // The settings failed to load or to save, or the store was busy.
    unavailable,
    // The clipboard or the store refused the content.
    rejected,
};

constexpr MessageKey messageKey(ClipboardIntakeState state)
{
    switch (state) {
    case ClipboardIntakeState::active:
        return MessageKey::clipboardActive;
    case ClipboardIntakeState::paused:
        return MessageKey::clipboardPaused;
    case ClipboardIntakeState::hidden:
        return MessageKey::clipboardHidden;
    case ClipboardIntakeState::pending:
        return MessageKey::clipboardPending;
    case ClipboardIntakeState::changedFile:
        return MessageKey::clipboardChangedFile;
    case ClipboardIntakeState::unavailable:
        return MessageKey::clipboardUnavailable;
    case ClipboardIntakeState::rejected:
        return MessageKey::clipboardRejected;
    }
    return MessageKey::clipboardRejected;
}

} // namespace tolvex
