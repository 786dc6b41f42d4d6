#pragma once

#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/RawEnum.h"

#include <QUuid>

#include <optional>

namespace tolvex {

// The write-ahead record of one content commit (an import, a note publication
// or the saving of an edit), stored as "Transactions/<id>.json".
struct StoreJournal {
    enum class Phase {
        // The staged payload was checked; it may or may not have been moved yet.
        contentReady,
        // The payload lies at its final path in "Materials".
        contentCommitted,
    };

    QUuid id;
    Phase phase = Phase::contentReady;
    // The material record the commit produces.
    MaterialRecord record;
    // Absent for an import; the base of an edit; the prior active version of a continued note.
    std::optional<QUuid> baseVersionID;

    // "Transactions/" + upper-case id + ".json".
    QString relativePath() const;
};

template <>
struct RawEnumTraits<StoreJournal::Phase> {
    static constexpr std::array<std::string_view, 2> rawValues{"contentReady", "contentCommitted"};
};

} // namespace tolvex
