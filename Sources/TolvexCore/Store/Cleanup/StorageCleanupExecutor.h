#pragma once

#include "TolvexCore/Model/CleanupReceipt.h"
#include "TolvexCore/Model/JsonCoding.h"
#include "TolvexCore/Store/Cleanup/CleanupCollaborators.h"
#include "TolvexCore/Store/StorageCleanupPlan.h"
#include "TolvexCore/Store/StorageCleanupResult.h"

#include <QString>
#include <QUrl>

#include <exception>

namespace tolvex {

class StoreContext;

// Carries out a storage cleanup the user previewed and confirmed. Nothing is
// deleted: each confirmed target goes to the system Trash, and only after a
// fresh plan has shown it to be exactly what the user saw. The receipt in
// "CleanupRecords" is written before anything changes and rewritten before
// every move, each write also recording the targets handled since the last,
// and once at the end, so that an interrupted cleanup leaves a record of each
// target:
// - no outcome: the target was never touched;
// - an outcome with the error "interrupted": its move was about to start
//   when the cleanup stopped; it is either still in place or in the Trash,
//   whose own record names its original path;
// - any other outcome: what became of it.
// A material with an unfinished draft the plan does not confirm stays where
// it is, whoever put the plan together: the draft still needs it.
// Materials whose folders go are marked trashed (saved twice, so that the
// previous snapshot holds the mark too) before the first move, and get their
// old status back only when their move failed with the folder still in place.
class StorageCleanupExecutor {
public:
    explicit StorageCleanupExecutor(StoreContext& context,
        CleanupCollaborators collaborators = CleanupCollaborators::standard());

    // The caller holds `busy`. sourceChanged when the data root no longer
    // matches the confirmed plan; nothing is written then.
    StorageCleanupResult cleanStorage(const StorageCleanupPlan& plan);

    // What an outcome records of an error: a StoreError's case name, a file
    // error's errno name and description.
    static QString describe(std::exception_ptr error);

    // The error text of the outcome written before a move and replaced after it.
    static constexpr const char* interruptedError = "interrupted";

private:
    // The confirmed targets to carry out, in order: a material target
    // waiting for a draft of its material that the plan leaves in place is
    // passed over (neither moved, marked nor in the receipt).
    QList<CleanupTarget> confirm(const StorageCleanupPlan& plan);
    void writeReceipt(const Json::CleanupReceiptEncoding& encoding, const CleanupReceipt& receipt, const QUrl& location);

    StoreContext& context_;
    CleanupCollaborators collaborators_;
};

} // namespace tolvex
