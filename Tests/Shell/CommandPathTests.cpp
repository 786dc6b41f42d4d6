#include "Shelf/ShelfTesting.h"
#include "Shell/ShellTesting.h"
#include "TolvexCore/Texts/MessageFormat.h"
#include "TolvexCore/Texts/MessageKey.h"
#include "Velmarin/Actions/MaterialActions.h"
#include "Velmarin/Platform/EventSound.h"
#include "Velmarin/Presentation/AppLocalizer.h"
#include "Velmarin/Shell/CommandPath.h"
#include "Velmarin/Windows/WorkflowRecoveryController.h"

#include <gtest/gtest.h>

#include <optional>

namespace tolvex {
namespace {

using testing::CountingSound;
using testing::ScriptedStore;

TEST(CommandPath, AppliesRendersSoundsAndNotesTakeDowns)
{
    struct Case {
        const char* name;
        bool unpinnedTakeDown;
        bool soundOff;
        std::exception_ptr applyError;
        std::exception_ptr loadError;
        int plays;
        int errors;
        // Titles of the cards shown afterwards, and of those noted for undo.
        QStringList shown;
        QStringList noted;
    };
    const std::vector<Case> cases = {
        {"rename", false, false, {}, {}, 1, 0, {"a", "b", "stored"}, {}},
        {"rename without sound", false, true, {}, {}, 0, 0, {"a", "b", "stored"}, {}},
        {"take down the unpinned", true, false, {}, {}, 1, 0, {"a", "b", "stored"}, {"b", "c"}},
        {"refused", true, false, std::make_exception_ptr(StoreError::invalidSource()), {}, 0, 1, {"a", "b", "c"}, {}},
        {"re-read fails", true, false, {}, std::make_exception_ptr(StoreError::operationInProgress()), 1, 0, {"a", "applied"}, {"b", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing::ShelfFixture fixture;
        MaterialRecord& pinned = fixture.add(QStringLiteral("a"));
        pinned.pinned = true;
        fixture.add(QStringLiteral("b"));
        fixture.add(QStringLiteral("c"));
        MaterialRecord& elsewhere = fixture.add(QStringLiteral("other group"));
        elsewhere.matterID = QUuid::createUuid();
        const WorkspaceSnapshot before = fixture.snapshot;

        ScriptedStore store(fixture);
        store.applied = before;
        store.applied.materials[2].title = QStringLiteral("applied");
        store.applied.materials.removeAt(1);
        store.stored = before;
        store.stored.materials[2].title = QStringLiteral("stored");
        store.applyError = c.applyError;
        store.loadError = c.loadError;

        testing::MemoryUserDefaults defaults;
        defaults.setValue(QStringLiteral("soundOff"), c.soundOff);
        testing::CountingThumbnails thumbnails;
        Line line(store, defaults, thumbnails.maker());
        testing::finish(line.render(before));
        MaterialActions actions(line, QUrl());
        WorkflowRecoveryController recovery(line, actions);
        CountingSound sound;
        int errors = 0;
        CommandPath path(line, defaults, sound, [&] { return &recovery; }, [&](std::exception_ptr) { ++errors; });

        const MaterialCommand command = c.unpinnedTakeDown ? MaterialCommand::takeDownUnpinned(pinned.matterID)
                                                           : MaterialCommand::renameMaterial(pinned.id, QStringLiteral("x"));
        testing::finish(path.run(command));

        EXPECT_EQ(sound.plays, c.plays);
        EXPECT_EQ(errors, c.errors);
        QStringList shown;
        for (const Pegged& card : line.items())
            shown.append(card.displayTitle);
        EXPECT_EQ(shown, c.shown);
        QStringList noted;
        for (const QUuid& id : recovery.takenDownIDs())
            noted.append(before.findMaterial(id)->title);
        EXPECT_EQ(noted, c.noted);
        // The double's snapshots never mark the cards taken down, so the
        // undo offer itself cannot show here; its feedback line can.
        // Every take-down here is of two cards: the feedback counts them.
        const QString undoFeedback
            = MessageFormat::format(appLocalizer().string(MessageKey::historyUndoFeedbackBatch), {c.noted.size()});
        EXPECT_EQ(line.inputFeedback() == undoFeedback, !c.noted.isEmpty());
    }
}

} // namespace
} // namespace tolvex
