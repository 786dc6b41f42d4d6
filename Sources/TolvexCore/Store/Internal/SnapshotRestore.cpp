#include "TolvexCore/Store/Internal/SnapshotRestore.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/SchemaVersionProbe.h"
#include "TolvexCore/Store/Internal/StoreContext.h"
#include "TolvexCore/Store/Internal/WorkspaceLoader.h"

#include <optional>
#include <system_error>

namespace tolvex {

WorkspaceSnapshot SnapshotRestore::restorePreviousSnapshot()
{
    // A loaded workspace is in use: replacing its file under it would lose it.
    if (context_.state)
        throw StoreError::operationInProgress();
    context_.prepareDirectories();
    const WorkspaceSnapshot restored = restoredWorkspace();

    // Nothing has changed on disk up to here.
    const QUrl stateURL = context_.url(DataRoot::stateFile());
    std::optional<QUrl> setAside;
    if (context_.exists(stateURL)) {
        setAside = context_.url(DataRoot::damagedStateFile(QUuid::createUuid()));
        context_.files->move(stateURL, *setAside);
    }
    try {
        context_.files->copy(context_.url(DataRoot::previousStateFile()), stateURL);
    } catch (const std::system_error&) {
        // The failed copy left no file; the damaged one goes back to its
        // name, so that a restore that did not happen leaves no copy behind.
        if (setAside) {
            try {
                context_.files->move(*setAside, stateURL);
            } catch (const std::system_error&) {
                // Then it stays safe in its copy, and the restore can be asked for again.
            }
        }
        throw;
    }
    // What a load of the new "state.json" would do first.
    context_.removeAtomicWriteLeftovers();
    context_.state = restored;
    context_.loadedExistingWorkspace = true;
    return restored;
}

bool SnapshotRestore::canRestorePreviousSnapshot()
{
    if (context_.state || !context_.paths.rootIsAtAnchor())
        return false;
    try {
        restoredWorkspace();
        return true;
    } catch (const StoreError&) {
        return false;
    } catch (const std::system_error&) {
        return false;
    }
}

WorkspaceSnapshot SnapshotRestore::restoredWorkspace()
{
    const QUrl previousURL = context_.url(DataRoot::previousStateFile());
    const FileInfo info = context_.files->inspect(previousURL);
    if (!info.isRegularFile || info.isSymbolicLink)
        throw StoreError::recoveryRequired();
    const WorkspaceSnapshot previous = context_.readRecord<WorkspaceSnapshot>(previousURL);
    // Another schema version or any broken rule is invalidSnapshot; a path
    // through a link is the guard's invalidPath.
    context_.validate(previous);
    verifyPayloads(previous);

    const QUrl stateURL = context_.url(DataRoot::stateFile());
    if (context_.exists(stateURL)) {
        const std::optional<std::int64_t> schemaVersion = probeSchemaVersion(context_.files->read(stateURL));
        // A workspace written by another version of the program is left alone.
        if (schemaVersion && *schemaVersion != 1)
            throw StoreError::unsupportedSchema();
    }
    // The load the restore ends with, run on the previous copy before it is
    // put in place: the journals meet it as they would meet the new
    // "state.json", so a journal the load fails on fails here.
    return WorkspaceLoader(context_).repaired(previous);
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
