#pragma once

#include "TolvexCore/Model/CaptureFolderSetting.h"
#include "TolvexCore/Model/MaterialRecord.h"
#include "TolvexCore/Model/MatterGroup.h"

#include <QList>
#include <QUuid>

#include <cstdint>
#include <optional>

namespace tolvex {

// The whole persisted workspace, saved as "state.json". A default-constructed
// snapshot is the empty workspace: schema 1, generation 0, no materials, the
// ungrouped group alone and selected, not hidden, no capture folder.
struct WorkspaceSnapshot {
    std::int64_t schemaVersion = 1;
    std::uint64_t generation = 0;
    QList<MaterialRecord> materials;
    QList<MatterGroup> matters{MatterGroup::ungrouped()};
    QUuid selectedMatterID = MatterGroup::ungroupedID();
    bool privacyHidden = false;
    std::optional<CaptureFolderSetting> captureFolder;

    // The first material with this id; null when none.
    const MaterialRecord* findMaterial(const QUuid& id) const;
    MaterialRecord* findMaterial(const QUuid& id);

    friend bool operator==(const WorkspaceSnapshot& a, const WorkspaceSnapshot& b);
};

} // namespace tolvex
