#pragma once

#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/PresentationPayloads.h"

#include <QFuture>
#include <QList>

#include <cstdint>

namespace tolvex {

class MaterialStore;

// What the line asks of the store: the three calls it awaits. The program
// passes MaterialLineStore; tests pass a double that settles each call when
// the test says so, to reproduce every interleaving of renders and covers.
class LineStore {
public:
    virtual ~LineStore() = default;

    virtual QFuture<WorkspaceSnapshot> load() = 0;
    virtual QFuture<WorkspaceSnapshot> apply(const MaterialCommand& command, std::int64_t visibleCapacity) = 0;
    virtual QFuture<PresentationPayloads> presentationPayloads(const QList<MaterialRecord>& records) = 0;
};

// The line's view of the one MaterialStore, which must outlive it.
class MaterialLineStore final : public LineStore {
public:
    explicit MaterialLineStore(MaterialStore& store) : store_(store) {}

    MaterialStore& store() const { return store_; }

    QFuture<WorkspaceSnapshot> load() override;
    QFuture<WorkspaceSnapshot> apply(const MaterialCommand& command, std::int64_t visibleCapacity) override;
    QFuture<PresentationPayloads> presentationPayloads(const QList<MaterialRecord>& records) override;

private:
    MaterialStore& store_;
};

} // namespace tolvex
