#include "Shelf/ShelfTesting.h"
#include "Velmarin/Shell/CommandPath.h"
#include "Velmarin/Shell/EventSound.h"
#include "Velmarin/Shell/MaterialActions.h"
#include "Velmarin/Shell/WorkflowRecoveryController.h"

#include <gtest/gtest.h>

#include <optional>

namespace tolvex {
namespace {

// Answers at once: apply with a chosen snapshot or error, the re-read with
// the store's state or an error, payloads with the fixture's files.
class ScriptedStore final : public LineStore {
public:
    explicit ScriptedStore(testing::ShelfFixture& fixture) : fixture_(fixture) {}

    QFuture<WorkspaceSnapshot> load() override
    {
        if (loadError)
            return QtFuture::makeExceptionalFuture<WorkspaceSnapshot>(*loadError);
        return QtFuture::makeReadyFuture(stored);
    }
    QFuture<WorkspaceSnapshot> apply(const MaterialCommand&, std::int64_t) override
    {
        if (applyError)
            return QtFuture::makeExceptionalFuture<WorkspaceSnapshot>(*applyError);
        return QtFuture::makeReadyFuture(applied);
    }
    QFuture<PresentationPayloads> presentationPayloads(const QList<MaterialRecord>& records) override
    {
        return QtFuture::makeReadyFuture(fixture_.locations(records));
    }

    WorkspaceSnapshot applied;
    WorkspaceSnapshot stored;
    std::optional<StoreError> applyError;
    std::optional<StoreError> loadError;

private:
    testing::ShelfFixture& fixture_;
};

struct CountingSound final : EventSound {
    void play() override { ++plays; }
    int plays = 0;
};

TEST(CommandPath, AppliesRendersSoundsAndNotesTakeDowns)
{
    struct Case {
        const char* name;
        bool unpinnedTakeDown;
        bool soundOff;
        std::optional<StoreError> applyError;
        std::optional<StoreError> loadError;
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
        {"refused", true, false, StoreError::invalidSource(), {}, 0, 1, {"a", "b", "c"}, {}},
        {"re-read fails", true, false, {}, StoreError::operationInProgress(), 1, 0, {"a", "applied"}, {"b", "c"}},
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
        EXPECT_EQ(recovery.canUndoTakeDown(Date::now()), !c.noted.isEmpty());
    }
}

} // namespace
} // namespace tolvex
