#pragma once

#include "TolvexCore/Model/MaterialCommand.h"
#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Store/PresentationPayloads.h"

#include <QFuture>
#include <QList>
#include <QUrl>

#include <chrono>
#include <cstdint>
#include <memory>

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
    // The data root whose payloads the store hands out, for the pictures the
    // line keeps of them; empty for a store of no root.
    virtual QUrl dataRoot() const { return {}; }
};

// The line's view of the one MaterialStore, which must outlive it.
//
// The store proves each payload by reading and hashing it, which for a
// shelf of large screenshots is a second or more per render; a rename would
// wait for that. So a payload the store has proven is remembered with its
// file's identity (device, inode, size, modification and change times) and
// not sent to the store again while that identity is unchanged: any write,
// replacement, chmod or removal changes it. Files changed around the time of
// their proof are not remembered. The checks run on a worker thread. GUI
// thread only.
class MaterialLineStore final : public LineStore {
public:
    // A file changed less than `settleWindow` before a proof is not
    // remembered (file times may lag the clock by a tick).
    explicit MaterialLineStore(MaterialStore& store, std::chrono::nanoseconds settleWindow = std::chrono::seconds(2));
    ~MaterialLineStore() override;

    MaterialStore& store() const { return store_; }

    QFuture<WorkspaceSnapshot> load() override;
    QFuture<WorkspaceSnapshot> apply(const MaterialCommand& command, std::int64_t visibleCapacity) override;
    QFuture<PresentationPayloads> presentationPayloads(const QList<MaterialRecord>& records) override;
    QUrl dataRoot() const override;

    struct Memo;

private:
    MaterialStore& store_;
    std::chrono::nanoseconds settleWindow_;
    std::shared_ptr<Memo> memo_;
};

} // namespace tolvex
