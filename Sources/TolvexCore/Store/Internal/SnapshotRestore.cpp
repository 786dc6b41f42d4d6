#include "TolvexCore/Store/Internal/SnapshotRestore.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/SchemaVersionProbe.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <system_error>

namespace tolvex {

WorkspaceSnapshot SnapshotRestore::restorePreviousSnapshot()
{
    // A loaded workspace is in use: replacing its file under it would lose it.
    if (context_.state)
        throw StoreError::operationInProgress();
    context_.prepareDirectories();

    const QUrl previousURL = context_.url(DataRoot::previousStateFile());
    const FileInfo info = context_.files->inspect(previousURL);
    if (!info.isRegularFile || info.isSymbolicLink)
        throw StoreError::recoveryRequired();
    const WorkspaceSnapshot previous = context_.readRecord<WorkspaceSnapshot>(previousURL);
    // Another schema version or any broken rule is invalidSnapshot; a path
    // through a link is the guard's invalidPath.
    context_.validate(previous);
    verifyPayloads(previous);

    // Nothing has changed on disk up to here.
    const QUrl stateURL = context_.url(DataRoot::stateFile());
    if (context_.exists(stateURL)) {
        const std::optional<std::int64_t> schemaVersion = probeSchemaVersion(context_.files->read(stateURL));
        // A workspace written by another version of the program is left alone.
        if (schemaVersion && *schemaVersion != 1)
            throw StoreError::unsupportedSchema();
        const QString damagedName = DataRoot::damagedStateFile(QUuid::createUuid());
        context_.files->move(stateURL, context_.url(damagedName));
    }
    context_.files->copy(previousURL, stateURL);
    return context_.ensureLoaded();
}

void SnapshotRestore::verifyPayloads(const WorkspaceSnapshot& snapshot)
{
    for (const MaterialRecord& material : snapshot.materials) {
        if (material.status == MaterialStatus::trashed)
            continue;
        for (const MaterialVersion& version : material.versions) {
            const QUrl url = context_.url(version.relativePath);
            const FileInfo info = context_.files->inspect(url);
            if (!info.isRegularFile || info.isSymbolicLink || info.byteCount != version.byteCount)
                throw StoreError::recoveryRequired();
            if (ContentStore::digest(context_.files->read(url)) != version.sha256)
                throw StoreError::recoveryRequired();
        }
    }
}

} // namespace tolvex
