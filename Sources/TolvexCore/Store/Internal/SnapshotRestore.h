#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"

namespace tolvex {

class StoreContext;

// Puts "state.previous.json" back in place of a "state.json" that failed to
// load. Everything is checked before anything is changed on disk: the
// previous copy must decode, keep every rule and name payloads that are all
// there and intact, and the workspace it leads to must load, journal replay
// included. A restore that cannot help (the failure lies in a journal, which
// the previous copy meets as well) therefore changes nothing, and repeated
// attempts add no copies. The damaged "state.json" is set aside, never
// removed; if putting the previous copy in its place fails, it is put back.
// Allowed only while no workspace is loaded; the caller holds `busy`.
class SnapshotRestore {
public:
    explicit SnapshotRestore(StoreContext& context) : context_(context) {}

    WorkspaceSnapshot restorePreviousSnapshot();
    // Whether restorePreviousSnapshot would end with a loaded workspace,
    // decided without changing anything on disk.
    bool canRestorePreviousSnapshot();

private:
    // The workspace the restore leads to, or the error that stops it.
    WorkspaceSnapshot restoredWorkspace();
    void verifyPayloads(const WorkspaceSnapshot& snapshot);

    StoreContext& context_;
};

} // namespace tolvex
