#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shell/StatusMenu.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

namespace tolvex {
namespace {

using namespace StatusMenu;

QString t(MessageKey key)
{
    return appLocalizer().string(key);
}

// The action of that title, or null.
const QAction* find(const QMenu& menu, const QString& title)
{
    for (const QAction* action : menu.actions()) {
        if (action->text() == title)
            return action;
    }
    return nullptr;
}

State loaded()
{
    State state;
    state.hotKey = HotKey::Status::registered;
    state.liveCount = 2;
    state.hasRecovery = state.hasNoteEditor = state.hasSettings = true;
    state.clipboard = ClipboardRows{MessageKey::clipboardActive, false, true, false, true, false, 0};
    state.capture = CaptureRows{MessageKey::captureActive, true, 0};
    return state;
}

TEST(StatusMenu, RowsFollowTheStateAtOpening)
{
    struct Expect {
        QString title;
        bool present;
        bool enabled;
    };
    struct Case {
        const char* name;
        State state;
        std::vector<Expect> rows;
    };
    State covered = loaded();
    covered.privacyHidden = true;
    State conflict = loaded();
    conflict.hotKey = HotKey::Status::conflict;
    State pending = loaded();
    pending.clipboard->pendingCount = 3;
    pending.clipboard->canDiscardPending = true;
    pending.capture->pendingCount = 2;
    State rejected = loaded();
    rejected.clipboard->stateKey = MessageKey::clipboardRejected;
    rejected.clipboard->needsAttention = true;

    const std::vector<Case> cases = {
        {"before the workspace has loaded", State{},
            {{t(MessageKey::shortcutFailed), true, false}, {t(MessageKey::noteNew), true, false},
                {t(MessageKey::pasteInput), true, false}, {t(MessageKey::importFiles), true, false},
                {t(MessageKey::intakeSettings), true, false}, {t(MessageKey::clipboardPaused), true, false},
                {t(MessageKey::captureActive), false, false}, {t(MessageKey::capturePaused), false, false},
                {t(MessageKey::resumeCapture), true, true}, {t(MessageKey::takenDownMaterials), true, false},
                {t(MessageKey::takeDownAll), true, false}, {t(MessageKey::shortcutRetry), false, false}}},
        {"loaded", loaded(),
            {{t(MessageKey::privacyHide), true, true}, {t(MessageKey::noteNew), true, true},
                {t(MessageKey::importFiles), true, true}, {t(MessageKey::captureActive), true, false},
                {t(MessageKey::pauseCapture), true, true}, {t(MessageKey::pauseClipboard), true, true},
                {t(MessageKey::discardClipboard), false, false}}},
        {"covered", covered,
            {{t(MessageKey::privacyShow), true, true}, {t(MessageKey::shelfKeyboardBrowse), true, false},
                {t(MessageKey::noteNew), true, false}, {t(MessageKey::importFiles), true, false},
                {t(MessageKey::takenDownMaterials), true, false}, {t(MessageKey::pasteInput), true, true}}},
        {"conflicting hot key", conflict,
            {{t(MessageKey::shortcutConflict), true, false}, {t(MessageKey::shortcutRetry), true, true}}},
        {"pending input", pending,
            {{t(MessageKey::retryClipboard) + QStringLiteral(" (3)"), true, true},
                {t(MessageKey::discardClipboard), true, true},
                {t(MessageKey::retryCapture) + QStringLiteral(" (2)"), true, true}}},
        // Nothing to retry: no row offers it.
        {"rejected, nothing pending", rejected,
            {{t(MessageKey::clipboardRejected), true, false},
                {t(MessageKey::retryClipboard) + QStringLiteral(" (0)"), false, false},
                {t(MessageKey::discardClipboard), false, false}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QMenu menu;
        buildStatusMenu(menu, c.state, {});
        for (const Expect& expect : c.rows) {
            SCOPED_TRACE(expect.title.toStdString());
            const QAction* action = find(menu, expect.title);
            ASSERT_EQ(action != nullptr, expect.present);
            if (action)
                EXPECT_EQ(action->isEnabled(), expect.enabled);
        }
        const QAction* toggle = find(menu, t(MessageKey::showLine));
        ASSERT_NE(toggle, nullptr);
        EXPECT_EQ(toggle->shortcut().isEmpty(), c.state.hotKey != HotKey::Status::registered);
    }
}

TEST(StatusMenu, PrivacyRowActsOnTheOppositeAndRebuildingReplacesEveryRow)
{
    State state = loaded();
    state.privacyHidden = true;
    std::optional<bool> asked;
    Actions actions;
    actions.setPrivacyHidden = [&](bool hidden) { asked = hidden; };
    QMenu menu;
    buildStatusMenu(menu, state, actions);
    const qsizetype rows = menu.actions().size();
    EXPECT_TRUE(find(menu, t(MessageKey::privacyShow))->isChecked());
    const_cast<QAction*>(find(menu, t(MessageKey::privacyShow)))->trigger();
    EXPECT_EQ(asked, false);
    buildStatusMenu(menu, state, actions);
    EXPECT_EQ(menu.actions().size(), rows);
}

TEST(StatusMenu, ItemTitleMarksWhatNeedsAttention)
{
    struct Case {
        const char* name;
        std::function<void(State&)> change;
        bool marked;
    };
    const std::vector<Case> cases = {
        {"all well", [](State&) {}, false},
        {"before loading", [](State& s) { s = State{}; }, false},
        {"privacy save failed", [](State& s) { s.privacySaveFailed = true; }, true},
        {"capture paused", [](State& s) { s.capture->statusKey = MessageKey::capturePaused; }, false},
        {"capture in trouble", [](State& s) { s.capture->statusKey = MessageKey::captureUnavailable; }, true},
        {"clipboard pending", [](State& s) { s.clipboard->needsAttention = true; }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        State state = loaded();
        c.change(state);
        const ItemText item = itemText(state, QStringLiteral("Tolvex"));
        EXPECT_EQ(item.title == QStringLiteral("!"), c.marked);
        EXPECT_EQ(item.toolTip.startsWith(QStringLiteral("Tolvex · ")), !state.privacySaveFailed);
    }
}

} // namespace
} // namespace tolvex
