#pragma once

#include "TolvexCore/Store/Internal/DestinationGuard.h"

#include <QUrl>

namespace tolvex {

struct StoreContext;

// Copies a file the store owns to a destination its caller has checked with
// DestinationGuard. The destination is reached through folders opened one by
// one without following links: from "Exports" for a place inside the data
// root (creating the missing folders below it), from "/" for a place outside
// (where the guard allowed no link at all, and no folder is made). A folder
// swapped for a link after the check (while the budget was walked, say)
// then stops the copy with StoreError::invalidPath() instead of letting it
// land wherever the link points, the data root's own folders included.
// An existing destination fails with EEXIST, as the file layer reports it.
void copyToCheckedDestination(const StoreContext& context, const QUrl& source, const DestinationPlacement& placement);

} // namespace tolvex
