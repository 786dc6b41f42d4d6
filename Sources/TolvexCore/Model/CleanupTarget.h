#pragma once

#include "TolvexCore/Model/RawEnum.h"
#include "TolvexCore/Model/CleanupFingerprint.h"

#include <QList>
#include <QString>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace tolvex {

// One item a storage cleanup would move to the Trash.
struct CleanupTarget {
    enum class Kind {
        // "Materials/<id>" of a taken-down or trashed material.
        material,
        // An entry of "Exports" older than the export cutoff.
        temporaryExport,
        // "Drafts/<id>" of an edit session whose result is committed.
        completedEdit,
        // A staging file in "Transactions" that no pending work owns.
        unownedStaging,
        // "Drafts/<id>" of a pending edit session or note draft that no open
        // window holds: abandoned work the user may put in the Trash.
        pendingDraft,
    };

    Kind kind = Kind::material;
    std::optional<QUuid> materialID;
    QString title;
    // Relative to the data root; identifies the target within a plan.
    QString relativePath;
    // Sum of the file fingerprints' bytes.
    std::int64_t byteCount = 0;
    // Number of file fingerprints (folders not counted).
    std::int64_t fileCount = 0;
    // The target first, then every item below it, depth first, names ascending.
    QList<CleanupFingerprint> fingerprints;

    friend bool operator==(const CleanupTarget& a, const CleanupTarget& b);
};

template <>
struct RawEnumTraits<CleanupTarget::Kind> {
    static constexpr std::array<std::string_view, 5> rawValues{"material", "temporaryExport", "completedEdit",
        "unownedStaging", "pendingDraft"};
};

} // namespace tolvex
