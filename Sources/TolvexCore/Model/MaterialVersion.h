#pragma once

#include "TolvexCore/Model/Date.h"
#include "TolvexCore/Model/MaterialEnums.h"

#include <QString>
#include <QUuid>

#include <cstdint>

namespace tolvex {

// One immutable stored payload of a material.
struct MaterialVersion {
    QUuid id;
    // "Materials/<material id>/<version id>.<extension>", relative to the data root.
    QString relativePath;
    // SHA-256 of the payload, 64 lower-case hexadecimal digits.
    QString sha256;
    std::int64_t byteCount = 0;
    VersionKind kind = VersionKind::original;
    Date createdAt;

    friend bool operator==(const MaterialVersion& a, const MaterialVersion& b);
};

} // namespace tolvex
