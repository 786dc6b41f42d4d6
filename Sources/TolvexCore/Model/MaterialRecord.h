#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/MaterialEnums.h"
#include "TolvexCore/Model/MaterialVersion.h"
#include "TolvexCore/Model/SourceRecord.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace tolvex {

// One material: a card of the shelf with every stored version of its content.
struct MaterialRecord {
    QUuid id;
    MaterialKind kind = MaterialKind::file;
    QUuid matterID;
    MaterialStatus status = MaterialStatus::hanging;
    bool pinned = false;
    // Position within its group; grows with every admitted card.
    std::int64_t order = 0;
    QString title;
    Date createdAt;
    SourceRecord source;
    QList<MaterialVersion> versions;
    QUuid originalVersionID;
    QUuid activeVersionID;

    // The first version whose id is `activeVersionID`, if any.
    std::optional<MaterialVersion> activeVersion() const;
    // The same without a copy; null when absent.
    const MaterialVersion* findVersion(const QUuid& versionID) const;

    friend bool operator==(const MaterialRecord& a, const MaterialRecord& b);
};

} // namespace tolvex
