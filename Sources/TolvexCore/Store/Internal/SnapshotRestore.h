#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"

namespace tolvex {

class StoreContext;

// Puts "state.previous.json" back in place of a "state.json" that failed to
// load. Everything is checked before anything is changed on disk: the
// previous copy must decode, keep every rule and name payloads that are all
// there and intact. The damaged "state.json" is set aside, never removed.
// Allowed only while no workspace is loaded; the caller holds `busy`.
class SnapshotRestore {
public:
    explicit SnapshotRestore(StoreContext& context) : context_(context) {}

    WorkspaceSnapshot restorePreviousSnapshot();

private:
    void verifyPayloads(const WorkspaceSnapshot& snapshot);

    StoreContext& context_;
};

} // namespace tolvex
