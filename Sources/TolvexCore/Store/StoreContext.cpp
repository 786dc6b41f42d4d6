#include "TolvexCore/Store/StoreContext.h"

#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/FileErrors.h"
#include "TolvexCore/Store/GuardedPathCache.h"
#include "TolvexCore/Store/PayloadAccess.h"
#include "TolvexCore/Store/StorageBudgetCheck.h"
#include "TolvexCore/Store/StoreError.h"
#include "TolvexCore/Store/WorkspaceLoader.h"

#include <QHash>

#include <limits>

namespace tolvex {

namespace {

const QString stateFile = QStringLiteral("state.json");
const QString previousStateFile = QStringLiteral("state.previous.json");

bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

bool isDigest(const QString& text)
{
    if (text.size() != 64)
        return false;
    for (const QChar c : text) {
        if (!isHexDigit(c))
            return false;
    }
    return true;
}

} // namespace

StoreContext::StoreContext(const QUrl& root, FileOperationsRef files, StorageBudget budget)
    : paths(root), files(files), budget(budget), content(root, files)
{
}

void StoreContext::requireIdle() const
{
    if (busy)
        throw StoreError::operationInProgress();
}

bool StoreContext::exists(const QUrl& url) const
{
    try {
        files->inspect(url);
        return true;
    } catch (const std::system_error& error) {
        if (isMissingFileError(error))
            return false;
        throw;
    }
}

void StoreContext::checkRoot() const
{
    if (!paths.rootIsAtAnchor())
        throw StoreError::invalidPath();
}

void StoreContext::prepareDirectories() const
{
    checkRoot();
    files->createDirectory(paths.root());
    // A root that became a link while it was created is refused here.
    checkRoot();
    for (const char* name : {"Materials", "Drafts", "Transactions", "Exports"}) {
        const QString folder = QString::fromLatin1(name);
        files->createDirectory(url(folder));
        // The guard looks again at the folder that now exists.
        url(folder);
    }
}

WorkspaceSnapshot StoreContext::ensureLoaded()
{
    return WorkspaceLoader(*this).ensureLoaded();
}

void StoreContext::validate(const WorkspaceSnapshot& snapshot) const
{
    if (snapshot.schemaVersion != 1)
        throw StoreError::invalidSnapshot();
    if (snapshot.generation == std::numeric_limits<std::uint64_t>::max())
        throw StoreError::invalidSnapshot();

    QSet<QUuid> matterIDs;
    matterIDs.reserve(snapshot.matters.size());
    for (const MatterGroup& matter : snapshot.matters) {
        if (matterIDs.contains(matter.id))
            throw StoreError::invalidSnapshot();
        matterIDs.insert(matter.id);
    }
    QSet<QUuid> materialIDs;
    materialIDs.reserve(snapshot.materials.size());
    for (const MaterialRecord& material : snapshot.materials) {
        if (materialIDs.contains(material.id))
            throw StoreError::invalidSnapshot();
        materialIDs.insert(material.id);
    }
    if (snapshot.matters.isEmpty() || !matterIDs.contains(snapshot.selectedMatterID))
        throw StoreError::invalidSnapshot();
    if (!matterIDs.contains(MatterGroup::ungroupedID()))
        throw StoreError::invalidSnapshot();

    GuardedPathCache cache(paths);
    for (const MaterialRecord& material : snapshot.materials) {
        if (!matterIDs.contains(material.matterID))
            throw StoreError::invalidSnapshot();
        validateRecord(material, &cache);
    }
}

void StoreContext::validateRecord(const MaterialRecord& record, GuardedPathCache* cache) const
{
    if (record.versions.isEmpty())
        throw StoreError::invalidSnapshot();
    if (record.versions.size() > 1) {
        QSet<QUuid> versionIDs;
        for (const MaterialVersion& version : record.versions) {
            if (versionIDs.contains(version.id))
                throw StoreError::invalidSnapshot();
            versionIDs.insert(version.id);
        }
    }
    const MaterialVersion* original = record.findVersion(record.originalVersionID);
    if (!original || original->kind != VersionKind::original)
        throw StoreError::invalidSnapshot();
    if (!record.findVersion(record.activeVersionID))
        throw StoreError::invalidSnapshot();
    if (record.order < 0)
        throw StoreError::invalidSnapshot();
    if (record.source.locator && record.source.locator->isPdfIndex() && record.source.locator->index() < 0)
        throw StoreError::invalidSnapshot();

    const QString idText = uuidText(record.id);
    const QString folderPrefix = QStringLiteral("Materials/") + idText + u'/';
    for (const MaterialVersion& version : record.versions) {
        const QString& path = version.relativePath;
        if (!path.startsWith(folderPrefix))
            throw StoreError::invalidSnapshot();
        // The folder that holds the file is the material's own folder.
        const qsizetype lastSlash = path.lastIndexOf(u'/');
        const qsizetype folderSlash = path.lastIndexOf(u'/', lastSlash - 1);
        if (QStringView(path).mid(folderSlash + 1, lastSlash - folderSlash - 1) != idText)
            throw StoreError::invalidSnapshot();
        const QStringView fileName = QStringView(path).mid(lastSlash + 1);
        const QString versionPrefix = uuidText(version.id) + u'.';
        if (!fileName.startsWith(versionPrefix))
            throw StoreError::invalidSnapshot();
        if (version.byteCount < 0)
            throw StoreError::invalidSnapshot();
        if (!isDigest(version.sha256))
            throw StoreError::invalidSnapshot();
        if (cache)
            cache->check(path);
        else
            url(path);
    }
}

WorkspaceSnapshot StoreContext::persist(WorkspaceSnapshot snapshot)
{
    // The caller's generation does not count: the loaded one does.
    snapshot.generation = (state ? state->generation : 0) + 1;
    validate(snapshot);

    const QUrl stateURL = url(stateFile);
    if (exists(stateURL)) {
        const QByteArray oldBytes = files->read(stateURL);
        files->writeAtomic(oldBytes, url(previousStateFile));
    }
    files->writeAtomic(Json::encode(snapshot), stateURL);
    state = snapshot;
    return snapshot;
}

QUrl StoreContext::payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID)
{
    return PayloadAccess(*this).payloadURL(materialID, versionID);
}

std::int64_t StoreContext::retainedBytes(const QString& relativePath) const
{
    return StorageBudgetCheck(*this).retainedBytes(relativePath);
}

void StoreContext::checkBudget(std::int64_t bytes) const
{
    StorageBudgetCheck(*this).checkBudget(bytes);
}

} // namespace tolvex
