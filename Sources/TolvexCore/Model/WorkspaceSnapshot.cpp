#include "TolvexCore/Model/WorkspaceSnapshot.h"

namespace tolvex {

const MaterialRecord* WorkspaceSnapshot::findMaterial(const QUuid& id) const
{
    for (const MaterialRecord& material : materials) {
        if (material.id == id)
            return &material;
    }
    return nullptr;
}

MaterialRecord* WorkspaceSnapshot::findMaterial(const QUuid& id)
{
    for (MaterialRecord& material : materials) {
        if (material.id == id)
            return &material;
    }
    return nullptr;
}

bool operator==(const WorkspaceSnapshot& a, const WorkspaceSnapshot& b)
{
    return a.schemaVersion == b.schemaVersion && a.generation == b.generation && a.materials == b.materials
        && a.matters == b.matters && a.selectedMatterID == b.selectedMatterID && a.privacyHidden == b.privacyHidden
        && a.captureFolder == b.captureFolder;
}

} // namespace tolvex
