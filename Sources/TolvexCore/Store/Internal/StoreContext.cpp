#include "TolvexCore/Store/Internal/StoreContext.h"

#include "TolvexCore/Files/AtomicWriteName.h"
#include "TolvexCore/Files/LocalPathEncoding.h"

#include "TolvexCore/Files/FileErrors.h"
#include "TolvexCore/Model/DataRoot.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/GuardedPathCache.h"
#include "TolvexCore/Store/Internal/PayloadAccess.h"
#include "TolvexCore/Store/Internal/StorageBudgetCheck.h"
#include "TolvexCore/Store/Internal/WorkspaceLoader.h"

#include <QHash>

#include <exception>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

namespace tolvex {

namespace {


bool isHexDigit(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The canonical upper-case text of a UUID, without allocating: validation
// compares it against every path of every material.
struct UuidChars {
    explicit UuidChars(const QUuid& id)
    {
        // data1-data2-data3-data4[0..1]-data4[2..7], most significant digit first.
        const uchar bytes[16] = {uchar(id.data1 >> 24), uchar(id.data1 >> 16), uchar(id.data1 >> 8), uchar(id.data1),
            uchar(id.data2 >> 8), uchar(id.data2), uchar(id.data3 >> 8), uchar(id.data3), id.data4[0], id.data4[1],
            id.data4[2], id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]};
        static constexpr char16_t hex[] = u"0123456789ABCDEF";
        qsizetype at = 0;
        for (int i = 0; i < 16; ++i) {
            if (i == 4 || i == 6 || i == 8 || i == 10)
                chars[at++] = u'-';
            chars[at++] = hex[bytes[i] >> 4];
            chars[at++] = hex[bytes[i] & 0xF];
        }
    }
    QStringView view() const { return QStringView(chars, 36); }
    char16_t chars[36];
};

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

// The record rules that need no file system. Each stored path that passed
// them is added to `storedPaths`, in order, for the guard to look at.
void checkRecordRules(const MaterialRecord& record, std::vector<const QString*>& storedPaths)
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

    static const QString materials = DataRoot::materialsFolder() + u'/';
    const UuidChars idText(record.id);
    for (const MaterialVersion& version : record.versions) {
        const QStringView path = version.relativePath;
        // "Materials/<material id>/..."
        if (!path.startsWith(materials) || path.mid(materials.size(), 36) != idText.view()
            || path.mid(materials.size() + 36, 1) != u"/")
            throw StoreError::invalidSnapshot();
        // The folder that holds the file is the material's own folder.
        const qsizetype lastSlash = path.lastIndexOf(u'/');
        const qsizetype folderSlash = path.lastIndexOf(u'/', lastSlash - 1);
        if (path.mid(folderSlash + 1, lastSlash - folderSlash - 1) != idText.view())
            throw StoreError::invalidSnapshot();
        // The file is named by the version: "<version id>." and an extension.
        const QStringView fileName = path.mid(lastSlash + 1);
        if (fileName.size() < 37 || fileName.left(36) != UuidChars(version.id).view() || fileName[36] != u'.')
            throw StoreError::invalidSnapshot();
        if (version.byteCount < 0)
            throw StoreError::invalidSnapshot();
        if (!isDigest(version.sha256))
            throw StoreError::invalidSnapshot();
        storedPaths.push_back(&version.relativePath);
    }
}

} // namespace

StoreContext::StoreContext(const QUrl& root, FileOperationsRef files, StorageBudget budget,
    std::optional<DataRootLock> lock)
    : paths(root), files(files), budget(budget), content(root, files), rootLock_(std::move(lock))
{
}

DataRootLock StoreContext::lockRoot(const OwnedPaths& paths)
{
    if (!paths.rootIsAtAnchor())
        throw StoreError::invalidPath();
    return DataRootLock::acquire(paths.root().toLocalFile());
}

void StoreContext::holdRoot()
{
    if (rootReplaced_)
        throw StoreError::rootReplaced();
    if (rootLock_) {
        if (!rootLock_->isHeldFolder(paths.root().toLocalFile())) {
            rootReplaced_ = true;
            throw StoreError::rootReplaced();
        }
        return;
    }
    if (rootLockRefusal_)
        throw *rootLockRefusal_;
    try {
        rootLock_.emplace(lockRoot(paths));
    } catch (const StoreError&) {
        // Not at its anchor: the operation's own first step refuses it.
        return;
    } catch (const std::system_error& error) {
        // Any other failure (a folder that cannot be made, say) is the
        // load's own error and is tried again by the next operation.
        if (error.code() == std::errc::operation_would_block)
            rootLockRefusal_.emplace(error);
        throw;
    }
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
    for (const QString& folder : DataRoot::preparedFolders()) {
        files->createDirectory(url(folder));
        // The guard looks again at the folder that now exists.
        url(folder);
    }
}

namespace {

bool isAtomicWriteLeftover(const QUrl& entry)
{
    return isAtomicWriteTemporaryName(encodeLocalPath(entry.fileName()).toStdString());
}

} // namespace

QList<QUrl> StoreContext::list(const QUrl& folder) const
{
    QList<QUrl> entries = files->list(folder);
    entries.removeIf(isAtomicWriteLeftover);
    return entries;
}

QStringList StoreContext::listNames(const QUrl& folder) const
{
    QStringList names = files->listNames(folder);
    names.removeIf([](const QString& name) { return isAtomicWriteTemporaryName(encodeLocalPath(name).toStdString()); });
    return names;
}

void StoreContext::removeAtomicWriteLeftovers() const
{
    const auto sweep = [&](const QUrl& folder) {
        for (const QUrl& entry : files->list(folder)) {
            if (isAtomicWriteLeftover(entry))
                files->removeAtomicWriteLeftover(entry);
        }
    };
    sweep(paths.root());
    sweep(url(DataRoot::transactionsFolder()));
    for (const QUuid& id : draftFolderIDs())
        sweep(url(DataRoot::draftFolder(id)));
    sweep(url(DataRoot::draftsFolder()));
    const QUrl records = url(DataRoot::cleanupRecordsFolder());
    if (exists(records))
        sweep(records);
}

QList<QUuid> StoreContext::draftFolderIDs() const
{
    QList<QUuid> ids;
    for (const QUrl& entry : list(url(DataRoot::draftsFolder()))) {
        const std::optional<QUuid> id = DataRoot::draftFolderID(entry.fileName());
        if (!id)
            continue;
        // Looked at where the listing found it: the guard would refuse a
        // link, and a link is only a stray entry here.
        const FileInfo info = files->inspect(entry);
        if (!info.isRegularFile && !info.isSymbolicLink)
            ids.append(*id);
    }
    return ids;
}

QStringList StoreContext::journalFileNames() const
{
    QStringList names;
    for (const QUrl& entry : list(url(DataRoot::transactionsFolder()))) {
        QString name = entry.fileName();
        if (DataRoot::isJournalName(name))
            names.append(std::move(name));
    }
    return names;
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

    // Every rule that needs no file system first, in order; then the guard's
    // look at each stored path that came before the first broken rule, so
    // that the error is the one a check of each record in turn would raise.
    // Meanwhile the guard lists "Materials", where the stored paths lie, on
    // a thread of its own. (Checking the rules themselves on several threads
    // does not pay: they take a fraction of the guard's looks, which
    // checkAll() already shares out.)
    GuardedPathCache guard(paths);
    std::vector<const QString*> storedPaths;
    storedPaths.reserve(static_cast<std::size_t>(snapshot.materials.size()));
    std::exception_ptr broken;
    std::exception_ptr listingFailed;
    {
        std::optional<std::jthread> lister;
        if (!snapshot.materials.isEmpty()) {
            try {
                lister.emplace([&guard, &listingFailed] {
                    try {
                        guard.prepareTopFolder(DataRoot::materialsFolder());
                    } catch (...) {
                        listingFailed = std::current_exception(); // no memory
                    }
                });
            } catch (const std::system_error&) {
                // No thread to be had: the first path below "Materials" lists it.
            }
        }
        try {
            for (const MaterialRecord& material : snapshot.materials) {
                if (!matterIDs.contains(material.matterID))
                    throw StoreError::invalidSnapshot();
                checkRecordRules(material, storedPaths);
            }
        } catch (const StoreError&) {
            broken = std::current_exception();
        }
    }
    if (listingFailed)
        std::rethrow_exception(listingFailed);
    guard.checkAll(storedPaths);
    if (broken)
        std::rethrow_exception(broken);
}

void StoreContext::validateRecord(const MaterialRecord& record, GuardedPathCache* cache) const
{
    std::vector<const QString*> storedPaths;
    std::exception_ptr broken;
    try {
        checkRecordRules(record, storedPaths);
    } catch (const StoreError&) {
        broken = std::current_exception();
    }
    for (const QString* path : storedPaths) {
        if (cache)
            cache->check(*path);
        else
            url(*path);
    }
    if (broken)
        std::rethrow_exception(broken);
}

WorkspaceSnapshot StoreContext::persist(WorkspaceSnapshot snapshot)
{
    // The caller's generation does not count: the loaded one does.
    snapshot.generation = (state ? state->generation : 0) + 1;

    // Encoding the snapshot and writing it beside "state.json" take about as
    // long as the validation, and neither shows on the disk until the write
    // is committed: they run on a thread of their own meanwhile. Only a valid
    // snapshot then moves anything into place, in the order of a save: the
    // previous copy first, then the new "state.json". An invalid snapshot
    // leaves the disk and the encodings kept as they were, and its error
    // comes first, as it did when the validation ran before anything else.
    std::exception_ptr stateRefusal;
    std::optional<QUrl> stateURL;
    try {
        stateURL = url(DataRoot::stateFile());
    } catch (const StoreError&) {
        stateRefusal = std::current_exception();
    }
    std::optional<PreparedAtomicWrite> prepared;
    std::exception_ptr writeError;
    const auto prepare = [&] {
        try {
            prepared.emplace(files->prepareAtomicWrite(Json::encode(snapshot, encodings), *stateURL));
        } catch (...) {
            writeError = std::current_exception();
        }
    };
    {
        // Joined before `prepared` is touched, also when the validation throws.
        std::optional<std::jthread> writer;
        if (stateURL) {
            try {
                writer.emplace(prepare);
            } catch (const std::system_error&) {
                // No thread to be had: the write follows the validation.
            }
        }
        validate(snapshot);
        if (stateURL && !writer)
            prepare();
    }
    if (stateRefusal)
        std::rethrow_exception(stateRefusal);
    if (exists(*stateURL))
        files->writeAtomicCopy(*stateURL, url(DataRoot::previousStateFile()));
    if (writeError)
        std::rethrow_exception(writeError);
    prepared->commit();
    encodings.commit();
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
