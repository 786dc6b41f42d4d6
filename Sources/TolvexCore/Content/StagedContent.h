#pragma once

#include "TolvexCore/Model/MaterialEnums.h"
#include "TolvexCore/Model/SourceRecord.h"

#include <QString>
#include <QUrl>

#include <cstdint>

namespace tolvex {

// A payload written under "Transactions" and waiting to be committed into
// "Materials". In memory only.
struct StagedContent {
    // "Transactions/<NEW-UPPER-UUID>.stage" under the data root.
    QUrl stagingURL;
    // The provenance to store with the material.
    SourceRecord source;
    MaterialKind kind = MaterialKind::file;
    // The staging file's size as inspected after it was written.
    std::int64_t byteCount = 0;
    // SHA-256 of the staging file, 64 lower-case hexadecimal digits.
    QString sha256;
    // The payload file's extension, without the dot.
    QString fileExtension;
    // The proposed title of a new material.
    QString title;

    friend bool operator==(const StagedContent&, const StagedContent&) = default;
};

} // namespace tolvex
