#pragma once

#include "TolvexCore/Model/WorkspaceSnapshot.h"
#include "TolvexCore/Model/CancellationError.h"

#include <QUrl>
#include <QUuid>

#include <optional>

namespace tolvex {

class StoreContext;

// Copies of stored payloads handed out to the user: into "Exports" (or a
// folder below it) inside the data root, or anywhere outside it. A copy is
// verified by size and SHA-256, never replaces an existing file and is not
// recorded anywhere; a copy that fails verification stays where it is.
//
// Runs on the store's actor; the caller holds `busy` for the whole call.
class ExportCopies {
public:
    explicit ExportCopies(StoreContext& context) : context_(context) {}

    // The standardized destination, where the verified copy now lies.
    // invalidPath for a destination inside the data root but not below
    // "Exports", one equal to a material's source file, and one reached
    // through a symbolic link; an existing destination is the file layer's
    // EEXIST; sourceChanged when the copy does not match the payload.
    QUrl exportCopy(const QUuid& materialID, const std::optional<QUuid>& versionID, const QUrl& destination,
        const CancellationToken& cancellation = {});

private:
    // invalidPath when the destination is the recorded source file of any material.
    static void refuseSourceFiles(const WorkspaceSnapshot& snapshot, const QString& destinationPath);

    StoreContext& context_;
};

} // namespace tolvex
