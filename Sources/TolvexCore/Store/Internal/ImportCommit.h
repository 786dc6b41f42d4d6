#pragma once

#include "TolvexCore/Content/StagedContent.h"
#include "TolvexCore/Intake/ClipboardFileFingerprint.h"
#include "TolvexCore/Model/DuplicateImportPolicy.h"
#include "TolvexCore/Model/ImportRequest.h"
#include "TolvexCore/Model/ImportResult.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/CancellationError.h"
#include "TolvexCore/Store/Internal/StoreExecutor.h"

#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace tolvex {

class ContentStore;
class StoreContext;

// What an import is asked to do.
struct ImportOrder {
    ImportRequest request;
    QUuid matterID;
    std::int64_t visibleCapacity = 0;
    bool deduplicateClipboardContent = false;
    std::optional<ClipboardFileFingerprint> expectedClipboardFile;
    DuplicateImportPolicy duplicatePolicy = DuplicateImportPolicy::keepExisting;
    CancellationToken cancellation;
};

// The size, digest and provenance of a request's content.
struct PayloadFacts {
    std::int64_t byteCount = 0;
    QString sha256;
    SourceRecord source;
};

// The road by which outside content becomes a material: the facts of the
// content, the duplicate test, room on the shelf and in the budget, staging
// off the actor, then the journalled commit (journal "contentReady", the
// payload moved into "Materials", journal "contentCommitted"), the card hung
// and the workspace saved. From the move on, a failure drops the loaded
// workspace so that the next operation reads the disk and replays the journal.
class ImportCommit {
public:
    // Everything the staging and the commit need from the first half.
    struct Plan {
        ImportOrder order;
        WorkspaceSnapshot loaded;
        PayloadFacts facts;
    };
    using Decision = StoreExecutor::Decision<ImportResult, Plan>;

    // Runs on the actor with `busy` held: ends with a duplicate, a rehang or
    // a full shelf, or hands on a plan to stage.
    static Decision prepare(StoreContext& context, ImportOrder order);
    // Runs on the shared pool.
    static StagedContent stage(const ContentStore& content, const Plan& plan);
    // Runs on the actor again with `busy` held: the journalled commit.
    static ImportResult finish(StoreContext& context, Plan& plan, StagedContent& staged);

    static PayloadFacts payloadInfo(const StoreContext& context, const ImportRequest& request);
    // Hangs a material again (its active payload must be intact) at the end
    // of its group; saves nothing. shelfFull with the given snapshot when there is no room.
    static ImportResult rehang(StoreContext& context, const MaterialRecord& record, const WorkspaceSnapshot& snapshot,
        std::int64_t visibleCapacity);

private:
    static void checkExpectedClipboardFile(const StoreContext& context, const ImportOrder& order,
        const PayloadFacts& facts);
    static const MaterialRecord* findDuplicate(const WorkspaceSnapshot& snapshot, const ImportOrder& order,
        const PayloadFacts& facts);
};

} // namespace tolvex
