#pragma once

#include "Shelf/ShelfTesting.h"
#include "Velmarin/Platform/EventSound.h"

#include <QFuture>

#include <exception>

namespace tolvex::testing {

// Answers at once: apply with a chosen snapshot or error, the re-read with
// the store's state or an error, payloads with the fixture's files.
class ScriptedStore final : public LineStore {
public:
    explicit ScriptedStore(ShelfFixture& fixture) : fixture_(fixture) {}

    QFuture<WorkspaceSnapshot> load() override
    {
        if (loadError)
            return QtFuture::makeExceptionalFuture<WorkspaceSnapshot>(loadError);
        return QtFuture::makeReadyFuture(stored);
    }
    QFuture<WorkspaceSnapshot> apply(const MaterialCommand&, std::int64_t) override
    {
        if (applyError)
            return QtFuture::makeExceptionalFuture<WorkspaceSnapshot>(applyError);
        return QtFuture::makeReadyFuture(applied);
    }
    QFuture<PresentationPayloads> presentationPayloads(const QList<MaterialRecord>& records) override
    {
        return QtFuture::makeReadyFuture(fixture_.locations(records));
    }

    WorkspaceSnapshot applied;
    WorkspaceSnapshot stored;
    // Kept whole, so that an error of a type of its own stays one.
    std::exception_ptr applyError;
    std::exception_ptr loadError;

private:
    ShelfFixture& fixture_;
};

struct CountingSound final : EventSound {
    void play() override { ++plays; }
    int plays = 0;
};

} // namespace tolvex::testing
