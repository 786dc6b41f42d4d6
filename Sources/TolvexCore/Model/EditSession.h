#pragma once

#include "TolvexCore/Model/MaterialEnums.h"

#include <QUrl>
#include <QUuid>

namespace tolvex {

// An open edit that will produce a derived version; stored as
// "Drafts/<id>/session.json" beside its working file "Drafts/<id>/working.<ext>".
struct EditSession {
    QUuid id;
    QUuid materialID;
    // The version the edit builds on.
    QUuid baseVersionID;
    // Absolute file URL of the working copy.
    QUrl workingURL;
    // textEdit or markup.
    VersionKind kind = VersionKind::textEdit;

    friend bool operator==(const EditSession& a, const EditSession& b);
};

} // namespace tolvex
