#pragma once

#include "TolvexCore/Content/ContentStore.h"
#include "TolvexCore/Files/DataRootLock.h"
#include "TolvexCore/Files/FileOperations.h"
#include "TolvexCore/Content/OwnedPaths.h"
#include "TolvexCore/Model/Json/MaterialEncodingCache.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Model/StorageBudget.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/StoreError.h"
#include "TolvexCore/Store/Internal/BudgetFolderCache.h"

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <atomic>
#include <cstdint>
#include <optional>
#include <system_error>

namespace tolvex {

class GuardedPathCache;

// The state of the store and the private operations its parts share. It is
// touched only on the store's executor (StoreExecutor), so nothing here locks.
// Each group of store operations (loading, restore, payload access, clipboard
// settings, the import, commands, note drafts...) is a class of its own that
// works on one StoreContext; MaterialStore only queues them.
class StoreContext {
public:
    // Without a lock, the first operation takes it (holdRoot).
    StoreContext(const QUrl& root, FileOperationsRef files, StorageBudget budget,
        std::optional<DataRootLock> lock = std::nullopt);

    // The data root and its anchor; every store path is resolved through it.
    const OwnedPaths paths;
    // The file layer; safe to call from any thread.
    const FileOperationsRef files;
    const StorageBudget budget;
    // The loaded workspace; absent until the first successful load and after
    // a failed commit dropped it.
    std::optional<WorkspaceSnapshot> state;
    // Whether "state.json" existed when the last successful load began.
    bool loadedExistingWorkspace = false;
    // Set while an operation that holds the store runs. Written on the
    // executor only; read from any thread as well, so that a caller can tell
    // a busy store without queueing a question behind it.
    class BusyFlag {
    public:
        BusyFlag() = default;
        BusyFlag(const BusyFlag& other) : value_(other.value_.load()) {}
        BusyFlag& operator=(bool value)
        {
            value_.store(value);
            return *this;
        }
        operator bool() const { return value_.load(); }

    private:
        std::atomic<bool> value_{false};
    };
    BusyFlag busy;
    // Note materials with a continuation draft made in this run and not yet published.
    QSet<QUuid> activeNoteMaterials;
    // Staging and commit over the same root and file layer. Immutable, so a
    // staging step may use it off the actor.
    const ContentStore content;
    // The JSON of the records as the last save wrote them, reused for those
    // the next save finds unchanged.
    Json::MaterialEncodingCache encodings;
    // What the last storage budget check learned of the folders it counts.
    // Checking the budget is a question, not a change of the store, so it is
    // kept even through the const context the question is asked on.
    mutable BudgetFolderCache budgetFolders;

    // operationInProgress while `busy` is set.
    void requireIdle() const;
    // The lock on the data root as every store takes it, also for a caller
    // that takes it before the store exists (MaterialStore::lockDataRoot):
    // invalidPath, with nothing made or locked, for a root that is not at its
    // anchor (a link, or a link above it that changed); else the lock of the
    // standardized root, which never follows a link at its end.
    static DataRootLock lockRoot(const OwnedPaths& paths);
    // Makes sure this store owns the data root before anything in it is read
    // or written: every operation, and the second half of one that
    // suspended, starts here. The first call takes the lock; when another
    // holder has it, this call and every later one throw the lock's
    // std::system_error (EWOULDBLOCK) and the store never touches the root.
    // A root that is not at its anchor is not locked: the operation's own
    // first step refuses it (invalidPath) before reading anything, as it did
    // before there was a lock, and a link is never followed to lock what lies
    // behind it. Once locked, each call checks that the root's path still
    // names the locked folder (one lstat); when it does not, the folder was
    // moved or replaced behind the store's back, and this call and every
    // later one throw rootReplaced: the store's cached workspace belongs to
    // the folder it holds, and whatever now stands at the path may belong to
    // another program. Between two checks, the file layer reaches every item
    // below the root's path through the locked folder itself (HeldFolders),
    // so the writes of an operation under way when the folder is replaced
    // land in the folder it began in, never in what stands at the path.
    void holdRoot();
    // Gives the lock up, once no operation of this store can run any more.
    // A staging job on the shared pool may still hold the context for a
    // moment after its last half ended; the root is free all the same.
    void releaseRoot() { rootLock_.reset(); }

    // The guarded URL of a path relative to the data root (invalidPath on refusal).
    QUrl url(const QString& relativePath) const { return paths.url(relativePath); }
    // True when the item can be inspected, whatever it is; false when it is
    // missing; any other file error is thrown on.
    bool exists(const QUrl& url) const;
    // invalidPath unless the data root, links resolved, is its anchor.
    void checkRoot() const;
    // Creates the data root and its four folders, checking the guard around each.
    void prepareDirectories() const;
    // The entries of a folder of the data root, less the temporary files that
    // interrupted atomic writes leave behind: those are never material, and
    // nothing that judges a folder by its entries may trip over one.
    QList<QUrl> list(const QUrl& folder) const;
    // The names of the same entries (FileOperations::listNames), the same leftovers left out.
    QStringList listNames(const QUrl& folder) const;
    // Removes such leftovers from every folder the store writes records into:
    // the root, "Transactions", "Drafts" and each folder in it, and
    // "CleanupRecords". Only a load calls it, when no write of this store can
    // be under way.
    void removeAtomicWriteLeftovers() const;

    // Reads and decodes a record the store wrote (a journal, a draft, a
    // session, a snapshot copy). Stored state that cannot be read back is not
    // trusted: a read or decoding failure becomes `failure`.
    template <typename Record>
    Record readRecord(const QUrl& url, const StoreError& failure = StoreError::recoveryRequired()) const
    {
        QByteArray bytes;
        try {
            bytes = files->read(url);
        } catch (const std::system_error&) {
            throw failure;
        }
        try {
            return Json::decode<Record>(bytes);
        } catch (const Json::DecodingError&) {
            throw failure;
        }
    }

    // The ids of the draft folders in "Drafts", in listing order: real
    // folders named as the store names them (DataRoot::draftFolderID).
    // Whatever else lies there (".DS_Store", a folder or file of another
    // name, a file or link named like an id) is not a draft and is left
    // alone by every part that looks for drafts.
    QList<QUuid> draftFolderIDs() const;

    // The names of the journal files in "Transactions" (extension "json"),
    // in the order the folder lists them; staging files and anything else
    // are left out.
    QStringList journalFileNames() const;

    // The loaded workspace, loading it from disk (with the journal replay) when absent.
    WorkspaceSnapshot ensureLoaded();
    // Drops the loaded workspace, so that the next operation reads the disk again.
    void dropWorkspace() { state.reset(); }

    // The snapshot rules (invalidSnapshot, or the guard's error).
    void validate(const WorkspaceSnapshot& snapshot) const;
    // The record rules (invalidSnapshot, or the guard's error). A cache, when
    // given, lets the rules of many records share the resolution of folders.
    void validateRecord(const MaterialRecord& record, GuardedPathCache* cache = nullptr) const;

    // Saves the snapshot with the next generation and the previous copy of
    // "state.json"; returns the saved snapshot. On failure nothing cached changes.
    WorkspaceSnapshot persist(WorkspaceSnapshot snapshot);

    // The verified file of a version (the active one when none is given).
    QUrl payloadURL(const QUuid& materialID, const std::optional<QUuid>& versionID = std::nullopt);

    // Bytes held by the files below a folder of the data root.
    std::int64_t retainedBytes(const QString& relativePath) const;
    // budgetExceeded (or unavailableSpace, invalidPath) unless `bytes` more fit the budget.
    void checkBudget(std::int64_t bytes) const;

private:
    // Held for the life of the store.
    std::optional<DataRootLock> rootLock_;
    // The refusal of the lock, kept: another holder owned this root when
    // this store first came to it, and the store stays out of it for good.
    std::optional<std::system_error> rootLockRefusal_;
    // Set once the root's path was found naming another folder than the
    // locked one; never cleared.
    bool rootReplaced_ = false;
};

} // namespace tolvex
