#pragma once

#include "TolvexCore/Model/EditSession.h"

#include <QList>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace tolvex {

// What the recovery window lists of the edit sessions in "Drafts": those
// that can be resumed, and those whose folder the store cannot take for a
// session of this library (a record that does not decode, or that names a
// working file other than its own folder's). An unreadable one is still the
// user's work: it can be copied out or discarded, never resumed.
struct EditSessionReview {
    struct Unreadable {
        QUuid id;
        // The material its record names, when the record decodes and the
        // workspace holds that material.
        std::optional<QUuid> materialID;
        // The folder's own working file ("working" or "working.<ext>", a
        // plain file), when it holds exactly one.
        std::optional<QUrl> workingFile;

        friend bool operator==(const Unreadable&, const Unreadable&) = default;
    };

    // By ascending id text, as pendingEditSessions lists them.
    QList<EditSession> pending;
    // By ascending id text.
    QList<Unreadable> unreadable;
};

} // namespace tolvex
