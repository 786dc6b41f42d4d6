#pragma once

#include "StoreTesting.h"

#include "TolvexCore/Files/FreedesktopTrash.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Cleanup/CleanupCollaborators.h"
#include "TolvexCore/Model/CleanupReceipt.h"
#include "TolvexCore/Store/Cleanup/StagingInventory.h"
#include "TolvexCore/Store/Cleanup/StorageCleanupExecutor.h"
#include "TolvexCore/Store/Cleanup/StorageCleanupPlanner.h"

#include <QDirIterator>
#include <QHash>

#include <fcntl.h>
#include <sys/stat.h>

#include <cmath>
#include <optional>
#include <stdexcept>

namespace tolvex::testing {

// Stands in for the note drafts and the edit sessions: the drafts it lists
// and the dispositions it gives are the test's. A session it does not know
// is refused as a session the store cannot read back.
struct PendingWork {
    QList<NoteDraft> drafts;
    QHash<QUuid, std::pair<EditSession, EditSessionDisposition>> sessions;
    // The drafts and sessions open windows hold.
    QSet<QUuid> held;

    CleanupCollaborators collaborators() const
    {
        CleanupCollaborators collaborators = CleanupCollaborators::standard();
        collaborators.noteDrafts = [drafts = drafts](StoreContext&) { return drafts; };
        collaborators.editSessionDisposition = [sessions = sessions](StoreContext&, const QUuid& id,
                                                   const WorkspaceSnapshot&) {
            if (!sessions.contains(id))
                throw StoreError::recoveryRequired();
            return sessions.value(id);
        };
        return collaborators;
    }
};

inline NoteDraft draftOf(const QUuid& materialID, const QString& text, std::optional<std::uint64_t> publishedRevision)
{
    NoteDraft draft;
    draft.id = QUuid::createUuid();
    draft.materialID = materialID;
    draft.matterID = MatterGroup::ungroupedID();
    draft.text = text;
    draft.revision = 3;
    draft.publishedRevision = publishedRevision;
    draft.updatedAt = Date::now();
    return draft;
}

inline QStringList pathsOf(const QList<CleanupTarget>& targets)
{
    QStringList paths;
    for (const CleanupTarget& target : targets)
        paths.append(target.relativePath);
    return paths;
}

inline const CleanupTarget* targetAt(const StorageCleanupPlan& plan, const QString& relativePath)
{
    for (const CleanupTarget& target : plan.targets) {
        if (target.relativePath == relativePath)
            return &target;
    }
    return nullptr;
}

class CleanupTestCase : public StoreTestCase {
protected:
    // Sets the modification date of an item (not following a link); relative paths are in the data root.
    void setModified(const QString& itemPath, const Date& date) const
    {
        const QString absolute = itemPath.startsWith(u'/') ? itemPath : path(itemPath);
        const double seconds = date.unixSeconds();
        const timespec times[2] = {{0, UTIME_OMIT},
            {static_cast<time_t>(std::floor(seconds)), static_cast<long>((seconds - std::floor(seconds)) * 1e9)}};
        if (::utimensat(AT_FDCWD, QFile::encodeName(absolute).constData(), times, AT_SYMLINK_NOFOLLOW) != 0)
            throw std::runtime_error("cannot date " + absolute.toStdString());
    }

    // The modification date as the file layer reports it.
    Date modified(const QString& relativePath) const
    {
        return SystemFileOperations().inspect(QUrl::fromLocalFile(path(relativePath))).modificationDate;
    }

    // An export file, last modified at `date`.
    void writeExport(const QString& name, const QByteArray& bytes, const Date& date)
    {
        builder().writeFile(QStringLiteral("Exports/") + name, bytes);
        setModified(QStringLiteral("Exports/") + name, date);
    }

    // A staging file as an interrupted commit leaves it; returns its relative path.
    QString writeStaging(const QByteArray& bytes, const QUuid& id = QUuid::createUuid())
    {
        const QString relativePath = QStringLiteral("Transactions/") + uuidText(id) + QStringLiteral(".stage");
        builder().writeFile(relativePath, bytes);
        return relativePath;
    }

    // The folder of an edit session with its record and working file (the
    // stand-in decides its disposition).
    EditSession writeSession(const QUuid& materialID, const QByteArray& working)
    {
        EditSession session;
        session.id = QUuid::createUuid();
        session.materialID = materialID;
        session.baseVersionID = builder().material(materialID).activeVersionID;
        const QString folder = QStringLiteral("Drafts/") + uuidText(session.id);
        session.workingURL = builder().url(folder + QStringLiteral("/working.txt"));
        session.kind = VersionKind::textEdit;
        builder().writeFile(folder + QStringLiteral("/working.txt"), working);
        builder().writeFile(folder + QStringLiteral("/session.json"), Json::encode(session));
        return session;
    }

    template <typename Work>
    auto onStore(MaterialStore& store, Work&& work)
    {
        return waitForResult(store.executor().run(std::forward<Work>(work)));
    }

    StorageCleanupPlan planWith(MaterialStore& store, const PendingWork& work, const Date& now = Date::now())
    {
        return onStore(store, [collaborators = work.collaborators(), now, held = work.held](StoreContext& context) {
            return StorageCleanupPlanner(context, collaborators).previewStorageCleanup(now, held);
        });
    }

    StagingInventory::Result inventoryWith(MaterialStore& store, const PendingWork& work = {})
    {
        return onStore(store, [collaborators = work.collaborators()](StoreContext& context) {
            return StagingInventory(context, collaborators).stagingRecoveryInventory(context.ensureLoaded());
        });
    }

    static StorageCleanupPlan preview(MaterialStore& store, const Date& now = Date::now())
    {
        return waitForResult(store.previewStorageCleanup(now));
    }
    static StorageCleanupPlan preview(MaterialStore& store, const QSet<QUuid>& held)
    {
        return waitForResult(store.previewStorageCleanup(Date::now(), held));
    }

    static StorageCleanupResult clean(MaterialStore& store, const StorageCleanupPlan& plan)
    {
        return waitForResult(store.cleanStorage(plan));
    }

    QStringList receiptFiles() const
    {
        return QDir(path(QStringLiteral("CleanupRecords"))).entryList(QDir::Files | QDir::Hidden);
    }

    // The fingerprints of any item, through the real file layer and the store's own walk.
    static QList<CleanupFingerprint> fingerprintsAt(const QString& absolutePath)
    {
        StoreContext context(QUrl::fromLocalFile(QDir::tempPath() + QStringLiteral("/unused-root")),
            SystemFileOperations::shared(), roomyBudget());
        return StorageCleanupPlanner(context).cleanupFingerprints(QUrl::fromLocalFile(absolutePath));
    }

    // Where the home Trash put an item that lay at `originalPath`, found
    // through the Trash's own records; none when it holds no such item.
    static std::optional<QString> trashedCopyOf(const QString& originalPath)
    {
        const QString trash = QString::fromStdString(FreedesktopTrash::forCurrentUser().homeTrashDirectory());
        const QString resolvedParent = QFileInfo(QFileInfo(originalPath).absolutePath()).canonicalFilePath();
        const QString wanted = (resolvedParent.isEmpty() ? QFileInfo(originalPath).absolutePath() : resolvedParent)
            + u'/' + QFileInfo(originalPath).fileName();
        QDirIterator records(trash + QStringLiteral("/info"), {QStringLiteral("*.trashinfo")}, QDir::Files);
        while (records.hasNext()) {
            const QString record = records.next();
            QFile file(record);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& line : file.readAll().split('\n')) {
                if (!line.startsWith("Path="))
                    continue;
                const QString recordedPath = QString::fromUtf8(QByteArray::fromPercentEncoding(line.mid(5)));
                if (recordedPath == wanted || recordedPath == originalPath) {
                    const QString name = QFileInfo(record).completeBaseName();
                    return trash + QStringLiteral("/files/") + name;
                }
            }
        }
        return std::nullopt;
    }
};

} // namespace tolvex::testing
