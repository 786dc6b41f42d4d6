#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/CleanupTarget.h"

#include <QList>
#include <QString>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace tolvex {

// The written record of one confirmed cleanup: "CleanupRecords/<new id>.json".
struct CleanupReceipt {
    static constexpr const char* standardAuthorization =
        "Confirmed storage-cleanup preview in Settings; move copies to system Trash";

    struct Outcome {
        // Absolute path of the target's place in the data root.
        QString originalPath;
        std::optional<QUrl> trashURL;
        // Found in the Trash with exactly the planned fingerprints.
        bool verified = false;
        // The error that stopped the target; a StoreError's case name.
        std::optional<QString> error;
    };

    // The confirmed plan's id.
    QUuid id;
    Date createdAt;
    QString authorization = QString::fromUtf8(standardAuthorization);
    WorkspaceSnapshot snapshotBefore;
    QList<CleanupTarget> targets;
    QList<Outcome> outcomes;
};

} // namespace tolvex
