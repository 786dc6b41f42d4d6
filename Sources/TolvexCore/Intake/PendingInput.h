#pragma once

#include "TolvexCore/Intake/ClipboardFileFingerprint.h"
#include "TolvexCore/Model/ImportRequest.h"

#include <QUuid>

#include <optional>

namespace tolvex {

// One input waiting to be imported. Never persisted.
struct PendingInput {
    ImportRequest request;
    // The group selected when the batch was prepared: a later change of the
    // selection does not move content the user already handed over.
    QUuid matterID;
    // The file as it was when prepared; none for image data and text.
    std::optional<ClipboardFileFingerprint> fingerprint;
};

} // namespace tolvex
