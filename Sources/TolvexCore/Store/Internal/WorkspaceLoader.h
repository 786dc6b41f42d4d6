#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"

namespace tolvex {

class StoreContext;
struct StoreJournal;

// Loads the workspace from the data root: prepares the folders, reads and
// checks "state.json" (or starts the empty workspace in a new data root),
// validates it, and takes in every journalled commit whose payload reached
// "Materials" but not the snapshot, marking that material needsReview. The
// repaired snapshot is cached, not saved.
class WorkspaceLoader {
public:
    explicit WorkspaceLoader(StoreContext& context) : context_(context) {}

    // The cached workspace after the root check, or a load from disk.
    WorkspaceSnapshot ensureLoaded();

    // What a load of `snapshot` as "state.json" gives: the snapshot rules,
    // the journal replay, the rules again. Reads the journals and the
    // payloads they bring in; writes nothing and caches nothing.
    WorkspaceSnapshot repaired(WorkspaceSnapshot snapshot);

private:
    WorkspaceSnapshot readState(bool& stateExists);
    // Whether any journal changed the snapshot.
    bool replayJournals(WorkspaceSnapshot& snapshot);
    bool replay(const StoreJournal& journal, WorkspaceSnapshot& snapshot);
    // Whether the payload of a version is there; throws recoveryRequired when
    // it is there but is not exactly the version.
    bool verifyReplayedPayload(const MaterialVersion& version, bool compareSize);

    StoreContext& context_;
};

} // namespace tolvex
