#pragma once

#include "StoreTesting.h"
#include "Support/ImageFixtures.h"
#include "TolvexCore/Model/UuidText.h"
#include "TolvexCore/Store/Internal/EditSessions.h"

#include <QSet>

namespace tolvex::testing {

// A data root with text and image materials and helpers for edit sessions.
class EditTestCase : public StoreTestCase {
protected:
    static QByteArray png(int size = 8) { return test::encodeImage(test::patternImage(size, size), "png"); }

    MaterialRecord& addText(const QByteArray& text, MaterialStatus status = MaterialStatus::hanging)
    {
        return builder().addMaterial(text, status);
    }
    MaterialRecord& addImage(const QByteArray& bytes = png())
    {
        MaterialRecord& record = builder().addMaterial(bytes, MaterialStatus::hanging, QStringLiteral("png"));
        record.kind = MaterialKind::image;
        return record;
    }

    static QString folderOf(const EditSession& session) { return QStringLiteral("Drafts/") + uuidText(session.id); }
    static QString journalOf(const EditSession& session)
    {
        return QStringLiteral("Transactions/") + uuidText(session.id) + QStringLiteral(".json");
    }
    QString workingPathOf(const EditSession& session) const { return session.workingURL.toLocalFile(); }
    QByteArray workingBytes(const EditSession& session) const
    {
        QFile file(workingPathOf(session));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    static EditSession create(MaterialStore& store, const QUuid& materialID, VersionKind kind)
    {
        return waitForResult(store.createDerivedVersion(materialID, kind));
    }
    static void write(MaterialStore& store, const EditSession& session, const QByteArray& data)
    {
        waitForResult(store.writeEditingResult(session, data));
    }
    static WorkspaceSnapshot save(MaterialStore& store, const EditSession& session)
    {
        return waitForResult(store.finishEditing(session, EditResult::save(session.workingURL)));
    }
    static QList<EditSession> pending(MaterialStore& store) { return waitForResult(store.pendingEditSessions()); }
    static EditSessionDisposition disposition(MaterialStore& store, const QUuid& sessionID)
    {
        return waitForResult(store.executor().run([sessionID](StoreContext& context) {
            return EditSessions(context).editSessionDisposition(sessionID, context.ensureLoaded()).second;
        }));
    }

    // Every file of the data root with its bytes, for "nothing changed" checks.
    QHash<QString, QByteArray> filesWithBytes() const
    {
        QHash<QString, QByteArray> files;
        for (const QString& entry : entries()) {
            if (QFileInfo(path(entry)).isFile())
                files.insert(entry, bytes(entry));
        }
        return files;
    }
};

} // namespace tolvex::testing
