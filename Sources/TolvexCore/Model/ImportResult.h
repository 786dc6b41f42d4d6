#pragma once

#include "TolvexCore/Model/ImportDisposition.h"
#include "TolvexCore/Model/WorkspaceSnapshot.h"

namespace tolvex {

// An import's disposition with the workspace after the call, changed or not.
struct ImportResult {
    ImportDisposition disposition = ImportDisposition::shelfFull();
    WorkspaceSnapshot snapshot;

    friend bool operator==(const ImportResult&, const ImportResult&) = default;
};

} // namespace tolvex
