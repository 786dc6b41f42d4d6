#include "TolvexCore/Store/Internal/WorkspaceLoader.h"

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/Json/JsonDocument.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/SchemaVersionProbe.h"
#include "TolvexCore/Store/Internal/StoreContext.h"

#include <QSet>

#include <system_error>

namespace tolvex {

WorkspaceSnapshot WorkspaceLoader::ensureLoaded()
{
    context_.checkRoot();
    if (context_.state)
        return *context_.state;

    context_.prepareDirectories();
    // What a crash in the middle of an atomic write left: never material,
    // and no later listing has to know about it.
    context_.removeAtomicWriteLeftovers();
    bool stateExists = false;
    const WorkspaceSnapshot snapshot = repaired(readState(stateExists));
    context_.state = snapshot;
    context_.loadedExistingWorkspace = stateExists;
    return snapshot;
}

WorkspaceSnapshot WorkspaceLoader::repaired(WorkspaceSnapshot snapshot)
{
    context_.validate(snapshot);
    // A snapshot the journals left as it was has just been validated.
    if (replayJournals(snapshot))
        context_.validate(snapshot);
    return snapshot;
}

WorkspaceSnapshot WorkspaceLoader::readState(bool& stateExists)
{
    const QUrl stateURL = context_.url(DataRoot::stateFile());
    stateExists = context_.exists(stateURL);
    if (!stateExists) {
        // A lost "state.json" is never replaced by an empty workspace.
        if (context_.exists(context_.url(DataRoot::previousStateFile())))
            throw StoreError::recoveryRequired();
        return WorkspaceSnapshot();
    }

    const FileInfo info = context_.files->inspect(stateURL);
    if (!info.isRegularFile || info.isSymbolicLink)
        throw StoreError::invalidPath();
    // One parse serves both the schema check and the decoding.
    std::optional<Json::JsonDocument> document;
    try {
        document.emplace(Json::JsonDocument::parse(context_.files->read(stateURL)));
    } catch (const Json::DecodingError&) {
        throw StoreError::recoveryRequired();
    }
    const std::optional<std::int64_t> schemaVersion = probeSchemaVersion(*document);
    if (!schemaVersion)
        throw StoreError::recoveryRequired();
    if (*schemaVersion != 1)
        throw StoreError::unsupportedSchema();
    try {
        return Json::decode<WorkspaceSnapshot>(*document);
    } catch (const Json::DecodingError&) {
        throw StoreError::recoveryRequired();
    }
}

bool WorkspaceLoader::replayJournals(WorkspaceSnapshot& snapshot)
{
    bool changed = false;
    // Staging files and anything else but journals are not looked at.
    for (const QString& name : context_.journalFileNames()) {
        const QUrl journalURL = context_.url(DataRoot::entry(DataRoot::transactionsFolder(), name));
        const StoreJournal journal = context_.readRecord<StoreJournal>(journalURL);
        if (name != DataRoot::journalFileName(journal.id))
            throw StoreError::invalidPath();
        changed = replay(journal, snapshot) || changed;
    }
    return changed;
}

bool WorkspaceLoader::replay(const StoreJournal& journal, WorkspaceSnapshot& snapshot)
{
    const MaterialRecord& record = journal.record;
    if (MaterialRecord* material = snapshot.findMaterial(record.id)) {
        // A new version of a material the snapshot holds (an edit, a continued note).
        if (material->status == MaterialStatus::trashed || !journal.baseVersionID
            || material->activeVersionID != *journal.baseVersionID || material->findVersion(record.activeVersionID)
            || material->originalVersionID != record.originalVersionID)
            return false;
        context_.validateRecord(record);

        QSet<QUuid> known;
        for (const MaterialVersion& version : material->versions)
            known.insert(version.id);
        QList<MaterialVersion> added;
        for (const MaterialVersion& version : record.versions) {
            if (!known.contains(version.id))
                added.append(version);
        }
        if (added.isEmpty())
            return false;
        for (const MaterialVersion& version : added) {
            if (!verifyReplayedPayload(version, true))
                return false; // The commit never moved its payload: nothing to take in.
        }
        material->versions.append(added);
        material->activeVersionID = record.activeVersionID;
        material->status = MaterialStatus::needsReview;
        return true;
    }

    // A new material (an import, a new note) that did not reach the snapshot.
    const MaterialVersion* active = record.findVersion(record.activeVersionID);
    if (!active)
        return false;
    if (!context_.exists(context_.url(active->relativePath)))
        return false;
    context_.validateRecord(record);
    if (!verifyReplayedPayload(*active, false))
        return false;
    MaterialRecord adopted = record;
    adopted.status = MaterialStatus::needsReview;
    snapshot.materials.append(adopted);
    return true;
}

bool WorkspaceLoader::verifyReplayedPayload(const MaterialVersion& version, bool compareSize)
{
    const QUrl payloadURL = context_.url(version.relativePath);
    if (compareSize) {
        if (!context_.exists(payloadURL))
            return false;
        const FileInfo info = context_.files->inspect(payloadURL);
        if (!info.isRegularFile || info.isSymbolicLink || info.byteCount != version.byteCount)
            throw StoreError::recoveryRequired();
    }
    const QByteArray bytes = context_.files->read(payloadURL);
    if (ContentStore::digest(bytes) != version.sha256)
        throw StoreError::recoveryRequired();
    return true;
}

} // namespace tolvex
