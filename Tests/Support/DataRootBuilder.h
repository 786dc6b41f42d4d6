#pragma once

#include "TolvexCore/Model/StoreJournal.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

#include <QByteArray>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace tolvex::testing {

// Writes data roots, in every state the store must cope with, straight to
// disk (not through the file layer under test). Build the snapshot with the
// add... calls, then write it with writeState(); the interrupted commits
// leave their journal and payload behind as a crash would.
class DataRootBuilder {
public:
    // `rootPath` is created with the four folders of a data root.
    explicit DataRootBuilder(const QString& rootPath);

    const QString& rootPath() const { return rootPath_; }
    QUrl rootURL() const;
    QString path(const QString& relativePath) const;
    QUrl url(const QString& relativePath) const;

    WorkspaceSnapshot& snapshot() { return snapshot_; }
    const WorkspaceSnapshot& snapshot() const { return snapshot_; }

    // A material with one original payload, written to "Materials/<id>/<version>.<extension>".
    MaterialRecord& addMaterial(const QByteArray& payload, MaterialStatus status = MaterialStatus::hanging,
        const QString& extension = QStringLiteral("txt"), const QUuid& matterID = {},
        ImportOrigin origin = ImportOrigin::clipboard);
    // A further version of a material already added, written and made active.
    MaterialVersion addVersion(const QUuid& materialID, const QByteArray& payload,
        VersionKind kind = VersionKind::textEdit);
    MatterGroup addMatter(const QString& name);
    MaterialRecord& material(const QUuid& id);

    // "state.json" with the builder's snapshot at the given generation.
    void writeState(std::uint64_t generation = 1);
    void writeStateBytes(const QByteArray& bytes);
    // "state.previous.json" with the given snapshot.
    void writePreviousState(const WorkspaceSnapshot& snapshot);
    void writePreviousStateBytes(const QByteArray& bytes);

    // The states a crash or a user can leave behind:
    // an import that wrote its journal; with `payloadMoved` its payload
    // reached "Materials", else it still lies staged in "Transactions".
    MaterialRecord interruptedImport(const QByteArray& payload, StoreJournal::Phase phase, bool payloadMoved = true,
        const QUuid& matterID = {});
    // An edit of a material that moved its new version but did not save.
    MaterialVersion interruptedEdit(const QUuid& materialID, const QByteArray& payload,
        StoreJournal::Phase phase = StoreJournal::Phase::contentCommitted, bool payloadMoved = true);
    // Rewrites a payload with other bytes of the same size.
    void alterPayload(const MaterialVersion& version);
    // A "state.json" whose "schemaVersion" is 2 (otherwise a valid snapshot).
    void writeSchemaVersion2();
    // Only "state.previous.json", holding the builder's snapshot.
    void writeOnlyPreviousState(std::uint64_t generation = 1);
    // The builder's snapshot as "state.previous.json" and a truncated "state.json".
    void writeDamagedStateWithPrevious(std::uint64_t generation = 1);
    // A symbolic link inside "Materials" standing for a material's folder
    // (pointing at a copy outside the data root); returns the link's path.
    QString plantMaterialsLink(const QUuid& materialID);

    // Raw files, for anything else.
    void writeFile(const QString& relativePath, const QByteArray& bytes);
    QByteArray readFile(const QString& relativePath) const;
    bool fileExists(const QString& relativePath) const;
    void writeJournal(const StoreJournal& journal, const std::optional<QString>& fileName = std::nullopt);

    static QString payloadPath(const QUuid& materialID, const QUuid& versionID, const QString& extension);
    static QString digest(const QByteArray& bytes);

private:
    QUuid matterOrDefault(const QUuid& matterID) const;

    QString rootPath_;
    WorkspaceSnapshot snapshot_;
};

} // namespace tolvex::testing
