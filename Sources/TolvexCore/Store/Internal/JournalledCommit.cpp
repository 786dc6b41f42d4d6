#include "TolvexCore/Store/Internal/JournalledCommit.h"

#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

namespace tolvex::JournalledCommit {

MaterialVersion plannedVersion(const StagedContent& staged, const QUuid& materialID, VersionKind kind)
{
    MaterialVersion version;
    version.id = QUuid::createUuid();
    version.relativePath = DataRoot::versionPath(materialID, version.id, staged.fileExtension);
    version.sha256 = staged.sha256;
    version.byteCount = staged.byteCount;
    version.kind = kind;
    version.createdAt = Date::now();
    return version;
}

void announce(StoreContext& context, StoreJournal& journal)
{
    journal.phase = StoreJournal::Phase::contentReady;
    context.files->writeAtomic(Json::encode(journal), context.url(journal.relativePath()));
}

MaterialVersion complete(StoreContext& context, const StagedContent& staged, StoreJournal& journal,
    const MaterialVersion& planned)
{
    MaterialVersion committed = context.content.commit(staged, journal.record.id, planned.id);
    if (committed.relativePath != planned.relativePath || committed.sha256 != planned.sha256
        || committed.byteCount != planned.byteCount)
        throw StoreError::recoveryRequired();
    journal.phase = StoreJournal::Phase::contentCommitted;
    context.files->writeAtomic(Json::encode(journal), context.url(journal.relativePath()));
    committed.kind = planned.kind;
    committed.createdAt = planned.createdAt;
    return committed;
}

} // namespace tolvex::JournalledCommit
