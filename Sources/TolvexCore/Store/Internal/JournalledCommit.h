#pragma once

#include "TolvexCore/Content/StagedContent.h"
#include "TolvexCore/Model/MaterialVersion.h"
#include "TolvexCore/Model/StoreJournal.h"

#include <QUuid>

namespace tolvex {

class StoreContext;

// The one road of new content into "Materials", shared by the import, the
// publication of a changed note and the finishing of an edit: the journal
// with phase "contentReady" naming the record that will hold the version, the
// move of the staged payload, the journal rewritten with "contentCommitted".
// A crash between any two steps leaves what the load's journal replay takes in.
namespace JournalledCommit {

// The version a commit of `staged` into `materialID` records. Made before
// the journal is written, since the journal must already name it.
MaterialVersion plannedVersion(const StagedContent& staged, const QUuid& materialID, VersionKind kind);

// Writes `journal` (whose record holds the planned version) with phase
// "contentReady". Nothing has moved yet when this fails.
void announce(StoreContext& context, StoreJournal& journal);

// After `announce`: commits the payload and rewrites the journal with phase
// "contentCommitted". Returns the version as the content store committed it;
// recoveryRequired when that is not the planned one, so the journal never
// names a payload that lies elsewhere. From the move on, the disk may hold
// more than the loaded workspace knows.
MaterialVersion complete(StoreContext& context, const StagedContent& staged, StoreJournal& journal,
    const MaterialVersion& planned);

} // namespace JournalledCommit

} // namespace tolvex
